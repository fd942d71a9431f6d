#include "sessions/SerialSession.h"

#include "core/Bcc.h"
#include "core/LogSink.h"
#include "core/LinkPort.h"
#include "core/Pause.h"

namespace kestrel {

bool SerialSession::send(const QByteArray& bytes, const QString& logLine) {
  if (!link_.write(bytes)) {
    log_.AddLog(link_.isOpen() ? kWriteFailedLog : kPortNotOpenLog, LineKind::Note);
    return false;
  }
  if (!logLine.isEmpty()) log_.AddLog(logLine);
  return true;
}

void SerialSession::logReceived(quint8 byte) {
  const QString line = byte == kAck   ? QStringLiteral("[受信]：ACK(06h)")
                       : byte == kNak ? QStringLiteral("[受信]：NAK(15h)")
                                      : QStringLiteral("[受信]：(%1h)").arg(hexText(byte));
  log_.AddLog(line, LineKind::Received);
}

std::optional<quint8> SerialSession::readOne() {
  const QByteArray data = link_.read();
  if (data.isEmpty()) return std::nullopt;
  return quint8(data[0]);
}

QByteArray SerialSession::readBlock(int waitMs) {
  if (link_.InBufferCount() == 0) return {};
  pause_.sleep(waitMs);
  return link_.read();
}

}  // namespace kestrel
