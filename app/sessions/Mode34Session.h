#pragma once
// Serial control modes A and B of the HS-41/42 units: a list of channels in
// STX frames released by the unit's replies, single command frames, and the
// unit's own STX reports.

#include "core/ChannelCursor.h"
#include "sessions/SerialSession.h"

#include <QByteArray>
#include <QString>
#include <QList>

namespace kestrel {

class Mode34Session : public SerialSession, private ChannelCursor<qint64> {
 public:
  static constexpr qint16 kMaxChannel = 20;
  static constexpr quint8 kRefusal = 0x21;

  enum Command { Stop, Reset, Vol6, Vol14, VolDefault, BareEnq, Ch1 };

  Mode34Session(LinkPort& link, SessionEvents& log, Pause& pause);

  void InitForm() override;
  // 送信, once the entries have passed their check.
  void Send(const QList<qint64>& channels, int channelUnit);
  void SendCommand(Command command);
  // Sheet number k + 1, k = 0..15.
  void SendSheetNo(int k);
  void OnComm(int event) override;
  void Unload() override;

  // The window's fields.
  qint16 MaxChannel = kMaxChannel;
  using ChannelCursor::ChannelList;
  using ChannelCursor::ListPos;
  using ChannelCursor::ListRemain;
  using ChannelCursor::ChannelUnit;
  qint16 CommandState = 0;

 private:
  // One received block, by its first byte; false when it stops the handler.
  bool handle(const QByteArray& block);
  void onReport(const QByteArray& block);
  void nextFrame();
  void sendSingle(qint16 state, const QByteArray& bytes, const QString& logLine);
};

}  // namespace kestrel
