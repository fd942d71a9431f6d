#pragma once
// A log that also keeps a session's events, one short text each, in order.

#include "support/SerialFakes.h"

#include <QStringList>
#include <vector>

namespace kestrel::test {

inline const char* answerName(AnswerKind kind) {
  switch (kind) {
    case AnswerKind::Ack: return "Ack";
    case AnswerKind::Nak: return "Nak";
    case AnswerKind::Ready: return "Ready";
    case AnswerKind::DleAck: return "DleAck";
    case AnswerKind::DleNak: return "DleNak";
    case AnswerKind::Report: return "Report";
    case AnswerKind::Other: return "Other";
  }
  return "?";
}

inline const char* outcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Complete: return "Complete";
    case RunOutcome::Stopped: return "Stopped";
    case RunOutcome::Refused: return "Refused";
    case RunOutcome::NoAnswer: return "NoAnswer";
    case RunOutcome::PortLost: return "PortLost";
    case RunOutcome::BoardLost: return "BoardLost";
    case RunOutcome::BadReply: return "BadReply";
  }
  return "?";
}

class EventLog : public FakeLog {
 public:
  void runStarted(const RunStarted& e) override {
    events << QStringLiteral("started %1 of %2").arg(numbers(e.channels)).arg(e.total);
  }
  void frameSent(const FrameSent& e) override {
    events << QStringLiteral("frame [%1] %2").arg(numbers(e.channels), QString::fromLatin1(e.bytes.toHex(' ')));
    sentAt.push_back(e.at);
  }
  void answer(const Answer& e) override {
    events << QStringLiteral("answer %1 %2").arg(QLatin1String(answerName(e.kind)), QString::fromLatin1(e.bytes.toHex(' ')));
    sinceFrame.push_back(e.sinceFrame);
  }
  void refusal(const Refusal& e) override { events << QStringLiteral("refusal ") + e.reason; }
  void progress(const Progress& e) override { events << QStringLiteral("progress %1/%2").arg(e.sent).arg(e.total); }
  void runFinished(const RunFinished& e) override {
    events << (QStringLiteral("finished ") + QLatin1String(outcomeName(e.outcome)) +
               (e.detail.isEmpty() ? QString() : u' ' + e.detail));
  }
  void channelVerdict(const ChannelVerdict& e) override {
    events << QStringLiteral("verdict %1 %2").arg(e.channel).arg(e.ok ? "OK" : "NG");
  }

  QStringList takeEvents() {
    const QStringList out = events;
    events.clear();
    return out;
  }

  QStringList events;
  std::vector<EventClock::time_point> sentAt;
  std::vector<EventClock::duration> sinceFrame;

 private:
  static QString numbers(const QList<qint64>& list) {
    QStringList out;
    for (const qint64 n : list) out << QString::number(n);
    return out.join(u',');
  }
};

}  // namespace kestrel::test
