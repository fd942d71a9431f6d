#include "core/RunMeter.h"

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace kestrel {

namespace {

double msBetween(EventClock::time_point from, EventClock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

QString ms(double value) { return QString::number(value, 'f', 1); }

}  // namespace

Spread Measurements::spread(std::vector<double> samples) {
  Spread s;
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  s.count = int(n);
  s.min = samples.front();
  s.max = samples.back();
  s.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  // Nearest rank: the smallest sample with 95 % of them at or below it.
  s.p95 = samples[std::size_t(std::ceil(0.95 * double(n))) - 1];
  return s;
}

void RunMeter::runStarted(const RunStarted&) {
  // The sample buffers keep their room: a window runs the same list again and again.
  std::vector<double> answers = std::move(m_.answerMs);
  std::vector<double> busy = std::move(m_.busyMs);
  answers.clear();
  busy.clear();
  m_ = {};
  m_.answerMs = std::move(answers);
  m_.busyMs = std::move(busy);
  started_ = EventClock::now();
  awaitingAnswer_ = false;
  awaitingFree_ = false;
}

void RunMeter::frameSent(const FrameSent& e) {
  ++m_.frames;
  lastFrame_ = e.at;
  awaitingAnswer_ = true;
  awaitingFree_ = true;
}

void RunMeter::answer(const Answer& e) {
  switch (e.kind) {
    case AnswerKind::Ack:
    case AnswerKind::DleAck:
    case AnswerKind::Ready: ++m_.acks; break;
    case AnswerKind::Nak:
    case AnswerKind::DleNak: ++m_.naks; break;
    case AnswerKind::Report:
    case AnswerKind::Other: ++m_.otherAnswers; break;
  }
  // Only the first answer to a frame times the unit: a later one (the end
  // report of a played list) answers something else.
  if (!awaitingAnswer_ || e.sinceFrame.count() < 0) return;
  awaitingAnswer_ = false;
  if (m_.answerMs.size() < Measurements::kKeptSamples)
    m_.answerMs.push_back(std::chrono::duration<double, std::milli>(e.sinceFrame).count());
  else
    ++m_.answersBeyondKept;
}

void RunMeter::refusal(const Refusal& e) {
  if (m_.refusals++ == 0) m_.firstRefusal = e.reason;
}

void RunMeter::runFinished(const RunFinished& e) {
  if (m_.finished) return;
  m_.finished = e;
  m_.runMs = msBetween(started_, EventClock::now());
}

void RunMeter::channelVerdict(const ChannelVerdict& e) {
  if (e.ok)
    ++m_.judgedOk;
  else
    m_.ngChannels.append(e.channel);
}

void RunMeter::busyRead(const BusyRead& e) {
  if (e.busy) {
    ++m_.busyWaits;
    return;
  }
  if (!awaitingFree_) return;
  awaitingFree_ = false;
  if (m_.busyMs.size() < Measurements::kKeptSamples) m_.busyMs.push_back(msBetween(lastFrame_, e.at));
}

QString Limits::set(const QString& name, const QString& value) {
  bool ok = false;
  const double number = value.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(number) || number < 0)
    return QStringLiteral("limit %1: '%2' is not a number of 0 or more").arg(name, value);
  const bool whole = number == std::floor(number) && number <= 1e9;
  if (name == u"answer-ms") {
    answerMs = number;
  } else if (name == u"busy-ms") {
    busyMs = number;
  } else if (name == u"naks" || name == u"judged") {
    if (!whole) return QStringLiteral("limit %1: '%2' is not a whole number").arg(name, value);
    (name == u"naks" ? naks : judged) = int(number);
  } else {
    return QStringLiteral("unknown limit '%1' (answer-ms, naks, busy-ms, judged)").arg(name);
  }
  return {};
}

QString Limits::set(const QString& assignment) {
  const qsizetype eq = assignment.indexOf(u'=');
  if (eq <= 0) return QStringLiteral("limit '%1': expected NAME=VALUE").arg(assignment);
  return set(assignment.left(eq).trimmed(), assignment.mid(eq + 1));
}

void Limits::overrideWith(const Limits& over) {
  if (over.answerMs) answerMs = over.answerMs;
  if (over.naks) naks = over.naks;
  if (over.busyMs) busyMs = over.busyMs;
  if (over.judged) judged = over.judged;
}

Verdict judgeLimits(const Measurements& m, const Limits& limits) {
  if (limits.answerMs) {
    if (const Spread a = m.answers(); a.count > 0 && a.max > *limits.answerMs)
      return {Failure::AnswerTime, a.max, *limits.answerMs, {}};
  }
  if (limits.naks && m.naks > *limits.naks) return {Failure::Naks, double(m.naks), double(*limits.naks), {}};
  if (limits.busyMs) {
    if (const Spread b = m.busy(); b.count > 0 && b.max > *limits.busyMs)
      return {Failure::BusyTime, b.max, *limits.busyMs, {}};
  }
  if (limits.judged && m.judged() < *limits.judged)
    return {Failure::TooFewJudged, double(m.judged()), double(*limits.judged), {}};
  return {Failure::None, 0, 0, {}};
}

Verdict judge(const Measurements& m, const Limits& limits) {
  if (m.refusals > 0) return {Failure::Refused, 0, 0, m.firstRefusal};
  if (!m.finished) return {Failure::Unfinished, 0, 0, {}};
  const QString& detail = m.finished->detail;
  switch (m.finished->outcome) {
    case RunOutcome::Complete: break;
    case RunOutcome::Stopped: return {Failure::Stopped, 0, 0, detail};
    case RunOutcome::Refused: return {Failure::Refused, 0, 0, detail};
    case RunOutcome::NoAnswer: return {Failure::NoAnswer, 0, 0, detail};
    case RunOutcome::PortLost: return {Failure::PortLost, 0, 0, detail};
    case RunOutcome::BoardLost: return {Failure::BoardLost, 0, 0, detail};
    case RunOutcome::BadReply: return {Failure::BadReply, 0, 0, detail};
  }
  if (!m.ngChannels.isEmpty()) {
    QStringList ng;
    for (const int channel : m.ngChannels) ng << QString::number(channel);
    return {Failure::NgChannels, double(m.ngChannels.size()), 0, ng.join(QStringLiteral(", "))};
  }
  return judgeLimits(m, limits);
}

QString reasonText(const Verdict& v) {
  const auto withDetail = [&](const QString& what) {
    return v.detail.isEmpty() ? what : what + QStringLiteral(": ") + v.detail;
  };
  switch (v.failure) {
    case Failure::None: return QStringLiteral("pass");
    case Failure::Refused: return withDetail(QStringLiteral("the unit refused"));
    case Failure::NoAnswer: return withDetail(QStringLiteral("no answer from the unit"));
    case Failure::PortLost: return withDetail(QStringLiteral("port lost"));
    case Failure::BoardLost: return withDetail(QStringLiteral("board lost"));
    case Failure::BadReply: return withDetail(QStringLiteral("bad reply"));
    case Failure::Stopped: return QStringLiteral("stopped before the end");
    case Failure::Unfinished: return QStringLiteral("the run did not end");
    case Failure::NgChannels:
      return QStringLiteral("%1 NG channel%2: %3").arg(int(v.measured)).arg(v.measured == 1 ? "" : "s", v.detail);
    case Failure::AnswerTime:
      return QStringLiteral("answer time %1 ms over the limit of %2 ms").arg(ms(v.measured), ms(v.limit));
    case Failure::Naks: return QStringLiteral("%1 NAKs over the limit of %2").arg(v.measured).arg(v.limit);
    case Failure::BusyTime:
      return QStringLiteral("busy time %1 ms over the limit of %2 ms").arg(ms(v.measured), ms(v.limit));
    case Failure::TooFewJudged:
      return QStringLiteral("%1 channels judged, fewer than the limit of %2").arg(v.measured).arg(v.limit);
  }
  return {};
}

QString measurementLine(const Measurements& m) {
  QStringList parts;
  parts << QStringLiteral("frames %1").arg(m.frames);
  if (m.acks + m.naks + m.otherAnswers + m.refusals > 0)
    parts << QStringLiteral("ACK %1 NAK %2 other %3 refused %4").arg(m.acks).arg(m.naks).arg(m.otherAnswers).arg(m.refusals);
  if (const Spread a = m.answers(); a.count > 0)
    parts << QStringLiteral("answer ms min %1 median %2 p95 %3 max %4")
                 .arg(ms(a.min), ms(a.median), ms(a.p95), ms(a.max));
  if (const Spread b = m.busy(); b.count > 0 || m.busyWaits > 0)
    parts << QStringLiteral("busy ms min %1 median %2 max %3, %4 waits")
                 .arg(ms(b.min), ms(b.median), ms(b.max))
                 .arg(m.busyWaits);
  if (m.judged() > 0) parts << QStringLiteral("judged %1 OK %2 NG").arg(m.judgedOk).arg(m.ngChannels.size());
  parts << QStringLiteral("time %1 s").arg(QString::number(m.runMs / 1000, 'f', 2));
  return parts.join(QStringLiteral(" · "));
}

}  // namespace kestrel
