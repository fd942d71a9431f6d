#include "results/ResultRecord.h"

#include <QJsonArray>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>
#include <array>
#include <utility>

namespace kestrel::results {

namespace {

constexpr std::array<std::pair<Failure, const char*>, 13> kFailureNames{{
    {Failure::None, "none"},
    {Failure::Refused, "refused"},
    {Failure::NoAnswer, "no-answer"},
    {Failure::PortLost, "port-lost"},
    {Failure::BoardLost, "board-lost"},
    {Failure::BadReply, "bad-reply"},
    {Failure::Stopped, "stopped"},
    {Failure::Unfinished, "unfinished"},
    {Failure::NgChannels, "ng-channels"},
    {Failure::AnswerTime, "answer-time"},
    {Failure::Naks, "naks"},
    {Failure::BusyTime, "busy-time"},
    {Failure::TooFewJudged, "too-few-judged"},
}};

constexpr std::array<std::pair<RunOutcome, const char*>, 7> kOutcomeNames{{
    {RunOutcome::Complete, "complete"},
    {RunOutcome::Stopped, "stopped"},
    {RunOutcome::Refused, "refused"},
    {RunOutcome::NoAnswer, "no-answer"},
    {RunOutcome::PortLost, "port-lost"},
    {RunOutcome::BoardLost, "board-lost"},
    {RunOutcome::BadReply, "bad-reply"},
}};

QJsonArray numbers(const std::vector<double>& values) {
  QJsonArray a;
  for (const double v : values) a.append(v);
  return a;
}

// A stored row is read back whatever it holds: never more samples than a run
// keeps, and anything that is not a number reads as 0.
std::vector<double> samples(const QJsonValue& v) {
  const QJsonArray a = v.toArray();
  std::vector<double> out;
  const auto n = std::min<std::size_t>(std::size_t(a.size()), Measurements::kKeptSamples);
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.push_back(a.at(qsizetype(i)).toDouble());
  return out;
}

QJsonObject spreadJson(const Spread& s) {
  return {{"count", s.count}, {"min", s.min}, {"median", s.median}, {"p95", s.p95}, {"max", s.max}};
}

}  // namespace

QString newRecordId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

QString stationName() {
  const QString station = qEnvironmentVariable("KESTREL_STATION").trimmed();
  return station.isEmpty() ? QSysInfo::machineHostName() : station;
}

QString failureName(Failure f) {
  for (const auto& [failure, name] : kFailureNames)
    if (failure == f) return QString::fromLatin1(name);
  return QStringLiteral("unfinished");
}

Failure failureFromName(const QString& name) {
  for (const auto& [failure, word] : kFailureNames)
    if (name == QLatin1String(word)) return failure;
  return Failure::Unfinished;
}

QJsonObject measurementsJson(const Measurements& m) {
  QJsonArray ng;
  for (const int channel : m.ngChannels) ng.append(channel);
  QJsonObject o{{"frames", m.frames},
                {"acks", m.acks},
                {"naks", m.naks},
                {"otherAnswers", m.otherAnswers},
                {"refusals", m.refusals},
                {"firstRefusal", m.firstRefusal},
                {"answerMs", numbers(m.answerMs)},
                {"answersBeyondKept", m.answersBeyondKept},
                {"busyMs", numbers(m.busyMs)},
                {"busyWaits", m.busyWaits},
                {"judgedOk", m.judgedOk},
                {"ngChannels", ng},
                {"runMs", m.runMs},
                // For whoever reads the stored text without the samples' arithmetic.
                {"answers", spreadJson(m.answers())},
                {"busy", spreadJson(m.busy())}};
  if (m.finished) {
    QString outcome;
    for (const auto& [value, name] : kOutcomeNames)
      if (value == m.finished->outcome) outcome = QString::fromLatin1(name);
    o.insert("finished", QJsonObject{{"outcome", outcome}, {"detail", m.finished->detail}});
  }
  return o;
}

Measurements measurementsFromJson(const QJsonObject& o) {
  Measurements m;
  m.frames = o.value("frames").toInt();
  m.acks = o.value("acks").toInt();
  m.naks = o.value("naks").toInt();
  m.otherAnswers = o.value("otherAnswers").toInt();
  m.refusals = o.value("refusals").toInt();
  m.firstRefusal = o.value("firstRefusal").toString();
  m.answerMs = samples(o.value("answerMs"));
  m.answersBeyondKept = o.value("answersBeyondKept").toInt();
  m.busyMs = samples(o.value("busyMs"));
  m.busyWaits = o.value("busyWaits").toInt();
  m.judgedOk = o.value("judgedOk").toInt();
  const QJsonArray ng = o.value("ngChannels").toArray();
  const auto n = std::min<std::size_t>(std::size_t(ng.size()), Measurements::kKeptSamples);
  for (std::size_t i = 0; i < n; ++i) m.ngChannels.append(ng.at(qsizetype(i)).toInt());
  m.runMs = o.value("runMs").toDouble();
  const QJsonValue finished = o.value("finished");
  if (finished.isObject()) {
    const QString outcome = finished.toObject().value("outcome").toString();
    for (const auto& [value, name] : kOutcomeNames)
      if (outcome == QLatin1String(name))
        m.finished = RunFinished{value, finished.toObject().value("detail").toString()};
  }
  return m;
}

}  // namespace kestrel::results
