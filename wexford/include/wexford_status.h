/*
 * WXF_StatusText: a status code of the Wexford library as a short English
 * text. The three values Wexford adds read as its own; every other value is
 * Corvex's. Header only: nothing of it is exported.
 */
#ifndef WEXFORD_STATUS_H
#define WEXFORD_STATUS_H

#include "corvex_status.h"
#include "wexford.h"

static inline const char* WXF_StatusText(WXF_STATUS status) {
  switch (status) {
    case WXF_INVALID_ARGUMENT: return "invalid argument";
    case WXF_NOT_SUPPORTED: return "board firmware too old";
    case WXF_NOT_EXPANSION_BOARD: return "not the expansion board";
    default: return CVX_StatusText(status);
  }
}

#endif
