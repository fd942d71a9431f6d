#pragma once
// The runs a filter picks, read from the store one page at a time so that a
// long history never sits in memory whole: each run's samples live only
// while its row is handled.

#include "results/ResultStore.h"

#include <functional>

namespace kestrel::results::tool {

// What the listings and reports keep of a run: everything but the samples.
struct RunRow {
  QString id;
  QString station;
  QString dut;
  int mode = -1;
  QString port;
  QDateTime started;  // invalid when the stored text is not a time
  QDateTime ended;
  bool pass = false;
  QString failure;
  QString reason;
  QString journal;
  Spread answers;
  double seconds() const;  // the run's length, 0 when unknown
};

// Called once per run, newest first, with the run's measurements (samples
// included) for the moment of the call; false stops the walk.
using RowVisitor = std::function<bool(const RunRow&, const Measurements&)>;

// Walks the runs `f` picks. False with the reason in `error` when a query failed.
// Without `measured` the visitor gets no measurements and no answer spread:
// reading and parsing a run's samples is most of the work.
bool forEachRun(const Store& store, const Filter& f, const RowVisitor& visit, QString* error, bool measured = true);

// The one run whose ID is `idOrPrefix` or starts with it: the whole ID,
// or empty with `matches` saying how many there were (0, or 2 for more than one).
// False with the reason when the query failed.
bool resolveId(const Store& store, const QString& idOrPrefix, QString* id, int* matches, QString* error);

}  // namespace kestrel::results::tool
