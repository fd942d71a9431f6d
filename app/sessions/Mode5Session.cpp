#include "sessions/Mode5Session.h"

#include "core/Bcc.h"
#include "core/SessionEvents.h"
#include "core/LinkPort.h"
#include "core/Pause.h"

namespace kestrel {

namespace {

const QByteArray kStop("\x10\x02\x44\x10\x03\x57", 6);
const QByteArray kDleAck("\x10\x06\x00", 3);
const QByteArray kDleNak("\x10\x15\x00", 3);
const QString kSentRule = QStringLiteral("送信") + QString(79, u'-');
const QString kReceivedRule = QStringLiteral("受信") + QString(82, u'-');
constexpr qsizetype kChannelBytesPerLine = 20;

}  // namespace

Mode5Session::Mode5Session(LinkPort& link, SessionEvents& log, Pause& pause) : SerialSession(link, log, pause) { InitForm(); }

void Mode5Session::InitForm() { partial_.clear(); }

char Mode5Session::countCharacter(qsizetype channels) {
  if (channels <= 15) return char(0x30 + channels);
  if (channels <= 30) return char(0x40 + channels - 16);
  return 0x4F;
}

QByteArray Mode5Session::playList(const QList<qint64>& channels) {
  QByteArray body;
  body += 'C';
  body += countCharacter(channels.size());
  for (const qint64 channel : channels) {
    const auto low = quint8(channel);
    body += char(0x30 + (low >> 4));
    body += char(0x30 + (low & 0x0F));
  }
  body += "\x10\x03";
  char bcc = 0;
  for (const char c : body) bcc ^= c;
  return "\x10\x02" + body + bcc;
}

void Mode5Session::Send(const QList<qint64>& channels) {
  ChannelList.assign(channels.begin(), channels.end());
  const QByteArray message = playList(channels);
  runStarted(channels);
  if (!send(message)) return;
  frameSent(message, channels);
  log_.AddLog(kSentRule);
  log_.AddLog(hexDump(message.left(4)));
  const QByteArray channelBytes = message.mid(4, message.size() - 7);
  for (qsizetype at = 0; at < channelBytes.size(); at += kChannelBytesPerLine)
    log_.AddLog(hexDump(channelBytes.mid(at, kChannelBytesPerLine)));
  log_.AddLog(hexDump(message.right(3)));
}

void Mode5Session::sendFixed(const QByteArray& bytes) {
  if (!sendFrame(bytes)) return;
  log_.AddLog(kSentRule);
  log_.AddLog(hexDump(bytes));
}

void Mode5Session::SendStop() {
  sendFixed(kStop);
  finished(RunOutcome::Stopped);
}

void Mode5Session::SendAck() { sendFixed(kDleAck); }

void Mode5Session::SendNak() { sendFixed(kDleNak); }

void Mode5Session::logReceived(const QByteArray& message) {
  log_.AddLog(kReceivedRule, LineKind::Received);
  log_.AddLog(hexDump(message), LineKind::Received);
}

void Mode5Session::OnComm(int event) {
  if (event != LinkPort::kEventReceive) return;
  const QByteArray block = readBlock(kReadWaitMs);
  if (block.isEmpty()) return;
  QByteArray data = partial_ + block;
  partial_.clear();
  // An ACK or NAK is three bytes; whatever follows it in the same arrival is
  // a message of its own, not noise.
  while (!data.isEmpty() && quint8(data[0]) == kDle) {
    if (data.size() < 3) {
      partial_ = data;
      return;
    }
    const quint8 b2 = quint8(data[1]), b3 = quint8(data[2]);
    if (b2 == kStx && b3 == 0x39) {
      logReceived(data);
      answered(AnswerKind::Report, data);
      finished(RunOutcome::Complete);
      if (EndAnswer == EndAck) SendAck();
      if (EndAnswer == EndNak) SendNak();
      return;
    }
    if ((b2 != kAck && b2 != kNak) || b3 != 0x00) return;
    logReceived(data.left(3));
    answered(b2 == kAck ? AnswerKind::DleAck : AnswerKind::DleNak, data.left(3));
    if (b2 == kNak) refused(hexDump(data.left(3)));
    if (b2 == kAck) progressed(int(ChannelList.size()), int(ChannelList.size()));
    data.remove(0, 3);
  }
}

void Mode5Session::Unload() { pause_.doEvents(); }

}  // namespace kestrel
