#pragma once
// RS-232C control mode 1: channel lines of 3-digit numbers ended by CR. The
// first line goes out at the first ACK after "sts"; after that each line waits
// for two ACKs of the unit.

#include "core/ChannelCursor.h"
#include "sessions/SerialSession.h"

#include <QList>

namespace kestrel {

class Mode1Session : public SerialSession, private ChannelCursor<qint64> {
 public:
  static constexpr int kChannels = 255;

  Mode1Session(LinkPort& link, SessionEvents& log, Pause& pause);

  void InitForm() override;
  // 再生, once the entries have passed their check.
  void Play(const QList<qint64>& channels, int channelUnit);
  void Stop();
  void OnComm(int event) override;
  void Unload() override;

  // The window's fields.
  using ChannelCursor::ChannelList;
  using ChannelCursor::ListPos;
  using ChannelCursor::ListRemain;
  using ChannelCursor::ChannelUnit;
  qint16 FirstAck = 0;
  qint16 SecondAck = 0;
  qint16 ThirdAck = 0;
  qint16 StopRequest = 0;
  // Set by 停止 until the next 再生: once the stop is answered, later ACKs
  // still move the flags but release no line.
  bool Stopped = false;

 private:
  bool sendStop(const QString& logLine);
  void onAck();
};

}  // namespace kestrel
