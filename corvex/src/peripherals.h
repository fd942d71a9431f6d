// Register and firmware-variable steps shared by the peripheral families.
#pragma once

#include <cstdint>

#include "corvex.h"

namespace corvex::peripherals {

// Pulse counters: a 28-byte block of firmware variables each.
constexpr std::uint32_t kCounterBlock = 0x0FFFE724;
constexpr std::uint32_t kBlockStride = 28;
constexpr std::uint32_t kCounterEnable = 0xFEE015;
constexpr std::uint32_t kCounterPending = 0xFEE016;
constexpr std::uint32_t kAllCounters = 0x36;
constexpr std::uint32_t counter_address(std::uint32_t counter, std::uint32_t offset) {
  return kCounterBlock + kBlockStride * (counter & 3) + offset;
}
// The enable and pending bit of each counter; the hardware does not number them in order.
constexpr std::uint32_t counter_bit(std::uint32_t counter) {
  constexpr std::uint32_t bits[] = {0x10, 0x20, 0x02, 0x04};
  return bits[counter & 3];
}
constexpr std::uint32_t kCounterTimerMask = 19;  // byte offset in the counter block

// Timer registers.
constexpr std::uint32_t kTimerStart = 0xFFFF60;
constexpr std::uint32_t kTimerMode = 0xFFFF62;
constexpr std::uint32_t kTimerInterruptA = 0xFFFF64;
constexpr std::uint32_t kTimerInterruptB = 0xFFFF65;

// Reads the byte at address, then writes back change(byte).
template <typename Change>
CVX_STATUS read_modify_write(CVX_HANDLE handle, std::uint32_t address, Change&& change) {
  std::uint8_t value = 0;
  if (CVX_STATUS s = CVX_PortRead8(handle, address, &value); s != CVX_OK) return s;
  return CVX_PortWrite8(handle, address, static_cast<std::uint32_t>(change(value)) & 0xFF);
}

// A 32-bit firmware variable, written big-endian as one block.
inline CVX_STATUS write_be32(CVX_HANDLE handle, std::uint32_t address, std::uint32_t value) {
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                                static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  return CVX_PortBWrite(handle, address, bytes, 4, 1, 0);
}

}  // namespace corvex::peripherals
