#pragma once
// One finished run as the results store keeps it. A window and kestrel-run
// both make one when a run ends; the store, the forwarding to a line's server
// and kestrel-results read it.

#include "core/RunMeter.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace kestrel::results {

// A channel a schedule check judged.
struct ChannelOutcome {
  int channel = 0;
  bool ok = false;
  friend bool operator==(const ChannelOutcome&, const ChannelOutcome&) = default;
};

struct Record {
  // A UUID text made once, when the run ends: storing or forwarding the same
  // record twice keeps one copy.
  QString id;
  QString station;  // the bench: KESTREL_STATION, else the host's name
  QString dut;      // the operator's tag for the unit; empty when none was given
  int mode = -1;    // the menu's number
  QString port;     // as given ("COM1", a device); empty for the expansion board
  QJsonObject options;  // the run's options as given (channels, repeat, limits, ...)
  QDateTime started;    // UTC, millisecond precision
  QDateTime ended;
  bool pass = false;
  Failure failure = Failure::Unfinished;
  QString reason;  // the reason as the run reported it; empty when it passed
  Measurements measured;
  QList<ChannelOutcome> channels;  // per-channel outcomes of a schedule check
  QString journal;                 // the run's journal; empty when it kept none
};

// A new record ID: a random UUID without braces.
QString newRecordId();
// KESTREL_STATION, else the host's name.
QString stationName();

// Failure as one stable word for storage and export ("none", "refused",
// "answer-time", ...), and back; an unknown word gives Failure::Unfinished.
QString failureName(Failure f);
Failure failureFromName(const QString& name);

// The measurements as stored: counts, spreads and the kept samples.
QJsonObject measurementsJson(const Measurements& m);
Measurements measurementsFromJson(const QJsonObject& o);

}  // namespace kestrel::results
