#pragma once
// The buffered RS-232C protocol: ENQ, then one STX/ETX/BCC frame of channels
// per ACK; a NAK has the same channels sent again at the next ACK.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace kestrel {

class LinkPort;
class LogSink;
class Pause;

struct BufferedVariant {
  QString caption;
  QString settings;
  qint16 maxChannel;
  QString autoCaption;
  bool volumeButtons;
  QByteArray stopCommand;
  QString stopLog;
  QString rangeMessage;
};

// Sub-modes 0 (255 channels), 1 (250 channels, volume) and 2 (TARN5-KLV).
const BufferedVariant& bufferedVariant(int subMode);

class BufferedSession {
 public:
  enum Volume : qint16 { VolumeNone = 0, Volume6dB = 1, Volume14dB = 2, VolumeDefault = 3, VolumeSent = 5 };
  static constexpr int kReadWaitMs = 20;
  static constexpr int kFrameGapMs = 3;

  BufferedSession(int subMode, LinkPort& link, LogSink& log, Pause& pause);

  void InitForm();
  // 再生, once the entries have passed their check.
  void Play(const QStringList& channels, int channelUnit);
  void Stop();
  void SendVolume(Volume command);
  // The communication event.
  void OnComm(int event);
  // The window is closing: the unit is told to stop.
  void Unload();

  const BufferedVariant& variant() const { return variant_; }
  const QString& channel(int position) const { return ChannelList[std::size_t(position)]; }

  // The window's fields.
  qint16 SubMode;
  qint16 MaxChannel;
  std::vector<QString> ChannelList;  // from index 1
  qint16 ListPos = 0;
  qint16 ListRemain = 0;
  qint16 ListTotal = 0;
  qint16 ChannelUnit = 1;
  qint16 RepeatOn = 0;
  bool StopRequest = false;
  bool FramePending = false;
  bool LinkUp = false;
  bool AckReceived = false;
  qint16 FrameCount = 0;
  qint16 VolumeCmd = VolumeNone;
  bool ManualMode = false;  // OptMode(1) is selected

 private:
  bool send(const QByteArray& bytes, const QString& logLine);
  void onAck();
  void onNak();
  void nextFrame();

  const BufferedVariant& variant_;
  LinkPort& link_;
  LogSink& log_;
  Pause& pause_;
};

inline const QString kPortNotOpenLog = QStringLiteral("[エラー]：通信ポートが開いていません。");

}  // namespace kestrel
