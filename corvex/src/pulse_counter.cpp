// Pulse counters kept by the monitor firmware: their variables, values and enables.
#include <cstring>

#include "automation.h"
#include "guard.h"
#include "io.h"
#include "peripherals.h"
#include "protocol.h"

using namespace corvex;
using namespace corvex::peripherals;
namespace proto = corvex::protocol;

namespace {

constexpr std::uint32_t kCompare = 0, kCompareOutAddress = 4, kConditionAddress = 8, kCompareOutValue = 16,
                        kConditionMask = 17, kControl = 18;

// Clears the pending flags of the counters in m (a zero bit clears), then enables them.
CVX_STATUS start_counters(CVX_HANDLE handle, uint32_t mask, bool keep_others) {
  const uint32_t m = mask & kAllCounters;
  uint8_t ignored = 0;
  if (CVX_STATUS s = CVX_PortRead8(handle, kCounterPending, &ignored); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PortWrite8(handle, kCounterPending, ~m & 0xFF); s != CVX_OK) return s;
  if (!keep_others) return CVX_PortWrite8(handle, kCounterEnable, m);
  return read_modify_write(handle, kCounterEnable, [m](uint8_t v) { return v | m; });
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCmp(CVX_HANDLE handle, uint32_t counter, uint32_t value) {
  return guarded([&] { return write_be32(handle, counter_address(counter, kCompare), value); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCnt(CVX_HANDLE handle, uint32_t counter, uint32_t value) {
  return guarded([&] { return command(handle, proto::counter_set(counter & 3, value)); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCReadCnt(CVX_HANDLE handle, int32_t counter, uint32_t* values) {
  return guarded([&] {
    if (!values) return CVX_INVALID_ARGUMENT;
    if (counter != -1)
      return command_number(handle, proto::counter_read(static_cast<uint32_t>(counter) & 3), 4, values);
    uint8_t reply[16] = {};
    if (CVX_STATUS s = command(handle, proto::counter_read_all(), reply, sizeof reply); s != CVX_OK) return s;
    for (int i = 0; i < 4; ++i)
      values[i] = uint32_t(reply[4 * i]) << 24 | uint32_t(reply[4 * i + 1]) << 16 | uint32_t(reply[4 * i + 2]) << 8 |
                  reply[4 * i + 3];
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCReadCnt2(CVX_HANDLE handle, int32_t counter, SAFEARRAY* array) {
  return guarded([&] {
    // The array must hold every value the read stores.
    const uint32_t bytes = counter == -1 ? 16 : 4;
    return automation::with_array_bytes(array, bytes, [&](uint8_t* data) {
      uint32_t values[4] = {};
      const CVX_STATUS s = CVX_PCReadCnt(handle, counter, values);
      if (s == CVX_OK) std::memcpy(data, values, bytes);  // the caller's data need not be aligned
      return s;
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetControl(CVX_HANDLE handle, uint32_t counter, uint32_t value) {
  return guarded([&] { return CVX_PortWrite8(handle, counter_address(counter, kControl), value); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCondBit(CVX_HANDLE handle, uint32_t counter, uint32_t address, uint32_t mask) {
  return guarded([&] {
    if (CVX_STATUS s = write_be32(handle, counter_address(counter, kConditionAddress), address); s != CVX_OK) return s;
    return CVX_PortWrite8(handle, counter_address(counter, kConditionMask), mask);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCSetCmpOut(CVX_HANDLE handle, uint32_t counter, uint32_t address, uint32_t value) {
  return guarded([&] {
    if (CVX_STATUS s = write_be32(handle, counter_address(counter, kCompareOutAddress), address); s != CVX_OK) return s;
    // A full mask: the whole byte at address takes the value.
    if (CVX_STATUS s = CVX_PortWrite8(handle, counter_address(counter, kCounterTimerMask), 0xFF); s != CVX_OK) return s;
    return CVX_PortWrite8(handle, counter_address(counter, kCompareOutValue), value);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCStart(CVX_HANDLE handle, uint32_t mask) {
  return guarded([&] { return start_counters(handle, mask, false); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCStartA(CVX_HANDLE handle, uint32_t mask) {
  return guarded([&] { return start_counters(handle, mask, true); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_PCStop(CVX_HANDLE handle, uint32_t mask) {
  return guarded([&] {
    const uint32_t m = mask & kAllCounters;
    return read_modify_write(handle, kCounterEnable, [m](uint8_t v) { return v & ~m; });
  });
}

}  // extern "C"
