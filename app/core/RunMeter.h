#pragma once
// What a run measured of the unit, read from its session's events, and the
// verdict of those measurements against a line's limits. The window, the
// runner and the results are readers of the same record.

#include "core/SessionEvents.h"

#include <QList>
#include <QString>
#include <optional>
#include <vector>

namespace kestrel {

// A distribution in milliseconds; all zero when nothing was measured.
struct Spread {
  int count = 0;
  double min = 0, median = 0, p95 = 0, max = 0;
};

struct Measurements {
  int frames = 0;  // every frame written whole, control frames included
  int acks = 0;    // ACK, DLE ACK and "Ready"
  int naks = 0;    // NAK and DLE NAK
  int otherAnswers = 0;
  int refusals = 0;
  QString firstRefusal;  // the session's line for it
  // The unit's first answer after each frame's last byte, in order.
  std::vector<double> answerMs;
  int answersBeyondKept = 0;  // answered frames past kKeptSamples, in the counts only
  // From each strobe to the first read that found the unit free again.
  std::vector<double> busyMs;
  int busyWaits = 0;  // reads that found the unit busy
  int judgedOk = 0;
  QList<int> ngChannels;
  double runMs = 0;
  std::optional<RunFinished> finished;

  // A night-long run answers millions of frames: past this many samples a
  // run keeps its counts, not its samples.
  static constexpr std::size_t kKeptSamples = 1 << 20;

  Spread answers() const { return spread(answerMs); }
  Spread busy() const { return spread(busyMs); }
  int judged() const { return judgedOk + int(ngChannels.size()); }
  static Spread spread(std::vector<double> samples);
};

// Measures one run at a time: a run's start clears what the last one measured.
class RunMeter : public SessionEvents {
 public:
  const Measurements& measurements() const { return m_; }

  void AddLog(const QString&, LineKind) override {}
  void runStarted(const RunStarted&) override;
  void frameSent(const FrameSent& e) override;
  void answer(const Answer& e) override;
  void refusal(const Refusal& e) override;
  void runFinished(const RunFinished& e) override;
  void channelVerdict(const ChannelVerdict& e) override;
  void busyRead(const BusyRead& e) override;

 private:
  Measurements m_;
  EventClock::time_point started_{};
  EventClock::time_point lastFrame_{};
  bool awaitingAnswer_ = false;
  bool awaitingFree_ = false;
};

// A line's limits; those not set are not checked.
struct Limits {
  std::optional<double> answerMs;  // the slowest answer
  std::optional<int> naks;
  std::optional<double> busyMs;    // the longest busy time
  std::optional<int> judged;       // the fewest channels judged

  // One limit as written on a command line or in a plan: "answer-ms=20".
  // An empty string when it was taken, else what is wrong with it.
  QString set(const QString& name, const QString& value);
  QString set(const QString& assignment);
  // Every limit `over` sets replaces this one's.
  void overrideWith(const Limits& over);
  bool any() const { return answerMs || naks || busyMs || judged; }
};

enum class Failure {
  None,
  Refused,
  NoAnswer,
  PortLost,
  BoardLost,
  BadReply,
  Stopped,
  Unfinished,
  NgChannels,
  AnswerTime,
  Naks,
  BusyTime,
  TooFewJudged,
};

struct Verdict {
  Failure failure = Failure::Unfinished;
  double measured = 0;  // a limit's failure: the value measured, and the limit
  double limit = 0;
  QString detail;  // the session's line, or the NG channels
  bool pass() const { return failure == Failure::None; }
};

// The first reason a run fails: how it ended, then NG channels, then each limit.
Verdict judge(const Measurements& m, const Limits& limits);
// Only the limits, for a run that ended as documented.
Verdict judgeLimits(const Measurements& m, const Limits& limits);
// The reason in a line of text: "answer time 25.3 ms over the limit of 20 ms".
QString reasonText(const Verdict& v);
// The measurements in one compact line.
QString measurementLine(const Measurements& m);

}  // namespace kestrel
