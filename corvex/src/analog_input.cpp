// Analog input: single conversions, sample bursts, and copies of results into memory.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "automation.h"
#include "guard.h"
#include "io.h"
#include "protocol.h"

using namespace corvex;
namespace proto = corvex::protocol;

namespace {

constexpr uint32_t kControlStatus = 0xFFFFE8;
constexpr uint32_t kControl = 0xFFFFE9;
constexpr uint32_t kResultA = 0xFFFFE0;
constexpr uint32_t kSampleClock = 0xFFFF82;
constexpr uint32_t kSampleCycle = 0xFFFF84;
constexpr uint32_t kSampleClockCode = 0x0FFFE7E1;
constexpr uint32_t kCopyControl[] = {0xFFFF27, 0xFFFF37};
constexpr uint32_t kCopyStatus[] = {0xFFFF2C, 0xFFFF3C};
constexpr uint32_t kMaxWords = proto::kMaxBlock / 2;  // a copy-buffer read is one block
constexpr uint32_t kMaxSamples = 0x7FFFFFFF;          // twice this still fits the read length

uint32_t selector(uint32_t channel, uint32_t scan) { return (channel & 3) | (scan ? 0x10 : 0); }

uint8_t sampling_clock_code(uint32_t clock) {
  switch (clock) {
    case 3: return 0x09;
    case 6: return 0x0A;
    case 7: return 0x0B;
    case 8: return 0x0D;
    case 9: return 0x0E;
    case 10: return 0x0F;
    default: return 0x00;
  }
}

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// How many words the read stores: one, or channels 0 to channel when scanning.
uint32_t words_stored(uint32_t channel, uint32_t scan) { return scan ? (channel & 3) + 1 : 1; }

std::array<uint8_t, 18> copy_parameters(uint32_t destination, uint32_t count, uint32_t channel, uint32_t flag,
                                        uint32_t mode) {
  proto::Bytes p;
  proto::put_be32(p, kResultA);
  proto::put_be32(p, destination);
  const auto step = static_cast<uint8_t>(2 * ((channel & 3) + 1));
  p.push_back(step);
  p.push_back(step);
  proto::put_be16(p, count);
  for (uint8_t b : {uint8_t{0x17}, uint8_t(mode ? 0x1B : 0x0B), uint8_t{0}, uint8_t{0}, uint8_t(flag & 1), uint8_t{1}})
    p.push_back(b);
  std::array<uint8_t, 18> out{};
  std::memcpy(out.data(), p.data(), out.size());
  return out;
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_ADRead(CVX_HANDLE handle, uint16_t* values, uint32_t channel, uint32_t scan) {
  return guarded([&] {
    if (!values) return CVX_INVALID_ARGUMENT;
    uint8_t reply[8] = {};
    if (CVX_STATUS s = command(handle, proto::ad_read(selector(channel, scan)), reply, sizeof reply); s != CVX_OK)
      return s;
    // The board always answers all four channels.
    if (!scan) {
      values[0] = be16(reply + 2 * (channel & 3));
      return CVX_OK;
    }
    for (uint32_t i = 0; i <= (channel & 3); ++i) values[i] = be16(reply + 2 * i);
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADRead2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t channel, uint32_t scan) {
  return guarded([&] {
    const uint32_t bytes = 2 * words_stored(channel, scan);
    return automation::with_array_bytes(array, bytes, [&](uint8_t* data) {
      uint16_t values[4] = {};
      const CVX_STATUS s = CVX_ADRead(handle, values, channel, scan);
      if (s == CVX_OK) std::memcpy(data, values, bytes);
      return s;
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADSetCycle(CVX_HANDLE handle, uint32_t cycle, uint32_t clock) {
  return guarded([&] {
    if (CVX_STATUS s = CVX_PortWrite8(handle, kSampleCycle, cycle); s != CVX_OK) return s;
    if (CVX_STATUS s = CVX_PortWrite8(handle, kSampleClock, clock ? 0x10 : 0); s != CVX_OK) return s;
    return CVX_PortWrite8(handle, kSampleClockCode, sampling_clock_code(clock));
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADBRead(CVX_HANDLE handle, uint16_t* buffer, uint32_t count, uint32_t channel,
                                          uint32_t* got) {
  return guarded([&] {
    if (!got) return CVX_INVALID_ARGUMENT;
    *got = 0;
    if (!buffer || count > kMaxSamples) return CVX_INVALID_ARGUMENT;
    // The data follows the command's own reply: both belong to one exchange.
    const ExchangeLock exchange(handle);
    if (CVX_STATUS s = command(handle, proto::ad_block_read(channel, count)); s != CVX_OK) return s;
    if (count == 0) return CVX_OK;
    uint32_t received = 0;
    const CVX_STATUS s = read_path(handle, buffer, 2 * count, &received, Firmware::Monitor);
    *got = received / 2;
    return s;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADBRead2(CVX_HANDLE handle, SAFEARRAY* array, uint32_t count, uint32_t channel,
                                           uint32_t* got) {
  return guarded([&] {
    if (!got) return CVX_INVALID_ARGUMENT;
    *got = 0;
    if (count > kMaxSamples) return CVX_INVALID_ARGUMENT;
    return automation::with_array_bytes(array, 2 * count, [&](uint8_t* data) {
      // Samples are copied out so that the caller's data need not be aligned.
      std::vector<uint16_t> samples(count);
      const CVX_STATUS s = CVX_ADBRead(handle, samples.data(), count, channel, got);
      std::memcpy(data, samples.data(), 2 * static_cast<std::size_t>(*got));
      return s;
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADStart(CVX_HANDLE handle, uint32_t address, uint32_t channel, uint32_t scan,
                                          uint32_t value, uint32_t flag) {
  return guarded([&] { return command(handle, proto::ad_start(selector(channel, scan), address, value, flag)); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADCopy(CVX_HANDLE handle, uint32_t destination, uint32_t count, uint32_t channel,
                                         uint32_t scan, uint32_t flag, uint32_t mode) {
  return guarded([&] {
    uint8_t ignored = 0;
    if (CVX_STATUS s = CVX_PortRead8(handle, kControlStatus, &ignored); s != CVX_OK) return s;
    if (CVX_STATUS s = CVX_PortWrite8(handle, kControlStatus, (channel & 3) | 0x50 | (scan ? 0x08 : 0)); s != CVX_OK)
      return s;
    if (CVX_STATUS s = command(handle, proto::ad_copy(copy_parameters(destination, count, channel, flag, mode)));
        s != CVX_OK)
      return s;
    if (CVX_STATUS s = CVX_PortWrite8(handle, kControl, 0x80); s != CVX_OK) return s;
    return CVX_ADSetCycle(handle, 0, 0);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADStopCopy(CVX_HANDLE handle, uint32_t select) {
  return guarded([&] {
    if (CVX_STATUS s = CVX_PortWrite8(handle, kControl, 0); s != CVX_OK) return s;
    uint8_t ignored = 0;
    for (uint32_t reg : {kControlStatus, kCopyControl[select ? 1 : 0]}) {
      if (CVX_STATUS s = CVX_PortRead8(handle, reg, &ignored); s != CVX_OK) return s;
      if (CVX_STATUS s = CVX_PortWrite8(handle, reg, 0); s != CVX_OK) return s;
    }
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADReadCopyStatus(CVX_HANDLE handle, uint16_t* status, uint32_t select) {
  return guarded([&] {
    if (!status) return CVX_INVALID_ARGUMENT;
    return CVX_PortRead16(handle, kCopyStatus[select ? 1 : 0], status);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADReadCopyBuffer(CVX_HANDLE handle, uint32_t address, uint16_t* values,
                                                   uint32_t count, uint32_t flag, uint32_t option) {
  return guarded([&] {
    if (!values) return CVX_INVALID_ARGUMENT;
    // One block read carries at most 32768 words; only those are converted.
    const uint32_t words = std::min(count, kMaxWords);
    if (CVX_STATUS s = CVX_PortBRead(handle, address, values, 2 * words, flag, option); s != CVX_OK) return s;
    auto* bytes = reinterpret_cast<uint8_t*>(values);
    for (uint32_t i = 0; i < words; ++i) {
      const uint16_t host = be16(bytes + 2 * i);
      std::memcpy(bytes + 2 * i, &host, 2);
    }
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ADReadCopyBuffer2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array,
                                                    uint32_t count, uint32_t flag, uint32_t option) {
  return guarded([&] {
    const uint32_t words = std::min(count, kMaxWords);
    return automation::with_array_bytes(array, 2 * words, [&](uint8_t* data) {
      return CVX_ADReadCopyBuffer(handle, address, reinterpret_cast<uint16_t*>(data), words, flag, option);
    });
  });
}

}  // extern "C"
