#pragma once
// The buffered RS-232C protocol: ENQ, then one STX/ETX/BCC frame of channels
// per ACK; a NAK has the same channels sent again at the next ACK.

#include "core/ChannelCursor.h"
#include "sessions/SerialSession.h"

#include <QByteArray>
#include <QString>
#include <QList>
#include <functional>

namespace kestrel {

// What tells one buffered window from another.
struct BufferedVariant {
  QString caption;
  QString settings;
  qint16 maxChannel;
  int channelWidth;  // digits per channel on the line
  bool linePrefix;   // frames start "#00" + the line number
  QString autoCaption;
  QString help;
  QString unitDefault;
  bool volumeButtons;
  QByteArray stopCommand;
  QString stopLog;
  QString rangeMessage;
};

// Sub-modes 0 (255 channels), 1 (250 channels, volume) and 2 (TARN5-KLV).
const BufferedVariant& bufferedVariant(int subMode);
extern const BufferedVariant kBuffered1000;      // the standard 1000-channel unit
extern const BufferedVariant kBufferedTarn4Lan;  // the LAN-capable 1000-channel unit, with line numbers

class BufferedSession : public SerialSession, private ChannelCursor<qint64> {
 public:
  enum Volume : qint16 { VolumeNone = 0, Volume6dB = 1, Volume14dB = 2, VolumeDefault = 3, VolumeSent = 5 };
  static constexpr int kFrameGapMs = 3;

  BufferedSession(const BufferedVariant& variant, LinkPort& link, SessionEvents& log, Pause& pause);
  BufferedSession(int subMode, LinkPort& link, SessionEvents& log, Pause& pause);

  void InitForm() override;
  // 再生, once the entries have passed their check: starts a run.
  void Play(const QList<qint64>& channels, int channelUnit);
  void Stop();
  void SendVolume(Volume command);
  void OnComm(int event) override;
  void Unload() override;

  const BufferedVariant& variant() const { return variant_; }

  // The line option selected now (1 to 9), or 0 when none is; read for
  // every frame of a window with line numbers.
  std::function<int()> selectedLine;

  // The window's fields.
  qint16 SubMode = -1;  // -1 in the windows that take none
  qint16 MaxChannel;
  using ChannelCursor::ChannelList;
  using ChannelCursor::ListPos;
  using ChannelCursor::ListRemain;
  using ChannelCursor::ListTotal;
  using ChannelCursor::ChannelUnit;
  using ChannelCursor::FrameCount;
  qint16 RepeatOn = 0;
  bool StopRequest = false;
  // Set by 停止 until the next 再生: the unit answers the outstanding frame
  // and the stop, and neither answer may release another frame.
  bool Stopped = false;
  bool FramePending = false;
  bool LinkUp = false;
  bool AckReceived = false;
  qint16 VolumeCmd = VolumeNone;
  qint16 LineNo = 1;
  bool ManualMode = false;  // OptMode(1) is selected

 private:
  void onAck();
  void onNak();
  void nextFrame();
  bool writeFrame(const QByteArray& payload, const QString& text);

  const BufferedVariant& variant_;
};

}  // namespace kestrel
