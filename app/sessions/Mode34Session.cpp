#include "sessions/Mode34Session.h"

#include "core/Bcc.h"
#include "core/ChannelEntry.h"
#include "core/SessionEvents.h"
#include "core/LinkPort.h"
#include "core/Pause.h"

#include <algorithm>
#include <array>

namespace kestrel {

namespace {

constexpr int kFrameGapMs = 3;

struct CommandFrame {
  qint16 state;
  QByteArray bytes;
  QString log;
};

// The volume lines end without their closing parenthesis, as the unit's
// testers have always read them.
QByteArray commandFrame(quint8 code) { return stxFrame(QByteArray(1, char(code))); }

const std::array<CommandFrame, 7> kCommands{{
    {10, commandFrame(0xFF), QStringLiteral("[送信]：STOP (STX+FFh+ETX+BCC)")},
    {20, commandFrame(0xFE), QStringLiteral("[送信]：RESET (STX+FEh+ETX+BCC)")},
    {30, commandFrame(0xFB), QStringLiteral("[送信]：音量減衰-6dB (STX+FBh+ETX+BCC")},
    {30, commandFrame(0xFC), QStringLiteral("[送信]：音量減衰-14dB (STX+FCh+ETX+BCC")},
    {30, commandFrame(0xFD), QStringLiteral("[送信]：音量減衰ﾃﾞﾌｫﾙﾄ (STX+FDh+ETX+BCC")},
    {40, QByteArray("\x05", 1), QStringLiteral("[送信]：ENQ単独 (ENQ)")},
    {50, stxFrame("001"), QStringLiteral("[送信]：CH1単独 (STX+30h30h31h+ETX+BCC)")},
}};

}  // namespace

Mode34Session::Mode34Session(LinkPort& link, SessionEvents& log, Pause& pause) : SerialSession(link, log, pause) {
  InitForm();
}

void Mode34Session::InitForm() {
  CommandState = 0;
  load({}, ChannelUnit);
}

void Mode34Session::Send(const QList<qint64>& channels, int channelUnit) {
  load(channels, channelUnit);
  CommandState = 1;
  runStarted(channels);
  sendFrame(QByteArray(1, char(kEnq)), QStringLiteral("[送信]：ENQ(05h)"));
}

void Mode34Session::sendSingle(qint16 state, const QByteArray& bytes, const QString& logLine) {
  CommandState = state;
  if (sendFrame(bytes, logLine) && state == 10) finished(RunOutcome::Stopped);
}

void Mode34Session::SendCommand(Command command) {
  const CommandFrame& c = kCommands[std::size_t(command)];
  sendSingle(c.state, c.bytes, c.log);
}

void Mode34Session::SendSheetNo(int k) {
  sendSingle(30, commandFrame(quint8(0xC8 + k)),
             QStringLiteral("[送信]：シートNo送信 %1").arg(k + 1, 2, 10, QLatin1Char('0')));
}

void Mode34Session::OnComm(int event) {
  if (event != LinkPort::kEventReceive) {
    log_.AddLog(QStringLiteral("[受信Error <<CommEventState : %1>>").arg(event), LineKind::Received);
    return;
  }
  const QByteArray block = readBlock(kReadWaitMs);
  if (block.isEmpty() || !handle(block)) return;
  if (CommandState == 2 && ListRemain > 0) nextFrame();
}

bool Mode34Session::handle(const QByteArray& block) {
  const quint8 first = quint8(block[0]);
  if (first == kStx) {
    quint8 sum = 0;
    for (qsizetype i = 1; i + 1 < block.size(); ++i) sum ^= quint8(block[i]);
    if (block.size() < 2 || sum != quint8(block.back())) {
      log_.AddLog(QStringLiteral("[受信Error]：BCCﾁｪｯｸ"), LineKind::Received);
      return false;
    }
    onReport(block);
    answered(AnswerKind::Report, block);
  } else if (first == kAck || first == kRefusal) {
    const QString line = first == kAck           ? QStringLiteral("[受信]：ACK(06h)")
                         : CommandState == 30    ? QStringLiteral("[受信]：再生中コマンド無効 [！] (21h)")
                                                 : QStringLiteral("[受信]：[！] (21h)");
    log_.AddLog(line, LineKind::Received);
    answered(first == kAck ? AnswerKind::Ack : AnswerKind::Nak, block);
    if (first == kRefusal) refused(line);
    const bool lastFrame = CommandState == 2 && ListRemain == 0;
    if (CommandState == 1)
      CommandState = 2;
    else if (lastFrame)
      CommandState = 0;
    else if (CommandState == 10 || CommandState == 20 || CommandState == 30 || CommandState == 40)
      CommandState = 0;
    if (lastFrame && first == kAck) finished(RunOutcome::Complete);
  } else if (first == kNak) {
    const QString line = QStringLiteral("[受信]：NAK(15h)");
    log_.AddLog(line, LineKind::Received);
    answered(AnswerKind::Nak, block);
    refused(line);
  } else {
    log_.AddLog(QStringLiteral("[受信]：(%1)").arg(hexDump(block)), LineKind::Received);
    answered(AnswerKind::Other, block);
  }
  return true;
}

void Mode34Session::onReport(const QByteArray& block) {
  const QString dump = hexDump(block);
  const quint8 second = block.size() > 1 ? quint8(block[1]) : 0;
  if (second == 0xFF) {
    log_.AddLog(QStringLiteral("[受信]：STOP(%1)").arg(dump), LineKind::Received);
    return;
  }
  if (second == 0xFE) {
    log_.AddLog(QStringLiteral("[受信]：RESET(%1)").arg(dump), LineKind::Received);
    return;
  }
  // Three digits make the channel; a shorter report shows what it carries.
  QString channel;
  const QByteArray digits = block.mid(1, 3);
  if (digits.size() == 3 && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    channel = QString::fromLatin1(digits);
  } else {
    for (qsizetype i = 1; i < block.size() - 1 && quint8(block[i]) != kEtx; ++i)
      channel += block[i] >= 0x20 && block[i] < 0x7F ? QChar(block[i]) : QChar(u'?');
  }
  log_.AddLog(QStringLiteral("[受信]：IN%1 (%2)").arg(channel, dump), LineKind::Received);
}

void Mode34Session::nextFrame() {
  QStringList channels;
  const QList<qint64> taken = take();
  for (const qint64 channel : taken) channels.append(zeroPadded(channel, 3));
  const std::array<QByteArray, 4> parts = stxFrameParts(channels.join(QString()).toLatin1());
  bool sent = true;
  for (const QByteArray& part : parts) {
    pause_.sleep(kFrameGapMs);
    if (!(sent = send(part))) break;
  }
  if (!sent) {
    // Channels that did not reach the unit are still to be sent.
    rewind();
    return;
  }
  log_.AddLog(QStringLiteral("[送信]：STX(02h)+%1+ETX(03h)+BCC(%2h)").arg(channels.join(u','), hexText(quint8(parts[3][0]))));
  frameSent(parts[0] + parts[1] + parts[2] + parts[3], taken);
  progressed(ListTotal - ListRemain, ListTotal);
}

void Mode34Session::Unload() { pause_.doEvents(); }

}  // namespace kestrel
