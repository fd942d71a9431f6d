#include "BufferedSession.h"

#include "Bcc.h"
#include "LogGrid.h"
#include "SerialLink.h"
#include "shell/Pause.h"

#include <array>

namespace kestrel {

namespace {

constexpr quint8 kStx = 0x02, kEtx = 0x03, kEnq = 0x05, kAck = 0x06, kNak = 0x15;

const QString kRange255 = QStringLiteral("チャンネル番号は１～２５５までの範囲で入力して下さい。");
const QString kAuto255 = QStringLiteral("オートモード（１～２５５まで自動再生）");

const std::array<BufferedVariant, 3> kVariants{{
    {QStringLiteral("バッファ機能付RS232C制御(MAX255CH 9600,N,8,1)"), QStringLiteral("9600,N,8,1"), 255, kAuto255,
     false, QByteArray("\xFF", 1), QStringLiteral("[送信]：STOP(FFh)"), kRange255},
    {QStringLiteral("バッファ機能付RS232C制御(MAX250CH 9600,N,8,1)"), QStringLiteral("9600,N,8,1"), 250,
     QStringLiteral("オートモード（１～２５０まで自動再生）"), true, QByteArray("\xFF", 1),
     QStringLiteral("[送信]：STOP(FFh)"), QStringLiteral("チャンネル番号は１～２５０までの範囲で入力して下さい。")},
    {QStringLiteral("TARN5-KLV制御"), QStringLiteral("19200,E,8,1"), 255, kAuto255, false,
     QByteArray("\x02\xFF\x03\xFC", 4), QStringLiteral("[送信]：STOP(02hFFh03hFCh)"), kRange255},
}};

struct VolumeFrame {
  QByteArray bytes;
  QString log;
};

// Payloads 251, 252 and 253 with their BCCs, written as fixed bytes.
const std::array<VolumeFrame, 3> kVolumeFrames{{
    {QByteArray("\x02\x32\x35\x31\x03\x35", 6), QStringLiteral("[送信]：音量減衰(-6dB)")},
    {QByteArray("\x02\x32\x35\x32\x03\x36", 6), QStringLiteral("[送信]：音量減衰(-14dB)")},
    {QByteArray("\x02\x32\x35\x33\x03\x37", 6), QStringLiteral("[送信]：音量減衰(ﾃﾞﾌｫﾙﾄ)")},
}};

}  // namespace

const BufferedVariant& bufferedVariant(int subMode) {
  return kVariants[std::size_t(subMode >= 0 && subMode <= 2 ? subMode : 0)];
}

BufferedSession::BufferedSession(int subMode, LinkPort& link, LogSink& log, Pause& pause)
    : SubMode(qint16(subMode)),
      MaxChannel(bufferedVariant(subMode).maxChannel),
      variant_(bufferedVariant(subMode)),
      link_(link),
      log_(log),
      pause_(pause) {
  InitForm();
}

void BufferedSession::InitForm() {
  ListRemain = MaxChannel;
  ChannelUnit = 1;
  ChannelList.assign(std::size_t(MaxChannel) + 1, QString());
  LinkUp = AckReceived = StopRequest = false;
  VolumeCmd = VolumeNone;
}

bool BufferedSession::send(const QByteArray& bytes, const QString& logLine) {
  if (!link_.write(bytes)) {
    log_.AddLog(kPortNotOpenLog, LineKind::Note);
    return false;
  }
  if (!logLine.isEmpty()) log_.AddLog(logLine);
  return true;
}

void BufferedSession::Play(const QStringList& channels, int channelUnit) {
  ChannelUnit = qint16(channelUnit);
  ListPos = 0;
  const int count = int(qMin<qsizetype>(channels.size(), MaxChannel));
  for (int i = 0; i < count; ++i) ChannelList[std::size_t(i) + 1] = channels[i];
  ListRemain = qint16(count);
  ListTotal = ListRemain;
  send(QByteArray(1, char(kEnq)), QStringLiteral("[送信]：ENQ(05h)"));
}

void BufferedSession::Stop() {
  StopRequest = true;
  send(variant_.stopCommand, variant_.stopLog);
}

void BufferedSession::SendVolume(Volume command) {
  VolumeCmd = command;
  send(QByteArray(1, char(kEnq)), QStringLiteral("[送信]：ENQ(05h)"));
}

void BufferedSession::OnComm(int event) {
  if (event != SerialLink::kEventReceive) return;
  pause_.sleep(kReadWaitMs);
  const QByteArray data = link_.read();
  if (data.isEmpty()) return;  // another event took it already
  const quint8 b = quint8(data[0]);
  if (b == kAck) {
    onAck();
  } else if (b == kNak) {
    onNak();
  } else {
    log_.AddLog(QStringLiteral("[受信]：(%1h)").arg(hexText(b)), LineKind::Received);
  }
}

void BufferedSession::onAck() {
  LinkUp = true;
  log_.AddLog(QStringLiteral("[受信]：ACK(06h)"), LineKind::Received);
  AckReceived = true;
  FramePending = false;
  if (VolumeCmd >= Volume6dB && VolumeCmd <= VolumeDefault) {
    const VolumeFrame& frame = kVolumeFrames[std::size_t(VolumeCmd - Volume6dB)];
    send(frame.bytes, frame.log);
    VolumeCmd = VolumeSent;
    return;
  }
  if (VolumeCmd == VolumeSent) {
    VolumeCmd = VolumeNone;
    return;
  }
  nextFrame();
}

void BufferedSession::onNak() {
  log_.AddLog(QStringLiteral("[受信]：NAK(%1h)").arg(hexText(kNak)), LineKind::Received);
  AckReceived = false;
  VolumeCmd = VolumeNone;
  if (FramePending) {
    if (ManualMode) LinkUp = false;
    // Rewind once per frame: a second NAK must not reach back into frames
    // the unit already took.
    FramePending = false;
    if (ListPos > 0) {
      ListPos = qint16(ListPos - FrameCount);
      ListRemain = qint16(ListRemain + FrameCount);
    }
  }
  nextFrame();
}

void BufferedSession::nextFrame() {
  if (StopRequest) {
    StopRequest = false;
    return;
  }
  // ListRemain starts at MaxChannel, but before the first 再生 there is no
  // list: an ACK then (a unit announcing itself) must not send empty frames.
  if (!LinkUp || !AckReceived || ListRemain < 1 || ListTotal < 1) return;

  FrameCount = 0;
  QString payload, text;
  for (int i = 1; i <= ChannelUnit; ++i) {
    ++FrameCount;
    ++ListPos;
    --ListRemain;
    payload += channel(ListPos);
    text += channel(ListPos);
    if (ListRemain == 0) break;
    if (i < ChannelUnit) text += u',';
  }

  pause_.sleep(kFrameGapMs);
  if (!send(QByteArray(1, char(kStx)), QStringLiteral("[送信]：STX(02h)"))) return;
  pause_.sleep(kFrameGapMs);
  if (!send(payload.toLatin1(), QString())) return;
  pause_.sleep(kFrameGapMs);
  log_.AddLog(QStringLiteral("[送信]：") + text);
  pause_.sleep(kFrameGapMs);
  if (!send(QByteArray(1, char(kEtx)), QStringLiteral("[送信]：ETX(03h)"))) return;
  const quint8 bcc = CalcBCC(payload);
  if (!send(QByteArray(1, char(bcc)), QStringLiteral("[送信]：BCC(%1h)").arg(hexText(bcc)))) return;

  if (RepeatOn == 1 && ListRemain == 0 && ListTotal != MaxChannel) {
    ListPos = 0;
    ListRemain = ListTotal;
  }
  FramePending = true;
}

void BufferedSession::Unload() {
  pause_.doEvents();
  StopRequest = true;
  link_.writeByte(0xFF);
  pause_.doEvents();
}

}  // namespace kestrel
