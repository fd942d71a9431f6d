// The board's serial channel: line set-up, and data through the firmware's buffers.
#include <algorithm>
#include <chrono>
#include <thread>

#include "automation.h"
#include "guard.h"
#include "io.h"
#include "protocol.h"

using namespace corvex;
namespace proto = corvex::protocol;

namespace {

struct Registers {
  uint32_t mode, rate, control;
};
constexpr Registers kChannels[] = {{0xFFFFB0, 0xFFFFB1, 0xFFFFB2}, {0xFFFFB8, 0xFFFFB9, 0xFFFFBA}};
constexpr uint32_t kEnableTransmitReceive = 0x70;
constexpr auto kSettle = std::chrono::milliseconds(3);  // one bit time at the slowest rate
constexpr uint32_t kMaxChunk = 255;
constexpr uint32_t kDelimiters = 0xFFE7E6;
constexpr uint32_t kMaxDelimiters = 2;

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_SCISetMode(CVX_HANDLE handle, uint32_t channel, uint32_t mode, uint32_t rate) {
  return guarded([&] {
    if (channel > 1) return CVX_OK;
    const Registers& r = kChannels[channel];
    if (CVX_STATUS s = CVX_PortWrite8(handle, r.control, 0); s != CVX_OK) return s;
    if (CVX_STATUS s = CVX_PortWrite8(handle, r.mode, (mode & 0xFF) | ((rate >> 8) & 3)); s != CVX_OK) return s;
    if (CVX_STATUS s = CVX_PortWrite8(handle, r.rate, rate & 0xFF); s != CVX_OK) return s;
    std::this_thread::sleep_for(kSettle);
    return CVX_PortWrite8(handle, r.control, kEnableTransmitReceive);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SCIWrite(CVX_HANDLE handle, uint32_t channel, const uint8_t* data, uint32_t length) {
  return guarded([&] {
    if (!data) return CVX_INVALID_ARGUMENT;
    length = std::min(length, kMaxChunk);
    if (channel != 0) return CVX_INVALID_ARGUMENT;
    // The count field starts at 1: nothing to send is sent as nothing.
    if (length == 0) return CVX_OK;
    return command(handle, proto::sci_write(data, length));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SCIWrite2(CVX_HANDLE handle, uint32_t channel, SAFEARRAY* array, uint32_t length) {
  return guarded([&] {
    length = std::min(length, kMaxChunk);
    return automation::with_array_bytes(array, length,
                                        [&](uint8_t* data) { return CVX_SCIWrite(handle, channel, data, length); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SCIRead(CVX_HANDLE handle, uint32_t channel, uint8_t* buffer, uint32_t length,
                                          uint32_t* got) {
  return guarded([&] {
    if (!got) return CVX_INVALID_ARGUMENT;
    *got = 0;
    if (!buffer) return CVX_INVALID_ARGUMENT;
    if (channel != 0) return CVX_OK;
    // The count travels in one byte; a longer read would wait for bytes never sent.
    if (length == 0 || length > kMaxChunk) return CVX_INVALID_ARGUMENT;
    // The data follows the command's own reply: both belong to one exchange.
    const ExchangeLock exchange(handle);
    if (CVX_STATUS s = command(handle, proto::sci_read(length)); s != CVX_OK) return s;
    return read_path(handle, buffer, length, got, Firmware::Monitor);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SCIRead2(CVX_HANDLE handle, uint32_t channel, SAFEARRAY* array, uint32_t length,
                                           uint32_t* got) {
  return guarded([&] {
    if (!got) return CVX_INVALID_ARGUMENT;
    *got = 0;
    return automation::with_array_bytes(array, length,
                                        [&](uint8_t* data) { return CVX_SCIRead(handle, channel, data, length, got); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SCIReadStatus(CVX_HANDLE handle, uint32_t channel, uint8_t* status, uint32_t* count) {
  return guarded([&] {
    if (!status || !count) return CVX_INVALID_ARGUMENT;
    if (channel != 0) return CVX_OK;
    uint8_t reply[2] = {};
    if (CVX_STATUS s = command(handle, proto::sci_status(), reply, sizeof reply); s != CVX_OK) return s;
    *status = reply[0];
    *count = reply[1];
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SCISetDelimiter(CVX_HANDLE handle, uint32_t, const uint8_t* data, uint32_t length) {
  return guarded([&] {
    length = std::min(length, kMaxDelimiters);
    if (!data && length > 0) return CVX_INVALID_ARGUMENT;
    uint8_t block[4] = {static_cast<uint8_t>(length), 0, 0, 0};
    std::copy_n(data, length, block + 2);
    return CVX_PortBWrite(handle, kDelimiters, block, sizeof block, 1, 0);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SCISetDelimiter2(CVX_HANDLE handle, uint32_t channel, SAFEARRAY* array,
                                                   uint32_t length) {
  return guarded([&] {
    length = std::min(length, kMaxDelimiters);
    return automation::with_array_bytes(
        array, length, [&](uint8_t* data) { return CVX_SCISetDelimiter(handle, channel, data, length); });
  });
}

}  // extern "C"
