#pragma once
// Reading a transport-bureau unit's schedule back and judging it against the
// schedule file, entry by entry: ENQ, the request frame at the ACK, then the
// reply taken one byte per receive event, under a 10 s time-out.

#include "sessions/Schedule.h"
#include "sessions/SerialSession.h"
#include "core/SessionTimer.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace kestrel {

class Prompter;

struct FenwickVariant {
  QString caption;
  int maxChannel;  // 255 or 1000
  bool range;      // a start and an end channel instead of all or one
  QString rangeMessage;
};

extern const FenwickVariant kFenwick;
extern const FenwickVariant kFenwick1000;

class FenwickSession : public SerialSession {
 public:
  static constexpr int kReplyTimeoutMs = 10000;
  static constexpr int kSettleMs = 300;
  enum State { Idle = 0, AwaitAck = 1, AwaitStx = 2, Receiving = 3, AwaitCheck = 4, Evaluating = 5 };

  // What is asked: every channel, one channel, or first to last.
  struct Request {
    int first = 1;
    int last = 255;
    bool all = true;
  };

  // Its notices go to `prompter`.
  FenwickSession(const FenwickVariant& variant, SessionTimer& timer, Prompter& prompter, LinkPort& link, SessionEvents& log,
                 Pause& pause);

  // The request frame: STX, 20h, the channel digits, ETX, check byte.
  QByteArray requestFrame(const Request& request) const;

  void InitForm() override;
  // 送信 after the window's checks: reads the schedule file and sends ENQ.
  // False (after its message) when the file cannot be read.
  bool Start(const QString& scheduleFile, const Request& request);
  void OnComm(int event) override;
  void Timer1_Timer();
  void Unload() override {}

  const FenwickVariant& variant() const { return variant_; }

  // The window disabled and the hourglass on, or both back.
  std::function<void(bool busy)> setBusy;

  // The window's state.
  ScheduleTable FileTable;
  ScheduleTable UnitTable;
  int ExchangeState = Idle;
  QByteArray ReplyBuffer;
  quint8 RunningCheck = 0;
  quint8 ReceivedCheck = 0;
  Request Asked;

 private:
  void onAck();
  void onCheckByte(quint8 b);
  void judge();
  void endExchange();
  void busy(bool on) {
    if (setBusy) setBusy(on);
  }

  const FenwickVariant& variant_;
  SessionTimer& timer_;
  Prompter& prompter_;
};

}  // namespace kestrel
