#pragma once
// A run's record in the results store: made when each run ends, handed to
// the recorder, and what became of it told at the end.

#include "RunOptions.h"
#include "RunReport.h"
#include "core/SessionEvents.h"
#include "results/ResultRecorder.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <memory>
#include <vector>

namespace kestrel::run {

// The channels a run judged, as its events said; a channel judged twice
// is OK only if it was both times.
class ChannelOutcomes : public SessionEvents {
 public:
  void AddLog(const QString&, LineKind) override {}
  void channelVerdict(const ChannelVerdict& e) override;
  QList<results::ChannelOutcome> outcomes() const;

 private:
  QMap<int, bool> ok_;
};

// The run's options as the record keeps them; never the access code.
QJsonObject optionsJson(const Options& o, const Limits& limits);
// The record of one run that ran.
results::Record makeRecord(const StepReport& r, const Options& o, const QDateTime& started, const QDateTime& ended,
                           const QList<results::ChannelOutcome>& channels);

// Where the records of this process go.
class RunResults {
 public:
  // Null with the reason when `commandLine` (--results) or KESTREL_RESULTS
  // names no store.
  static std::unique_ptr<RunResults> open(const QString& commandLine, QString* error);

  void record(results::Record r);

  struct Ending {
    bool lost = false;       // a record not even queued locally
    QStringList notes;       // stderr lines, without the program's name
    std::vector<QByteArray> stored;  // --json: one {"kind":"stored",...} a record
  };
  // Waits up to `timeout` for the records and says what became of each.
  Ending finish(std::chrono::milliseconds timeout);

 private:
  RunResults(const results::Location& where, const QString& queueFile);
  results::Location where_;
  QString queueFile_;
  results::Recorder recorder_;
  QStringList ids_;
};

}  // namespace kestrel::run
