// Analog output: conversion timing on timer channels 0 and 1, and the output transfers.
#include "guard.h"
#include "io.h"
#include "peripherals.h"
#include "protocol.h"

using namespace corvex;
using namespace corvex::peripherals;
namespace proto = corvex::protocol;

namespace {

struct Output {
  uint32_t period, control, status, transfer, interrupts_kept;
};
constexpr Output kOutputs[] = {{0xFFFF6C, 0xFFFF68, 0xFFFF24, 0xFFFF27, 0xEE},
                               {0xFFFF74, 0xFFFF70, 0xFFFF34, 0xFFFF37, 0xDD}};

const Output& output(uint32_t select) { return kOutputs[select ? 1 : 0]; }

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_DASetCycle(CVX_HANDLE handle, uint32_t select, uint32_t period, uint32_t clock) {
  return guarded([&] {
    const Output& o = output(select);
    if (CVX_STATUS s = CVX_PortWrite16(handle, o.period, period); s != CVX_OK) return s;
    return CVX_PortWrite8(handle, o.control, 0x20 | (clock & 3));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_DASetParm(CVX_HANDLE handle, uint32_t flag, uint32_t address, uint32_t length,
                                            uint32_t value) {
  return guarded([&] { return command(handle, proto::da_set_parm(flag, address, length, value)); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_DAReadStatus(CVX_HANDLE handle, uint32_t select, uint16_t* status) {
  return guarded([&] {
    if (!status) return CVX_INVALID_ARGUMENT;
    return CVX_PortRead16(handle, output(select).status, status);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_DAStart(CVX_HANDLE handle, uint32_t mask) {
  return guarded([&] { return CVX_TimerStartA(handle, mask & 3, -1, 0, 0); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_DAStop(CVX_HANDLE handle, uint32_t mask) {
  return guarded([&] {
    CVX_TimerStop(handle, mask, -1, 0, 0);  // not checked: the transfers are stopped regardless
    for (uint32_t i = 0; i < 2; ++i) {
      if (!(mask & (1u << i))) continue;
      const Output& o = kOutputs[i];
      uint8_t ignored = 0;
      if (CVX_STATUS s = CVX_PortRead8(handle, o.transfer, &ignored); s != CVX_OK) return s;
      if (CVX_STATUS s = CVX_PortWrite8(handle, o.transfer, 0); s != CVX_OK) return s;
      const uint32_t kept = o.interrupts_kept;
      if (CVX_STATUS s = read_modify_write(handle, kTimerInterruptA, [kept](uint8_t v) { return v & kept; });
          s != CVX_OK)
        return s;
    }
    return CVX_OK;
  });
}

}  // extern "C"
