/*
 * A plain C program using the library through its header alone.
 * c_client [NAME [PORT]]: with no NAME, the USB board C0000001; a NAME with a
 * full stop is a LAN board's address, reached on PORT (the library's own port
 * when PORT is absent).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "corvex.h"

#define CHECK(call)                                                      \
  do {                                                                   \
    CVX_STATUS s_ = (call);                                              \
    if (s_ != CVX_OK) {                                                  \
      fprintf(stderr, "%s failed: 0x%08lX\n", #call, (unsigned long)s_); \
      return 1;                                                          \
    }                                                                    \
  } while (0)

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : "C0000001";
  CVX_HANDLE h = 0;
  uint8_t value = 0;
  if (strchr(name, '.')) {
    if (argc > 2) {
      char* end = NULL;
      const unsigned long port = strtoul(argv[2], &end, 10);
      if (*argv[2] == '\0' || *end != '\0' || port == 0 || port > 65535) {
        fprintf(stderr, "not a port: %s\n", argv[2]);
        return 2;
      }
      CHECK(CVX_SetNetworkPort((uint32_t)port));
    }
    CHECK(CVX_OpenA(&h, name, CVX_IF_LAN));
  } else {
    h = CVX_Open(name);
  }
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
