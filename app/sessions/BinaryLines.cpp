#include "sessions/BinaryLines.h"

#include "core/LogSink.h"
#include "core/Pause.h"
#include "core/TimedThread.h"

#include <QLibrary>
#include <functional>

namespace kestrel {

BinaryLines::Parallel BinaryLines::tenBits(qint64 n, bool positiveLogic) {
  Parallel lines{std::uint8_t((n >> 8) & kHighBits), std::uint8_t(n & 0xFF)};
  if (positiveLogic) lines = {std::uint8_t(~lines.high), std::uint8_t(~lines.low)};
  return lines;
}

template <class Call>
BoardResult BinaryLines::call(const char* name, Call&& c) {
  try {
    const std::int32_t status = c();
    if (status == 0) return {};
    return {BoardFault::Failed, status, QStringLiteral("%1 returned %2").arg(QLatin1String(name)).arg(status)};
  } catch (const WexfordUnavailable& e) {
    return {BoardFault::Unavailable, 0, QString::fromStdString(e.what())};
  }
}

template <class Sequence>
BoardResult BinaryLines::timed(Sequence&& sequence) {
  TimedThread* thread = pause_.timedThread();
  if (!thread) return sequence();
  BoardResult r;
  // Made here, so the timed thread allocates nothing to start it.
  const std::function<void()> run = [&] { r = sequence(); };
  thread->run(run);
  return r;
}

QString BinaryLines::timingNote() const {
  const TimedThread* thread = pause_.timedThread();
  if (!thread || thread->granted()) return {};
  return QStringLiteral("Strobe timing: ") + QString::fromStdString(thread->scheduling());
}

BoardResult BinaryLines::open() {
  handle_ = 0;
  WxfHandle opened = 0;
  BoardResult r = call("WXF_Open", [&] { return board_.WXF_Open(&opened, 0, kWxfAnyBoard); });
  if (r.fault == BoardFault::Unavailable) return r;
  if (opened == 0) {
    if (r.ok()) r = {BoardFault::Failed, 0, QStringLiteral("WXF_Open gave no handle")};
    return r;
  }
  if (r.ok()) r = call("WXF_Initialize", [&] { return board_.WXF_Initialize(opened); });
  if (!r.ok()) {
    // A board that cannot be set up is not used; its handle goes back.
    (void)call("WXF_Close", [&] { return board_.WXF_Close(opened); });
    return r;
  }
  handle_ = opened;
  return {};
}

BoardResult BinaryLines::close() {
  const WxfHandle h = handle_;
  handle_ = 0;
  return call("WXF_Close", [&] { return board_.WXF_Close(h); });
}

// Without a board (handle 0) the library refuses every port call; the window
// said so as it opened, and its runs step through their lists all the same.
// A library that cannot be used is told all the same.
BoardResult BinaryLines::readBusy(bool& busy) {
  std::uint8_t value = 0;
  BoardResult r = call("WXF_PortRead", [&] { return board_.WXF_PortRead(handle_, kBusyPort, &value); });
  if (handle_ == 0 && r.fault == BoardFault::Failed) r = {};
  busy = r.ok() && (value & 1) != 0;
  return r;
}

BoardResult BinaryLines::write(std::uint32_t port, std::uint8_t data, std::uint8_t mask) {
  lastWrite_ = std::chrono::steady_clock::now();
  BoardResult r = call("WXF_PortWrite", [&] { return board_.WXF_PortWrite(handle_, port, data, mask); });
  if (handle_ == 0 && r.fault == BoardFault::Failed) r = {};
  return r;
}

BoardResult BinaryLines::strobe(int widthMs) {
  return timed([&] { return pulseStrobe(widthMs); });
}

BoardResult BinaryLines::writeAfter(int ms, std::uint32_t port, std::uint8_t data, std::uint8_t mask) {
  BoardResult r;
  pause_.stepAfter(lastWrite_, ms, [&] { r = write(port, data, mask); });
  return r;
}

BoardResult BinaryLines::pulseStrobe(int widthMs) {
  if (BoardResult r = write(kControlPort, 0, kStrobe); !r.ok()) return r;
  if (BoardResult r = writeAfter(widthMs, kControlPort, 0xFF, kStrobe); !r.ok()) return r;
  pause_.sleep(widthMs);
  return {};
}

BoardResult BinaryLines::stopPulse(LogSink& log) {
  if (BoardResult r = write(kControlPort, 0, kStop); !r.ok()) return r;
  log.AddLog(kStopSignalLog);
  pause_.sleep(kPulseMs);
  return write(kControlPort, 0xFF, kStop);
}

BoardResult BinaryLines::stopPulseWithStrobe(LogSink& log) {
  log.AddLog(kStopSignalLog);
  return timed([&] {
    if (BoardResult r = write(kControlPort, 0, kStop); !r.ok()) return r;
    if (BoardResult r = write(kControlPort, 0, kStrobe); !r.ok()) return r;
    if (BoardResult r = writeAfter(kPulseMs, kControlPort, 0xFF, kStrobe); !r.ok()) return r;
    return write(kControlPort, 0xFF, kStop);
  });
}

QByteArray BinaryLines::pairs(qint64 n) {
  QByteArray values;
  for (int transfer = 0; transfer < 4; ++transfer) {
    const int shift = 6 - 2 * transfer;
    // The pair's higher bit goes on D0, the lower on D1; D2 marks the first transfer.
    int v = int((n >> (shift + 1)) & 1) | int((n >> shift) & 1) << 1;
    if (transfer == 0) v |= 4;
    values += char(std::uint8_t(~v));
  }
  return values;
}

std::uint8_t BinaryLines::eightBits(qint64 n, bool positiveLogic) {
  const auto v = std::uint8_t(n);
  return positiveLogic ? v : std::uint8_t(~v);
}

BoardResult BinaryLines::sendPairs(qint64 n, int widthMs) {
  const QByteArray values = pairs(n);
  return timed([&] {
    for (const char v : values) {
      if (BoardResult r = write(kDataPort, std::uint8_t(v), 0xFF); !r.ok()) return r;
      if (BoardResult r = pulseStrobe(widthMs); !r.ok()) return r;
    }
    return BoardResult{};
  });
}

BoardResult BinaryLines::sendTenBits(qint64 n, bool positiveLogic, int widthMs) {
  const Parallel lines = tenBits(n, positiveLogic);
  return timed([&] {
    if (BoardResult r = write(kDataPort, lines.low, 0xFF); !r.ok()) return r;
    if (BoardResult r = write(kControlPort, lines.high, kHighBits); !r.ok()) return r;
    return pulseStrobe(widthMs);
  });
}

BoardResult BinaryLines::sendEightBits(qint64 n, bool positiveLogic) {
  const std::uint8_t data = eightBits(n, positiveLogic);
  return timed([&] {
    if (BoardResult r = write(kDataPort, data, 0xFF); !r.ok()) return r;
    if (BoardResult r = writeAfter(kSettleMs, kControlPort, 0, kStrobe); !r.ok()) return r;
    return writeAfter(kPulseMs, kControlPort, 0xFF, kStrobe);
  });
}

QString withDriverProblem(const QString& message) {
  const QString path = qEnvironmentVariable("CORVEX_FTD2XX");
  if (path.isEmpty()) return message;
  QLibrary driver(path);
  if (driver.load()) {
    // Loaded for the check only; the board library holds its own reference.
    driver.unload();
    return message;
  }
  return message + QStringLiteral("\r\nドライバライブラリを読み込めません（CORVEX_FTD2XX）：") + path +
         QStringLiteral("\r\n") + driver.errorString();
}

}  // namespace kestrel
