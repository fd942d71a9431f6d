/* A plain C program using the library through its header alone. */
#include <stdio.h>

#include "corvex.h"

#define CHECK(call)                                                      \
  do {                                                                   \
    CVX_STATUS s_ = (call);                                              \
    if (s_ != CVX_OK) {                                                  \
      fprintf(stderr, "%s failed: 0x%08lX\n", #call, (unsigned long)s_); \
      return 1;                                                          \
    }                                                                    \
  } while (0)

int main(void) {
  CVX_HANDLE h = CVX_Open("C0000001");
  uint8_t value = 0;
  if (!h) {
    fprintf(stderr, "no board\n");
    return 1;
  }
  CHECK(CVX_Initialize(h));
  CHECK(CVX_PortSetDir(h, 0xFFFFD3, 0xFF));
  CHECK(CVX_PortWrite8(h, 0xFFFFD3, 0xA5));
  CHECK(CVX_PortRead8(h, 0xFFFFD3, &value));
  if (value != 0xA5) {
    fprintf(stderr, "read back 0x%02X\n", value);
    return 1;
  }
  CHECK(CVX_PortWrite8A(h, 0xFFFFD3, 0x00, 0x0F));
  CHECK(CVX_PortRead8(h, 0xFFFFD3, &value));
  CHECK(CVX_Close(h));
  printf("port round trip: 0x%02X\n", value);
  return value == 0xA0 ? 0 : 1;
}
