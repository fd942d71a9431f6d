#include "sessions/Plx6Session.h"

#include "core/Bcc.h"
#include "core/SessionEvents.h"
#include "core/LinkPort.h"
#include "core/Pause.h"

namespace kestrel {

Plx6Session::Plx6Session(LinkPort& link, SessionEvents& log, Pause& pause) : SerialSession(link, log, pause) { InitForm(); }

QStringList Plx6Session::hexChannels(const QList<qint64>& channels) {
  QStringList list;
  for (const qint64 channel : channels)
    list.append(QStringLiteral("%1").arg(channel, 2, 16, QLatin1Char('0')).toUpper());
  return list;
}

void Plx6Session::InitForm() {
  CommandState = Idle;
  load({}, ChannelUnit);
  ResetReceiver();
}

void Plx6Session::ResetReceiver() {
  RxState = -1;
  RxIndex = -1;
  RxBCC = 0;
  RxChars = 0;
  RxBuf.clear();
}

void Plx6Session::Play(const QList<qint64>& channels, int channelUnit) {
  load(channels, channelUnit);
  CommandState = EnqSent;
  runStarted(channels);
  sendFrame(QByteArray("\x10\x05", 2), QStringLiteral("[送信]：DLE(10h)+ENQ(05h)"));
}

void Plx6Session::Stop() {
  CommandState = StopSent;
  if (sendFrame(QByteArray("\x01", 1), QStringLiteral("[送信]：STOP(01h)"))) finished(RunOutcome::Stopped);
}

void Plx6Session::OnComm(int event) {
  if (event != LinkPort::kEventReceive) return;
  const QByteArray block = readBlock(kReadWaitMs);
  if (!block.isEmpty() && receive(block) && CommandState == Ready && ListRemain > 0) nextFrame();
}

QString Plx6Session::dump() const { return hexDump(RxBuf); }

void Plx6Session::logReceived(const QString& line) { log_.AddLog(line, LineKind::Received); }

bool Plx6Session::receive(const QByteArray& block) {
  for (const char c : block) {
    const auto b = quint8(c);
    RxBuf.append(c);
    ++RxIndex;
    switch (RxState) {
      case -1:
        if (b == kStx) {
          RxState = 10;
        } else if (b == kDle) {
          RxState = 0;
        } else {
          logReceived(QStringLiteral("[受信]：受信期待待ちｴﾗｰ(%1)").arg(hexDump(QByteArray(1, c))));
          ResetReceiver();
          return false;
        }
        break;
      case 0:
        onDle(b);
        ResetReceiver();
        break;
      case 10:
        ++RxChars;
        if (b == kEtx) {
          RxBCC = 0;
          for (const char r : RxBuf)
            if (quint8(r) != kStx) RxBCC ^= quint8(r);
          RxState = 11;
        } else if (RxChars > kMaxText) {
          logReceived(QStringLiteral("[受信Error]：文字制御ｺｰﾄﾞｵｰﾊﾞｰ(%1)").arg(dump()));
          ResetReceiver();
          return false;
        }
        break;
      default:  // 11: the check byte
        if (b != RxBCC) {
          logReceived(QStringLiteral("[受信Error]：BCCﾁｪｯｸ"));
          ResetReceiver();
          return false;
        }
        onText();
        ResetReceiver();
        break;
    }
  }
  return true;
}

void Plx6Session::onDle(quint8 code) {
  switch (code) {
    case kAck:
      logReceived(QStringLiteral("[受信]：DLE+ACK(%1)").arg(dump()));
      answered(AnswerKind::DleAck, RxBuf);
      if (CommandState == EnqSent) CommandState = AckReceived;
      break;
    case kNak:
      refuse(QStringLiteral("[受信]：DLE+NAK(%1)").arg(dump()), AnswerKind::DleNak);
      break;
    case 0x43:
      logReceived(QStringLiteral("[受信]：DLE+C(%1)").arg(dump()));
      answered(AnswerKind::Report, RxBuf);
      break;
    default: refuse(QStringLiteral("[受信]：該当なし(%1)").arg(dump()), AnswerKind::Other); break;
  }
}

void Plx6Session::refuse(const QString& line, AnswerKind kind) {
  logReceived(line);
  answered(kind, RxBuf);
  refused(line);
  CommandState = Idle;
  finished(RunOutcome::Refused, line);
}

void Plx6Session::onText() {
  // The text: everything but STX, ETX and the check byte that ends it.
  QString text;
  for (qsizetype i = 0; i + 1 < RxBuf.size(); ++i) {
    const auto b = quint8(RxBuf[i]);
    if (b != kStx && b != kEtx) text += QChar(b);
  }
  const QString line = QStringLiteral("[受信]：STX+【%1】+BCC(%2)").arg(text, dump());
  if (text == u"Trap " || text == u"Stop ") return refuse(line, AnswerKind::Report);
  logReceived(line);
  answered(text == u"Ready" ? AnswerKind::Ready : AnswerKind::Report, RxBuf);
  if (text == u"Ready") {
    const bool lastFrame = CommandState == FrameSent && ListRemain == 0;
    if (CommandState == AckReceived)
      CommandState = Ready;
    else if (CommandState == FrameSent)
      CommandState = ListRemain > 0 ? Ready : Idle;
    else
      CommandState = Idle;
    if (lastFrame) finished(RunOutcome::Complete);
  }
}

void Plx6Session::nextFrame() {
  const QList<qint64> taken = take();
  const QStringList channels = hexChannels(taken);
  const QByteArray frame = stxFrame(channels.join(QString()).toLatin1());
  if (!send(frame)) {
    // Channels that did not reach the unit are still to be sent.
    rewind();
    return;
  }
  log_.AddLog(QStringLiteral("[送信]：STX(02h)"));
  // Twenty items a line; a line that more follow ends with their comma.
  for (qsizetype at = 0; at < channels.size(); at += kItemsPerLine) {
    QStringList items;
    for (const QString& channel : channels.mid(at, kItemsPerLine)) items.append(channel + u'h');
    const QString comma = at + kItemsPerLine < channels.size() ? QStringLiteral(",") : QString();
    log_.AddLog(QStringLiteral("[送信]：") + items.join(u',') + comma);
  }
  log_.AddLog(QStringLiteral("[送信]：ETX(03h)"));
  log_.AddLog(QStringLiteral("[送信]：BCC(%1)").arg(hexDump(frame.right(1))));
  frameSent(frame, taken);
  progressed(ListTotal - ListRemain, ListTotal);
  CommandState = FrameSent;
}

void Plx6Session::Unload() { pause_.doEvents(); }

}  // namespace kestrel
