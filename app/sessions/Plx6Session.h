#pragma once
// The PLX6 controller: DLE ENQ opens a run, the unit paces it with short STX
// texts ("Ready", "Trap ", "Stop "), and channels travel as two hexadecimal
// digits each. The receiver works byte by byte and keeps its state from one
// arrival to the next, so a message may come in pieces.

#include "core/ChannelCursor.h"
#include "sessions/SerialSession.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kestrel {

class Plx6Session : public SerialSession, private ChannelCursor<qint64> {
 public:
  static constexpr qint16 kMaxChannel = 255;
  static constexpr int kMaxText = 5;
  static constexpr int kItemsPerLine = 20;
  enum State : qint16 { Idle = 0, EnqSent = 1, AckReceived = 2, Ready = 3, FrameSent = 4, StopSent = 10 };

  Plx6Session(LinkPort& link, SessionEvents& log, Pause& pause);

  // Channel numbers as the unit takes them: "01" .. "FF".
  static QStringList hexChannels(const QList<qint64>& channels);

  void InitForm() override;
  // 再生, once the entries have passed their check.
  void Play(const QList<qint64>& channels, int channelUnit);
  void Stop();
  void OnComm(int event) override;
  void Unload() override;
  // Feeds one arrival through the receiver; true when the block was handled
  // to its end (no receive error dropped the rest).
  bool receive(const QByteArray& block);
  void ResetReceiver();

  // The window's fields.
  qint16 MaxChannel = kMaxChannel;
  using ChannelCursor::ChannelList;
  using ChannelCursor::ListPos;
  using ChannelCursor::ListRemain;
  using ChannelCursor::ChannelUnit;
  qint16 CommandState = Idle;
  qint16 RxState = -1;
  QByteArray RxBuf;
  qint16 RxIndex = -1;
  quint8 RxBCC = 0;
  qint16 RxChars = 0;

 private:
  void onDle(quint8 code);
  void onText();
  void nextFrame();
  void logReceived(const QString& line);
  // A reply that ends the run unplayed.
  void refuse(const QString& line, AnswerKind kind);

  // The message received so far, as its log lines show it.
  QString dump() const;
};

}  // namespace kestrel
