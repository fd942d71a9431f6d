#include "sessions/SerialSession.h"

#include "core/Bcc.h"
#include "core/LinkPort.h"
#include "core/Pause.h"

namespace kestrel {

bool SerialSession::send(const QByteArray& bytes, const QString& logLine) {
  if (!link_.write(bytes)) {
    const QString& line = link_.isOpen() ? kWriteFailedLog : kPortNotOpenLog;
    log_.AddLog(line, LineKind::Fault);
    finished(RunOutcome::PortLost, line);
    return false;
  }
  lastWrite_ = EventClock::now();
  if (!logLine.isEmpty()) log_.AddLog(logLine);
  return true;
}

bool SerialSession::sendFrame(const QByteArray& bytes, const QString& logLine) {
  if (!send(bytes, logLine)) return false;
  frameSent(bytes);
  return true;
}

void SerialSession::PortLost(const QString& reason) {
  const QString line = QStringLiteral("[エラー]：通信ポートが切断されました（%1）").arg(reason);
  log_.AddLog(line, LineKind::Fault);
  finished(RunOutcome::PortLost, line);
}

void SerialSession::logReceived(quint8 byte) {
  const QString line = byte == kAck   ? QStringLiteral("[受信]：ACK(06h)")
                       : byte == kNak ? QStringLiteral("[受信]：NAK(15h)")
                                      : QStringLiteral("[受信]：(%1h)").arg(hexText(byte));
  log_.AddLog(line, LineKind::Received);
  answered(byte == kAck ? AnswerKind::Ack : byte == kNak ? AnswerKind::Nak : AnswerKind::Other,
           QByteArray(1, char(byte)));
  if (byte == kNak) refused(line);
}

void SerialSession::runStarted(const QList<qint64>& channels) {
  running_ = true;
  log_.runStarted({channels, int(channels.size())});
}

void SerialSession::frameSent(const QByteArray& bytes, const QList<qint64>& channels) {
  log_.frameSent({channels, bytes, lastWrite_.value_or(EventClock::now())});
}

void SerialSession::answered(AnswerKind kind, const QByteArray& bytes) {
  const EventClock::time_point at = arrived_ && lastWrite_ && *arrived_ >= *lastWrite_ ? *arrived_ : EventClock::now();
  arrived_.reset();
  const EventClock::duration since = lastWrite_ ? at - *lastWrite_ : EventClock::duration(-1);
  log_.answer({kind, bytes, since});
}

void SerialSession::finished(RunOutcome outcome, const QString& detail) {
  // A port that fails ends whatever goes on, a run or not.
  if (!running_ && outcome != RunOutcome::PortLost) return;
  running_ = false;
  log_.runFinished({outcome, detail});
}

std::optional<quint8> SerialSession::readOne() {
  const QByteArray data = link_.read();
  if (data.isEmpty()) return std::nullopt;
  return quint8(data[0]);
}

QByteArray SerialSession::readBlock(int waitMs) {
  if (link_.InBufferCount() == 0) return {};
  arrivedNow();
  pause_.sleep(waitMs);
  return link_.read();
}

}  // namespace kestrel
