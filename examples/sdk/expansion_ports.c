/*
 * expansion_ports: opens the expansion board on USB, initialises it, writes
 * output port A and reads it back, then asks the board library underneath
 * which interface the handle is on. Calls both libraries, links Wexford
 * alone: Corvex comes with it.
 *
 *   cc -o expansion_ports expansion_ports.c $(pkg-config --cflags --libs wexford)
 */
#include <stdio.h>

#include "corvex.h"
#include "wexford.h"
#include "wexford_status.h"

static int failed(const char* call, WXF_STATUS status) {
  fprintf(stderr, "%s: %s (0x%08lX)\n", call, WXF_StatusText(status), (unsigned long)status);
  return 1;
}

int main(void) {
  WXF_HANDLE board = 0;
  WXF_STATUS status = WXF_Open(&board, 0, WXF_TYPE_USB | WXF_TYPE_EXPANSION);
  if (status != WXF_OK) return failed("WXF_Open", status);

  uint8_t value = 0;
  if ((status = WXF_Initialize(board)) != WXF_OK ||
      (status = WXF_PortWrite(board, WXF_PORT_OUTPUT_A, 0x5A, 0xFF)) != WXF_OK ||
      (status = WXF_PortRead(board, WXF_PORT_OUTPUT_A, &value)) != WXF_OK) {
    WXF_Close(board);
    return failed("port round trip", status);
  }
  /* A Wexford handle is a Corvex handle. */
  const uint32_t type = CVX_GetIFType(board);
  if ((status = WXF_Close(board)) != WXF_OK) return failed("WXF_Close", status);

  printf("Wexford %d.%d.%d: port A reads 0x%02X on %s\n", WXF_VERSION_MAJOR, WXF_VERSION_MINOR, WXF_VERSION_PATCH,
         value, (type & CVX_IF_USB) ? "USB" : "the LAN");
  return value == 0x5A ? 0 : 1;
}
