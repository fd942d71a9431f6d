#pragma once
// What a session reports besides its log lines, as typed events: whoever
// needs to know how a run went (the runner, a window's progress) reads
// these, never the wording of a line.

#include "core/EventClock.h"
#include "core/LogSink.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <vector>

namespace kestrel {

struct RunStarted {
  QList<qint64> channels;
  int total = 0;  // channels a pass of the run sends
};

// Every frame the session wrote whole: control frames carry no channels.
struct FrameSent {
  QList<qint64> channels;
  QByteArray bytes;
  EventClock::time_point at;  // when the last byte was handed over
};

enum class AnswerKind { Ack, Nak, Ready, DleAck, DleNak, Report, Other };

struct Answer {
  AnswerKind kind;
  QByteArray bytes;
  // From the last byte of the last frame to the answer's arrival; negative
  // when none went out, or the answer was waiting before it did.
  EventClock::duration sinceFrame;
};

// The unit would not take what it was sent; `reason` is the session's line.
struct Refusal {
  QString reason;
};

struct Progress {
  int sent = 0;
  int total = 0;
};

// The busy line as a binary session found it before sending the next entry.
struct BusyRead {
  bool busy;
  EventClock::time_point at;
};

enum class RunOutcome { Complete, Stopped, Refused, NoAnswer, PortLost, BoardLost, BadReply };

struct RunFinished {
  RunOutcome outcome;
  QString detail;  // the session's line or message that says why, if any
};

// One channel of a schedule read back, against the file.
struct ChannelVerdict {
  int channel;
  bool ok;
};

// A session's one observer; the line part is the LogSink.
class SessionEvents : public LogSink {
 public:
  virtual void runStarted(const RunStarted&) {}
  virtual void frameSent(const FrameSent&) {}
  virtual void answer(const Answer&) {}
  virtual void refusal(const Refusal&) {}
  virtual void progress(const Progress&) {}
  virtual void runFinished(const RunFinished&) {}
  virtual void channelVerdict(const ChannelVerdict&) {}
  virtual void busyRead(const BusyRead&) {}
};

// Hands everything on to each consumer, in the order they were attached.
class SessionEventFan : public SessionEvents {
 public:
  void attach(SessionEvents& consumer) { consumers_.push_back(&consumer); }

  void AddLog(const QString& text, LineKind kind = LineKind::Sent) override {
    for (SessionEvents* c : consumers_) c->AddLog(text, kind);
  }
  void runStarted(const RunStarted& e) override { each(&SessionEvents::runStarted, e); }
  void frameSent(const FrameSent& e) override { each(&SessionEvents::frameSent, e); }
  void answer(const Answer& e) override { each(&SessionEvents::answer, e); }
  void refusal(const Refusal& e) override { each(&SessionEvents::refusal, e); }
  void progress(const Progress& e) override { each(&SessionEvents::progress, e); }
  void runFinished(const RunFinished& e) override { each(&SessionEvents::runFinished, e); }
  void channelVerdict(const ChannelVerdict& e) override { each(&SessionEvents::channelVerdict, e); }
  void busyRead(const BusyRead& e) override { each(&SessionEvents::busyRead, e); }

 private:
  template <class Event>
  void each(void (SessionEvents::*handler)(const Event&), const Event& e) {
    for (SessionEvents* c : consumers_) (c->*handler)(e);
  }
  std::vector<SessionEvents*> consumers_;
};

}  // namespace kestrel
