#include "sessions/BufferedSession.h"

#include "core/Bcc.h"
#include "core/SessionEvents.h"
#include "core/ChannelEntry.h"
#include "core/LinkPort.h"
#include "core/Pause.h"

#include <array>

namespace kestrel {

namespace {

const QString kRange255 = QStringLiteral("チャンネル番号は１～２５５までの範囲で入力して下さい。");
const QString kAuto255 = QStringLiteral("オートモード（１～２５５まで自動再生）");
const QByteArray kStopFF("\xFF", 1);
const QString kStopFFLog = QStringLiteral("[送信]：STOP(FFh)");
const QByteArray kStopFrame = stxFrame(QByteArray(1, '\xFF'));
const QString kStopFrameLog = QStringLiteral("[送信]：STOP(02hFFh03hFCh)");
const QString k08 = QStringLiteral("08");

const std::array<BufferedVariant, 3> kVariants{{
    {QStringLiteral("バッファ機能付RS232C制御(MAX255CH 9600,N,8,1)"), QStringLiteral("9600,N,8,1"), 255, 3, false,
     kAuto255, kHelp255, k08, false, kStopFF, kStopFFLog, kRange255},
    {QStringLiteral("バッファ機能付RS232C制御(MAX250CH 9600,N,8,1)"), QStringLiteral("9600,N,8,1"), 250, 3, false,
     QStringLiteral("オートモード（１～２５０まで自動再生）"), kHelp255, k08, true, kStopFF, kStopFFLog,
     QStringLiteral("チャンネル番号は１～２５０までの範囲で入力して下さい。")},
    {QStringLiteral("TARN5-KLV制御"), QStringLiteral("19200,E,8,1"), 255, 3, false, kAuto255, kHelp255, k08, false,
     kStopFrame, kStopFrameLog, kRange255},
}};

const QString kAuto1000 = QStringLiteral("オートモード（１～１０００まで自動再生）");
const QString kHelp1000 = QStringLiteral("【入力例　1CH→1　15CH→15　145CH→145　1000CH→1000】");
const QString kRange1000 = QStringLiteral("チャンネル番号は１～１０００までの範囲で入力して下さい。");

struct VolumeFrame {
  QByteArray bytes;
  QString log;
};

// Payloads 251, 252 and 253, each frame written at once.
const std::array<VolumeFrame, 3> kVolumeFrames{{
    {stxFrame("251"), QStringLiteral("[送信]：音量減衰(-6dB)")},
    {stxFrame("252"), QStringLiteral("[送信]：音量減衰(-14dB)")},
    {stxFrame("253"), QStringLiteral("[送信]：音量減衰(ﾃﾞﾌｫﾙﾄ)")},
}};

}  // namespace

const BufferedVariant kBuffered1000{QStringLiteral("バッファ機能付RS232C制御(MAX1000CH 19200,E,8,1)"),
                                    QStringLiteral("19200,E,8,1"),
                                    1000,
                                    4,
                                    false,
                                    kAuto1000,
                                    kHelp1000,
                                    QStringLiteral("10"),
                                    false,
                                    kStopFrame,
                                    kStopFrameLog,
                                    kRange1000};

const BufferedVariant kBufferedTarn4Lan{
    QStringLiteral("バッファ機能付RS232C制御 TARN4B用 LAN対応版(MAX1000CH 19200,N,8,1)"),
    QStringLiteral("19200,N,8,1"),
    1000,
    4,
    true,
    kAuto1000,
    kHelp1000,
    k08,
    false,
    kStopFF,
    kStopFFLog,
    kRange1000};

const BufferedVariant& bufferedVariant(int subMode) {
  return kVariants[std::size_t(subMode >= 0 && subMode <= 2 ? subMode : 0)];
}

BufferedSession::BufferedSession(const BufferedVariant& variant, LinkPort& link, SessionEvents& log, Pause& pause)
    : SerialSession(link, log, pause), MaxChannel(variant.maxChannel), variant_(variant) {
  InitForm();
}

BufferedSession::BufferedSession(int subMode, LinkPort& link, SessionEvents& log, Pause& pause)
    : BufferedSession(bufferedVariant(subMode), link, log, pause) {
  SubMode = qint16(subMode);
}

void BufferedSession::InitForm() {
  ListRemain = MaxChannel;
  ChannelUnit = 1;
  ChannelList.assign(std::size_t(MaxChannel) + 1, 0);
  LinkUp = AckReceived = StopRequest = Stopped = false;
  VolumeCmd = VolumeNone;
}

void BufferedSession::Play(const QList<qint64>& channels, int channelUnit) {
  load(channels.mid(0, MaxChannel), channelUnit);
  // A run starts here: a stop the unit never answered is over.
  StopRequest = Stopped = false;
  runStarted(channels.mid(0, MaxChannel));
  sendFrame(QByteArray(1, char(kEnq)), QStringLiteral("[送信]：ENQ(05h)"));
}

void BufferedSession::Stop() {
  StopRequest = Stopped = true;
  if (sendFrame(variant_.stopCommand, variant_.stopLog)) finished(RunOutcome::Stopped);
}

void BufferedSession::SendVolume(Volume command) {
  VolumeCmd = command;
  sendFrame(QByteArray(1, char(kEnq)), QStringLiteral("[送信]：ENQ(05h)"));
}

void BufferedSession::OnComm(int event) {
  if (event != LinkPort::kEventReceive) return;
  arrivedNow();
  pause_.sleep(kReadWaitMs);
  const std::optional<quint8> b = readOne();
  if (!b) return;
  logReceived(*b);
  if (*b == kAck) {
    onAck();
  } else if (*b == kNak) {
    onNak();
  }
}

void BufferedSession::onAck() {
  const bool answeredFrame = FramePending;
  LinkUp = true;
  AckReceived = true;
  FramePending = false;
  if (VolumeCmd >= Volume6dB && VolumeCmd <= VolumeDefault) {
    const VolumeFrame& frame = kVolumeFrames[std::size_t(VolumeCmd - Volume6dB)];
    sendFrame(frame.bytes, frame.log);
    VolumeCmd = VolumeSent;
    return;
  }
  if (VolumeCmd == VolumeSent) {
    VolumeCmd = VolumeNone;
    return;
  }
  nextFrame();
  // The last frame answered and nothing more to send: the list is done.
  if (answeredFrame && !FramePending && ListRemain == 0 && !Stopped) finished(RunOutcome::Complete);
}

void BufferedSession::onNak() {
  AckReceived = false;
  VolumeCmd = VolumeNone;
  if (FramePending) {
    if (ManualMode) LinkUp = false;
    // Rewind once per frame: a second NAK must not reach back into frames
    // the unit already took.
    FramePending = false;
    // After a repeat restart the frame is not taken back.
    if (ListPos > 0) rewind();
  }
  nextFrame();
}

void BufferedSession::nextFrame() {
  if (StopRequest) {
    StopRequest = false;
    return;
  }
  if (Stopped) return;
  // ListRemain starts at MaxChannel, but before the first 再生 there is no
  // list: an ACK then (a unit announcing itself) must not send empty frames.
  if (!LinkUp || !AckReceived || ListRemain < 1 || ListTotal < 1) return;

  QString prefix;
  if (variant_.linePrefix) {
    const int selected = selectedLine ? selectedLine() : 0;
    if (selected >= 1 && selected <= 9) LineNo = qint16(selected);
    prefix = QStringLiteral("#00") + QString::number(LineNo);
  }
  QStringList channels;
  const QList<qint64> taken = take();
  for (const qint64 channel : taken) channels.append(zeroPadded(channel, variant_.channelWidth));
  QStringList items = channels;
  if (!prefix.isEmpty()) items.prepend(prefix);
  const QByteArray payload = (prefix + channels.join(QString())).toLatin1();
  if (!writeFrame(payload, items.join(u','))) {
    // Channels that did not reach the unit are still to be sent.
    rewind();
    FrameCount = 0;
    return;
  }
  frameSent(stxFrame(payload), taken);
  progressed(ListTotal - ListRemain, ListTotal);
  if (RepeatOn == 1 && ListRemain == 0 && ListTotal != MaxChannel) restart();
  FramePending = true;
}

bool BufferedSession::writeFrame(const QByteArray& payload, const QString& text) {
  const auto [stx, digits, etx, bcc] = stxFrameParts(payload);
  pause_.sleep(kFrameGapMs);
  if (!send(stx, QStringLiteral("[送信]：STX(02h)"))) return false;
  pause_.sleep(kFrameGapMs);
  if (!send(digits)) return false;
  pause_.sleep(kFrameGapMs);
  log_.AddLog(QStringLiteral("[送信]：") + text);
  pause_.sleep(kFrameGapMs);
  if (!send(etx, QStringLiteral("[送信]：ETX(03h)"))) return false;
  return send(bcc, QStringLiteral("[送信]：BCC(%1h)").arg(hexText(quint8(bcc[0]))));
}

void BufferedSession::Unload() {
  pause_.doEvents();
  StopRequest = true;
  link_.writeByte(0xFF);
  pause_.doEvents();
}

}  // namespace kestrel
