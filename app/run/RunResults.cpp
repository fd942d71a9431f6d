#include "RunResults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kestrel::run {

namespace {

using results::RecordState;

// How the run failed, as the record keeps it: by the exit code, and for a
// limit or a check by what the measurements say.
Failure failureOf(const StepReport& r) {
  switch (r.code) {
    case kExitOk: return Failure::None;
    case kExitRefused: return Failure::Refused;
    case kExitNoAnswer: return Failure::NoAnswer;
    case kExitPortUnavailable:
    case kExitPortBusy: return Failure::PortLost;
    case kExitNoBoard: return Failure::BoardLost;
    case kExitInterrupted: return Failure::Stopped;
    default: break;
  }
  const Verdict v = judge(r.measured, r.limits);
  return v.pass() ? Failure::Unfinished : v.failure;
}

template <class T>
void insertIf(QJsonObject& o, const char* key, const std::optional<T>& v) {
  if (v) o.insert(QLatin1String(key), *v);
}

}  // namespace

void ChannelOutcomes::channelVerdict(const ChannelVerdict& e) {
  const auto it = ok_.find(e.channel);
  if (it == ok_.end())
    ok_.insert(e.channel, e.ok);
  else
    *it = *it && e.ok;
}

QList<results::ChannelOutcome> ChannelOutcomes::outcomes() const {
  QList<results::ChannelOutcome> out;
  out.reserve(ok_.size());
  for (auto it = ok_.begin(); it != ok_.end(); ++it) out.append({it.key(), it.value()});
  return out;
}

QJsonObject optionsJson(const Options& o, const Limits& limits) {
  QJsonObject out;
  out.insert("channels", o.manual ? QJsonValue(QJsonArray::fromStringList(o.boxes)) : QJsonValue("auto"));
  insertIf(out, "unit", o.unit);
  out.insert("repeat", o.repeat);
  insertIf(out, "strobe_ms", o.strobeMs);
  if (o.mode == 5) out.insert("line", o.line);
  insertIf(out, "schedule", o.schedule);
  insertIf(out, "frames", o.frames);
  if (!o.rows.isEmpty()) {
    QJsonArray rows;
    for (const int row : o.rows) rows.append(row);
    out.insert("rows", rows);
  }
  insertIf(out, "digits", o.digits);
  insertIf(out, "pause_ms", o.pauseMs);
  out.insert("timeout", o.timeoutSeconds);
  QJsonObject l;
  insertIf(l, "answer-ms", limits.answerMs);
  insertIf(l, "naks", limits.naks);
  insertIf(l, "busy-ms", limits.busyMs);
  insertIf(l, "judged", limits.judged);
  if (!l.isEmpty()) out.insert("limits", l);
  return out;
}

results::Record makeRecord(const StepReport& r, const Options& o, const QDateTime& started, const QDateTime& ended,
                           const QList<results::ChannelOutcome>& channels) {
  results::Record rec;
  rec.id = results::newRecordId();
  rec.station = results::stationName();
  rec.dut = r.dut.value_or(QString());
  rec.mode = r.mode;
  rec.port = r.port;
  rec.options = optionsJson(o, r.limits);
  rec.started = started.toUTC();
  rec.ended = ended.toUTC();
  rec.pass = r.pass();
  rec.failure = failureOf(r);
  rec.reason = r.reason;
  rec.measured = r.measured;
  rec.channels = channels;
  return rec;
}

std::unique_ptr<RunResults> RunResults::open(const QString& commandLine, QString* error) {
  const QString text = results::chooseLocation(commandLine, QString());
  QString why;
  const results::Location where = results::Location::parse(text, &why);
  if (!why.isEmpty()) {
    *error = QStringLiteral("--results: %1").arg(why);
    return nullptr;
  }
  return std::unique_ptr<RunResults>(new RunResults(where, results::defaultResultsFile()));
}

RunResults::RunResults(const results::Location& where, const QString& queueFile)
    : where_(where), queueFile_(queueFile), recorder_(where, queueFile) {}

void RunResults::record(results::Record r) {
  ids_.append(r.id);
  recorder_.record(std::move(r));
}

RunResults::Ending RunResults::finish(std::chrono::milliseconds timeout) {
  Ending end;
  (void)recorder_.flush(timeout);  // each record's state says what came of it
  const results::RecorderStatus status = recorder_.status();
  const bool server = where_.kind == results::Location::Kind::Server;
  const QString store = where_.display();
  int lost = 0, waiting = 0, queued = 0;
  for (const QString& id : std::as_const(ids_)) {
    const RecordState s = recorder_.state(id);
    lost += s == RecordState::Lost ? 1 : 0;
    waiting += s == RecordState::Waiting ? 1 : 0;
    queued += s == RecordState::Queued && server ? 1 : 0;
    const bool inQueue = s == RecordState::Queued || s == RecordState::Forwarded;
    end.stored.push_back(QJsonDocument(QJsonObject{{"kind", "stored"},
                                                   {"id", id},
                                                   {"store", store},
                                                   {"queued", inQueue},
                                                   {"forwarded", s == RecordState::Forwarded}})
                             .toJson(QJsonDocument::Compact));
  }
  // One line each: a server's reasons come over several.
  const QString why = status.lastError.isEmpty() ? QString() : QStringLiteral(": ") + status.lastError.simplified();
  if (lost > 0)
    end.notes.append(QStringLiteral("results: %1 of %2 records lost%3").arg(lost).arg(ids_.size()).arg(why));
  if (waiting > 0)
    end.notes.append(QStringLiteral("results: %1 of %2 records lost, not stored in %3 within %4 ms")
                         .arg(waiting)
                         .arg(ids_.size())
                         .arg(server ? queueFile_ : store)
                         .arg(timeout.count()));
  end.lost = lost + waiting > 0;
  if (queued > 0)
    end.notes.append(QStringLiteral("results: %1 queued in %2, to be forwarded to %3 when it answers%4")
                         .arg(queued == 1 ? QStringLiteral("the record is") : QStringLiteral("%1 records are").arg(queued),
                              queueFile_, store, why));
  return end;
}

}  // namespace kestrel::run
