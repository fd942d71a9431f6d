#include "BinaryLines.h"

#include "serial/LogSink.h"
#include "shell/Pause.h"

namespace kestrel {

bool BinaryLines::open() {
  handle_ = 0;
  board_.WXF_Open(&handle_, 0, kWxfAnyBoard);
  if (handle_ == 0) return false;
  board_.WXF_Initialize(handle_);
  return true;
}

void BinaryLines::close() {
  board_.WXF_Close(handle_);
  handle_ = 0;
}

bool BinaryLines::busy() {
  std::uint8_t value = 0;
  board_.WXF_PortRead(handle_, kBusyPort, &value);
  return (value & 1) != 0;
}

void BinaryLines::write(std::uint32_t port, std::uint8_t data, std::uint8_t mask) {
  board_.WXF_PortWrite(handle_, port, data, mask);
}

void BinaryLines::strobe(int widthMs) {
  write(kControlPort, 0, kStrobe);
  pause_.sleep(widthMs);
  write(kControlPort, 0xFF, kStrobe);
  pause_.sleep(widthMs);
}

void BinaryLines::stopPulse(LogSink& log) {
  write(kControlPort, 0, kStop);
  log.AddLog(kStopSignalLog);
  pause_.sleep(kPulseMs);
  write(kControlPort, 0xFF, kStop);
}

void BinaryLines::stopPulseWithStrobe(LogSink& log) {
  log.AddLog(kStopSignalLog);
  write(kControlPort, 0, kStop);
  write(kControlPort, 0, kStrobe);
  pause_.sleep(kPulseMs);
  write(kControlPort, 0xFF, kStrobe);
  write(kControlPort, 0xFF, kStop);
}

void BinaryLines::sendPairs(qint64 n, int widthMs) {
  for (int transfer = 0; transfer < 4; ++transfer) {
    const int shift = 6 - 2 * transfer;
    // The pair's higher bit goes on D0, the lower on D1; D2 marks the first transfer.
    int v = int((n >> (shift + 1)) & 1) | int((n >> shift) & 1) << 1;
    if (transfer == 0) v |= 4;
    write(kDataPort, std::uint8_t(~v), 0xFF);
    strobe(widthMs);
  }
}

BinaryLines::Parallel BinaryLines::sendTenBits(qint64 n, bool positiveLogic, int widthMs) {
  Parallel lines{std::uint8_t((n >> 8) & kHighBits), std::uint8_t(n & 0xFF)};
  if (positiveLogic) lines = {std::uint8_t(~lines.high), std::uint8_t(~lines.low)};
  write(kDataPort, lines.low, 0xFF);
  write(kControlPort, lines.high, kHighBits);
  strobe(widthMs);
  return lines;
}

void BinaryLines::sendEightBits(qint64 n, bool positiveLogic) {
  std::uint8_t v = std::uint8_t(n);
  if (positiveLogic) v = std::uint8_t(~v);
  write(kDataPort, std::uint8_t(~v), 0xFF);
  pause_.sleep(kSettleMs);
  write(kControlPort, 0, kStrobe);
  pause_.sleep(kPulseMs);
  write(kControlPort, 0xFF, kStrobe);
}

}  // namespace kestrel
