// The firmware's timed copy engine: two channels paced by a clock or by pulse counters.
#include "guard.h"
#include "io.h"
#include "peripherals.h"
#include "protocol.h"

using namespace corvex;
using namespace corvex::peripherals;
namespace proto = corvex::protocol;

namespace {

constexpr uint32_t kParameters = 0x0FFFE79C;  // + 28 per channel
constexpr uint32_t kWordOffset = 24, kControlOffset = 26;
constexpr uint32_t kClockCode[] = {0x0FFFE7B3, 0x0FFFE7CF};
constexpr uint32_t kCompare[] = {0xFFFF85, 0xFFFF95};
constexpr uint32_t kTrigger[] = {0xFFFF81, 0xFFFF91};
constexpr uint32_t kStatusBytes = 18;

uint32_t block(uint32_t c) { return kParameters + kBlockStride * c; }

// 0 when the clock has no code: the copy is then not clocked.
uint8_t copy_clock_code(uint32_t clock) {
  switch (clock) {
    case 3: return 0x49;
    case 6: return 0x4A;
    case 7: return 0x4B;
    case 8: return 0x4D;
    case 9: return 0x4E;
    case 10: return 0x4F;
    default: return 0x00;
  }
}

proto::Bytes parameter_block(uint32_t source, uint32_t destination, uint32_t current_source, uint32_t count,
                             uint8_t b20, uint8_t b21, uint8_t b22) {
  proto::Bytes p;
  proto::put_be32(p, source);
  proto::put_be32(p, destination);
  proto::put_be32(p, current_source);
  proto::put_be32(p, destination);
  proto::put_be16(p, 0);
  proto::put_be16(p, count);
  p.push_back(b20);
  p.push_back(b21);
  p.push_back(b22);
  return p;
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Counter n fires the copy (code = the clock code) or ends it (code = 0) after one pulse.
CVX_STATUS arm(CVX_HANDLE handle, uint32_t n, uint32_t condition, uint32_t target, uint32_t code) {
  if (CVX_STATUS s = CVX_PCSetCnt(handle, n, 0); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PCSetCmp(handle, n, 1); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PCSetControl(handle, n, condition ? 2 : 0); s != CVX_OK) return s;
  if (CVX_STATUS s = CVX_PCSetCondBit(handle, n, 0, 0); s != CVX_OK) return s;
  return CVX_PCSetCmpOut(handle, n, target, code);
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetParm(CVX_HANDLE handle, uint32_t channel, uint32_t source,
                                              uint32_t destination, uint32_t count, uint32_t b1, uint32_t b2,
                                              uint32_t b3) {
  return guarded([&] {
    const uint32_t c = channel & 1;
    const proto::Bytes p = parameter_block(source, destination, source, count, static_cast<uint8_t>(b1),
                                           static_cast<uint8_t>(b2), static_cast<uint8_t>(b3));
    if (CVX_STATUS s = CVX_PortBWrite(handle, block(c), p.data(), static_cast<uint32_t>(p.size()), 1, 0); s != CVX_OK)
      return s;
    return CVX_PortWrite8(handle, block(c) + kControlOffset, 0xFF);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetPatternCtrl(CVX_HANDLE handle, uint32_t channel, uint32_t source,
                                                     uint32_t destination, uint32_t count, uint32_t word,
                                                     uint32_t value, uint32_t step, uint32_t control) {
  return guarded([&] {
    const uint32_t c = channel & 1;
    const uint8_t endless = count == 0xFFFFFFFFu ? 1 : 0;
    const proto::Bytes p =
        parameter_block(source, destination, source + step, count, static_cast<uint8_t>(value), 0, endless);
    if (CVX_STATUS s = CVX_PortBWrite(handle, block(c), p.data(), static_cast<uint32_t>(p.size()), 1, 0); s != CVX_OK)
      return s;
    if (CVX_STATUS s = CVX_PortWrite16(handle, block(c) + kWordOffset, word); s != CVX_OK) return s;
    return CVX_PortWrite8(handle, block(c) + kControlOffset, control);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetCmp(CVX_HANDLE handle, uint32_t channel, uint32_t value) {
  return guarded([&] { return CVX_PortWrite8(handle, kCompare[channel & 1], value); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetClk(CVX_HANDLE handle, uint32_t channel, uint32_t clock) {
  return guarded([&] {
    const uint8_t code = copy_clock_code(clock);
    if (code == 0) return CVX_OK;
    return CVX_PortWrite8(handle, kClockCode[channel & 1], code);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetCycle(CVX_HANDLE handle, uint32_t channel, uint32_t value, uint32_t clock) {
  return guarded([&] {
    if (CVX_STATUS s = CVX_TCPYSetCmp(handle, channel, value); s != CVX_OK) return s;
    return CVX_TCPYSetClk(handle, channel, clock);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYStart(CVX_HANDLE handle, uint32_t channel) {
  return guarded([&] { return command(handle, proto::timed_copy_start(channel & 3)); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYReadStatus(CVX_HANDLE handle, uint32_t channel, uint32_t* count, uint32_t* done) {
  return guarded([&] {
    if (!count || !done) return CVX_INVALID_ARGUMENT;
    uint8_t p[kStatusBytes] = {};
    if (CVX_STATUS s = CVX_PortBRead(handle, block(channel & 1), p, kStatusBytes, 1, 0); s != CVX_OK) return s;
    *count = static_cast<uint32_t>(p[16] << 8 | p[17]);
    *done = be32(p + 8) - be32(p);
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_TCPYSetTrig(CVX_HANDLE handle, uint32_t channel, int32_t start_counter,
                                              int32_t stop_counter, uint32_t condition) {
  return guarded([&] {
    const uint32_t c = channel & 1;
    uint8_t code = 0;
    if (CVX_STATUS s = CVX_PortRead8(handle, kClockCode[c], &code); s != CVX_OK) return s;
    uint32_t counters = 0;
    if (start_counter >= 0) {
      const uint32_t n = static_cast<uint32_t>(start_counter) & 3;
      if (CVX_STATUS s = arm(handle, n, condition, kTrigger[c], code); s != CVX_OK) return s;
      counters |= counter_bit(n);
    }
    if (stop_counter >= 0) {
      const uint32_t n = static_cast<uint32_t>(stop_counter) & 3;
      if (CVX_STATUS s = arm(handle, n, condition, kTrigger[c], 0); s != CVX_OK) return s;
      counters |= counter_bit(n);
    }
    return CVX_PCStartA(handle, counters);
  });
}

}  // extern "C"
