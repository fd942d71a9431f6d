/*
 * A plain C program using the expansion-board library through its header,
 * linked against it: opens the USB expansion board, initialises it, writes
 * and reads back an output port, and closes it.
 */
#include <stdio.h>

#include "wexford.h"

#define CHECK(call)                                                      \
  do {                                                                   \
    WXF_STATUS s_ = (call);                                              \
    if (s_ != WXF_OK) {                                                  \
      fprintf(stderr, "%s failed: 0x%08lX\n", #call, (unsigned long)s_); \
      return 1;                                                          \
    }                                                                    \
  } while (0)

int main(void) {
  WXF_HANDLE h = 0;
  uint8_t value = 0;
  CHECK(WXF_Open(&h, 0, WXF_TYPE_USB | WXF_TYPE_EXPANSION));
  CHECK(WXF_Initialize(h));
  CHECK(WXF_PortWrite(h, WXF_PORT_OUTPUT_A, 0xA5, 0xFF));
  CHECK(WXF_PortRead(h, WXF_PORT_OUTPUT_A, &value));
  if (value != 0xA5) {
    fprintf(stderr, "read back 0x%02X\n", value);
    return 1;
  }
  /* Only the low four bits change. */
  CHECK(WXF_PortWrite(h, WXF_PORT_OUTPUT_A, 0x00, 0x0F));
  CHECK(WXF_PortRead(h, WXF_PORT_OUTPUT_A, &value));
  CHECK(WXF_Close(h));
  printf("expansion port round trip: 0x%02X\n", value);
  return value == 0xA0 ? 0 : 1;
}
