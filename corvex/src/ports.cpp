// Initialisation, single and block port transfers, copies and bus set-up.
#include <array>
#include <utility>

#include "automation.h"
#include "guard.h"
#include "io.h"
#include "protocol.h"

using namespace corvex;
namespace proto = corvex::protocol;

namespace {

constexpr uint32_t kTimerInterrupt[] = {0xFFFF64, 0xFFFF65};
constexpr std::pair<uint32_t, uint32_t> kDirectionRegister[] = {
    {0xFFFFD0, 0xFEE000}, {0xFFFFD1, 0xFEE001}, {0xFFFFD3, 0xFEE003}, {0xFFFFD4, 0xFEE004}, {0xFFFFD9, 0xFEE009},
};
constexpr uint32_t kAddressBusDirections[] = {0xFEE000, 0xFEE001, 0xFEE004};
constexpr uint32_t kChipSelect = 0xFEE007;

struct WaitField {
  uint32_t area, reg, shift;
};
constexpr WaitField kWaitFields[] = {{1, 0x0FFEE023, 0}, {4, 0x0FFEE023, 4}, {8, 0x0FFEE023, 6}, {16, 0x0FFEE022, 2}};

// Abort whatever the board was doing and drop what it had queued for us.
CVX_STATUS abort_and_purge(CVX_HANDLE handle) {
  if (CVX_STATUS s = CVX_Abort(handle); s != CVX_OK) return s;
  return CVX_Purge(handle, CVX_PURGE_RX);
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_Initialize(CVX_HANDLE handle) {
  return guarded([&] {
    if (CVX_STATUS s = abort_and_purge(handle); s != CVX_OK) return s;
    if (CVX_STATUS s = command(handle, proto::initialize()); s != CVX_OK) return s;
    for (uint32_t reg : kTimerInterrupt)
      if (CVX_STATUS s = CVX_PortWrite8(handle, reg, 0); s != CVX_OK) return s;
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_InitializeA(CVX_HANDLE handle, uint32_t value) {
  return guarded([&] {
    if (CVX_STATUS s = abort_and_purge(handle); s != CVX_OK) return s;
    return command(handle, proto::initialize_a(value));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortRead8(CVX_HANDLE handle, uint32_t address, uint8_t* value) {
  return guarded([&] {
    if (!value) return CVX_INVALID_ARGUMENT;
    return command(handle, proto::port_read8(address), value, 1);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortWrite8(CVX_HANDLE handle, uint32_t address, uint32_t value) {
  return guarded([&] { return command(handle, proto::port_write8(address, value)); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortRead16(CVX_HANDLE handle, uint32_t address, uint16_t* value) {
  return guarded([&] {
    if (!value) return CVX_INVALID_ARGUMENT;
    // The short form answers one byte, which lands in the low byte.
    const uint32_t width = address == proto::kNoAddress ? 1 : 2;
    uint32_t word = 0;
    if (CVX_STATUS s = command_number(handle, proto::port_read16(address), width, &word); s != CVX_OK) return s;
    *value = static_cast<uint16_t>(word);
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortWrite16(CVX_HANDLE handle, uint32_t address, uint32_t value) {
  return guarded([&] { return command(handle, proto::port_write16(address, value)); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortWrite8A(CVX_HANDLE handle, uint32_t address, uint32_t value, uint32_t mask) {
  return guarded([&] {
    if ((mask & 0xFF) == 0xFF) return CVX_PortWrite8(handle, address, value);
    return command(handle, proto::port_write8_masked(address, value, mask));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortSetDir(CVX_HANDLE handle, uint32_t port_address, uint32_t direction) {
  return guarded([&] {
    for (auto [data, dir] : kDirectionRegister)
      if (data == port_address) return CVX_PortWrite8(handle, dir, direction);
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortBWrite(CVX_HANDLE handle, uint32_t address, const void* data, uint32_t length,
                                             uint32_t flag, uint32_t option) {
  return guarded([&] {
    if (!data) return CVX_INVALID_ARGUMENT;
    if (length == 0) return CVX_OK;
    return command(handle, proto::block_write(address, static_cast<const uint8_t*>(data), length, flag, option));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortBRead(CVX_HANDLE handle, uint32_t address, void* buffer, uint32_t length,
                                            uint32_t flag, uint32_t option) {
  return guarded([&] {
    if (!buffer) return CVX_INVALID_ARGUMENT;
    if (length == 0) return CVX_OK;
    return command(handle, proto::block_read(address, length, flag, option), static_cast<uint8_t*>(buffer),
                   proto::clamp_block(length));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortBWrite2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t length,
                                              uint32_t flag, uint32_t option) {
  return guarded([&] {
    return automation::with_array_bytes(
        array, length, [&](uint8_t* data) { return CVX_PortBWrite(handle, address, data, length, flag, option); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortBRead2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t length,
                                             uint32_t flag, uint32_t option) {
  return guarded([&] {
    return automation::with_array_bytes(
        array, length, [&](uint8_t* data) { return CVX_PortBRead(handle, address, data, length, flag, option); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortBCopy(CVX_HANDLE handle, uint32_t first, uint32_t second, uint32_t length,
                                            uint32_t byte1, uint32_t byte2) {
  return guarded([&] {
    if (length == 0) return CVX_OK;
    return command(handle, proto::block_copy(first, second, length, byte1, byte2));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortCopy8(CVX_HANDLE handle, uint32_t first, uint32_t second) {
  return guarded([&] {
    if (first == proto::kNoAddress) return CVX_OK;
    return command(handle, proto::copy8(first, second));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PortCopy16(CVX_HANDLE handle, uint32_t first, uint32_t second) {
  return guarded([&] {
    if (first == proto::kNoAddress || second == proto::kNoAddress) return CVX_OK;
    return command(handle, proto::copy16(first, second));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_AddressEnable(CVX_HANDLE handle, uint32_t lines) {
  return guarded([&] {
    // Whole ports are driven: one for 8 lines, two for 16, all three from 20.
    // The count is a signed 32-bit argument: a negative one drives none.
    const auto n = static_cast<std::int32_t>(lines);
    const int ports = n < 8 ? 0 : n < 16 ? 1 : n < 20 ? 2 : 3;
    for (int i = 0; i < 3; ++i)
      if (CVX_STATUS s = CVX_PortWrite8(handle, kAddressBusDirections[i], i < ports ? 0xFF : 0x00); s != CVX_OK)
        return s;
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_CSEnable(CVX_HANDLE handle, uint32_t flags) {
  return guarded([&] {
    const uint32_t value = 0x11 | ((flags & 4) ? 0x04 : 0) | ((flags & 8) ? 0x02 : 0);
    return CVX_PortWrite8(handle, kChipSelect, value);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_BusSetWait(CVX_HANDLE handle, uint32_t area, uint32_t wait) {
  return guarded([&] {
    for (const WaitField& field : kWaitFields) {
      if (field.area != area) continue;
      uint8_t reg = 0;
      if (CVX_STATUS s = CVX_PortRead8(handle, field.reg, &reg); s != CVX_OK) return s;
      const uint32_t mask = 3u << field.shift;
      return CVX_PortWrite8(handle, field.reg, (reg & ~mask) | ((wait & 3u) << field.shift));
    }
    return CVX_OK;
  });
}

}  // extern "C"
