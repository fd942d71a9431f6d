// The three-channel 16-bit timer: registers, and starts and stops armed on a pulse counter.
#include "guard.h"
#include "io.h"
#include "peripherals.h"

using namespace corvex;
using namespace corvex::peripherals;

namespace {

constexpr uint32_t kLevel = 0xFFFF63;
constexpr uint32_t kClockSelect = 0x07;
// Compare-output targets and values of the two interrupt selections, and the clear flags.
constexpr uint32_t kCompareOutAddress[] = {0x0FFFE790, 0x0FFFE794};
constexpr uint32_t kCompareOutValue[] = {0x0FFFE798, 0x0FFFE799};
constexpr uint32_t kCompareClear = 0x0FFFE79A;

bool valid(uint32_t channel) { return channel <= 2; }
uint32_t control(uint32_t channel) { return 0xFFFF68 + 8 * channel; }
uint32_t io_control(uint32_t channel) { return 0xFFFF69 + 8 * channel; }
uint32_t count(uint32_t channel) { return 0xFFFF6A + 8 * channel; }
uint32_t general_a(uint32_t channel) { return 0xFFFF6C + 8 * channel; }
uint32_t general_b(uint32_t channel) { return 0xFFFF6E + 8 * channel; }

CVX_STATUS set_bits(CVX_HANDLE handle, uint32_t address, uint32_t bits) {
  return read_modify_write(handle, address, [bits](uint8_t v) { return v | bits; });
}
CVX_STATUS clear_bits(CVX_HANDLE handle, uint32_t address, uint32_t bits) {
  return read_modify_write(handle, address, [bits](uint8_t v) { return v & ~bits; });
}

// Arms counter n so that, when it reaches compare, the timers of mask start
// (value = mask) or stop (value = 0): the firmware writes value under the
// counter's timer mask to the start register.
CVX_STATUS arm_counter(CVX_HANDLE handle, uint32_t mask, int32_t counter, uint32_t condition, uint32_t compare,
                       uint32_t value) {
  const uint32_t n = static_cast<uint32_t>(counter) & 3;
  if (CVX_STATUS s = CVX_PCSetCnt(handle, n, 0); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PCSetCmp(handle, n, compare); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PCSetControl(handle, n, condition ? 2 : 0); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PCSetCondBit(handle, n, 0, 0); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PCSetCmpOut(handle, n, kTimerStart, value); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PortWrite8(handle, counter_address(n, kCounterTimerMask), mask); s != CVX_OK) return s;
  return CVX_PCStartA(handle, counter_bit(n));
}

CVX_STATUS write_pair(CVX_HANDLE handle, uint32_t channel, uint32_t a, uint32_t b) {
  if (CVX_STATUS s = CVX_PortWrite16(handle, general_a(channel), a); s != CVX_OK) return s;
  return CVX_PortWrite16(handle, general_b(channel), b);
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerEnable(CVX_HANDLE handle, uint32_t mask, uint32_t flag) {
  return guarded([&] {
    for (uint32_t channel = 0; channel < 2; ++channel) {
      if (!(mask & (1u << channel))) continue;
      if (CVX_STATUS s =
              read_modify_write(handle, control(channel), [](uint8_t v) { return (v & kClockSelect) | 0xC0; });
          s != CVX_OK)
        return s;
    }
    if ((mask & 4) || flag) {
      const uint32_t clear_on = flag ? 0x80 : 0xC0;
      if (CVX_STATUS s =
              read_modify_write(handle, control(2), [clear_on](uint8_t v) { return (v & kClockSelect) | clear_on; });
          s != CVX_OK)
        return s;
    }
    return CVX_PortWrite8(handle, kTimerMode, (mask & 7) + (flag ? 0x40 : 0));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetLevel(CVX_HANDLE handle, uint32_t value) {
  return guarded([&] { return CVX_PortWrite8(handle, kLevel, value); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetPulse(CVX_HANDLE handle, uint32_t channel, uint32_t a, uint32_t b) {
  return guarded([&] { return valid(channel) ? write_pair(handle, channel, a, b) : CVX_OK; });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCmp(CVX_HANDLE handle, uint32_t a, uint32_t b) {
  return CVX_TimerSetPulse(handle, 2, a, b);
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCaptureCnt(CVX_HANDLE handle, uint32_t channel, uint32_t a, uint32_t b) {
  return CVX_TimerSetPulse(handle, channel, a, b);
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetClk(CVX_HANDLE handle, uint32_t channel, uint32_t clock) {
  return guarded([&] {
    if (!valid(channel)) return CVX_OK;
    return read_modify_write(handle, control(channel),
                             [clock](uint8_t v) { return (v & ~kClockSelect) | (clock & kClockSelect); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCnt(CVX_HANDLE handle, uint32_t channel, uint32_t value) {
  return guarded([&] { return valid(channel) ? CVX_PortWrite16(handle, count(channel), value) : CVX_OK; });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerReadCnt(CVX_HANDLE handle, uint32_t channel, uint16_t* value) {
  return guarded([&] {
    if (!value) return CVX_INVALID_ARGUMENT;
    return valid(channel) ? CVX_PortRead16(handle, count(channel), value) : CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerReadCaptureCnt(CVX_HANDLE handle, uint32_t channel, uint16_t* a, uint16_t* b) {
  return guarded([&] {
    if (!a || !b) return CVX_INVALID_ARGUMENT;
    if (!valid(channel)) return CVX_OK;
    if (CVX_STATUS s = CVX_PortRead16(handle, general_a(channel), a); s != CVX_OK) return s;
    return CVX_PortRead16(handle, general_b(channel), b);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerStart(CVX_HANDLE handle, uint32_t value) {
  return guarded([&] { return CVX_PortWrite8(handle, kTimerStart, value); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerStartA(CVX_HANDLE handle, uint32_t mask, int32_t counter, uint32_t condition,
                                              uint32_t compare) {
  return guarded([&] {
    if (counter < 0) return set_bits(handle, kTimerStart, mask & 7);
    return arm_counter(handle, mask, counter, condition, compare, mask);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerStop(CVX_HANDLE handle, uint32_t mask, int32_t counter, uint32_t condition,
                                            uint32_t compare) {
  return guarded([&] {
    if (counter < 0) return clear_bits(handle, kTimerStart, mask & 7);
    return arm_counter(handle, mask, counter, condition, compare, 0);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCmpOut(CVX_HANDLE handle, uint32_t select, uint32_t address, uint32_t value) {
  return guarded([&] {
    // Every step runs; the last one's status is the result.
    const uint32_t i = select == 0 ? 0 : 1;
    const uint32_t reg = i == 0 ? kTimerInterruptA : kTimerInterruptB;
    if (address != 0)
      set_bits(handle, reg, 0x40);
    else
      clear_bits(handle, reg, 0x40);
    write_be32(handle, kCompareOutAddress[i], address);
    return CVX_PortWrite8(handle, kCompareOutValue[i], value);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCmpClr(CVX_HANDLE handle, uint32_t flags) {
  return guarded([&] {
    // Every step runs; the last one's status is the result.
    const uint32_t regs[] = {kTimerInterruptA, kTimerInterruptB};
    for (uint32_t i = 0; i < 2; ++i) {
      if (flags & (1u << i))
        set_bits(handle, regs[i], 0x40);
      else
        clear_bits(handle, regs[i], 0x40);
    }
    return CVX_PortWrite8(handle, kCompareClear, flags);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetCapture(CVX_HANDLE handle, uint32_t channel, uint32_t low, uint32_t high) {
  return guarded([&] {
    // Channel 3 would land on the sampling timer's registers.
    if (!valid(channel)) return CVX_OK;
    if (CVX_STATUS s = CVX_TimerStop(handle, 1u << channel, -1, 0, 0); s != CVX_OK) return s;
    if (CVX_STATUS s = read_modify_write(handle, control(channel), [](uint8_t v) { return (v & kClockSelect) | 0xC0; });
        s != CVX_OK)
      return s;
    if (CVX_STATUS s = CVX_PortWrite8(handle, io_control(channel), low | (high << 4)); s != CVX_OK) return s;
    if (CVX_STATUS s = CVX_PortWrite16(handle, count(channel), 0); s != CVX_OK) return s;
    constexpr uint32_t kModeBits[] = {0x01, 0x02, 0x44};
    return clear_bits(handle, kTimerMode, kModeBits[channel]);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TimerSetSinglePulse(CVX_HANDLE handle, uint32_t channel, uint32_t start,
                                                      uint32_t width, uint32_t polarity) {
  return guarded([&] {
    const uint32_t n = channel & 1;
    if (CVX_STATUS s = CVX_TimerStop(handle, 1u << n, -1, 0, 0); s != CVX_OK) return s;
    if (CVX_STATUS s = CVX_PortWrite16(handle, count(n), 0); s != CVX_OK) return s;
    uint8_t ctrl = 0;
    if (CVX_STATUS s = CVX_PortRead8(handle, control(n), &ctrl); s != CVX_OK) return s;
    // The interrupt step's status is not checked; a failed read writes nothing
    // rather than a byte that was never read.
    uint8_t interrupt = 0;
    const uint32_t reg = polarity ? kTimerInterruptB : kTimerInterruptA;
    if (CVX_PortRead8(handle, reg, &interrupt) == CVX_OK) CVX_PortWrite8(handle, reg, interrupt | (0x10u << n));
    if (CVX_STATUS s = CVX_PortWrite8(handle, control(n), ctrl & kClockSelect); s != CVX_OK) return s;
    const uint32_t end = start + width;
    if (CVX_STATUS s = polarity ? write_pair(handle, n, start, end) : write_pair(handle, n, end, start); s != CVX_OK)
      return s;
    return set_bits(handle, kTimerMode, 1u << n);
  });
}

}  // extern "C"
