/*
 * board_ports: opens the first controller board on USB by its serial number
 * (C0000001 unless one is given), writes a port and reads it back, and says
 * what each failing call returned.
 *
 *   cc -o board_ports board_ports.c $(pkg-config --cflags --libs corvex)
 */
#include <stdio.h>

#include "corvex.h"
#include "corvex_status.h"

static int failed(const char* call, CVX_STATUS status) {
  fprintf(stderr, "%s: %s (0x%08lX)\n", call, CVX_StatusText(status), (unsigned long)status);
  return 1;
}

int main(int argc, char** argv) {
  const char* serial = argc > 1 ? argv[1] : "C0000001";
  const CVX_HANDLE board = CVX_Open(serial);
  if (!board) return failed("CVX_Open", CVX_DEVICE_NOT_FOUND);

  uint8_t value = 0;
  CVX_STATUS status;
  if ((status = CVX_Initialize(board)) != CVX_OK || (status = CVX_PortSetDir(board, 0xFFFFD3, 0xFF)) != CVX_OK ||
      (status = CVX_PortWrite8(board, 0xFFFFD3, 0x3C)) != CVX_OK ||
      (status = CVX_PortRead8(board, 0xFFFFD3, &value)) != CVX_OK) {
    CVX_Close(board);
    return failed("port round trip", status);
  }
  if ((status = CVX_Close(board)) != CVX_OK) return failed("CVX_Close", status);

  printf("Corvex %d.%d.%d: port 0xFFFFD3 reads 0x%02X\n", CVX_VERSION_MAJOR, CVX_VERSION_MINOR, CVX_VERSION_PATCH,
         value);
  return value == 0x3C ? 0 : 1;
}
