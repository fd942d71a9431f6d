#pragma once
// What a run leaves behind: its verdict with the measurements, as a summary
// line, a JSON record and a JUnit report.

#include "RunOptions.h"
#include "core/AtomicSave.h"
#include "core/RunMeter.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace kestrel::run {

// One run, or one step of a plan.
struct StepReport {
  QString name;  // the step's name; "mode N" for a run without a plan
  int mode = -1;
  QString port;  // the serial port as given; empty for the expansion board
  std::optional<QString> dut;
  Limits limits;
  int code = kExitOk;
  QString reason;  // empty when it passed
  Measurements measured;
  int sent = 0;  // channels (mode 8: frames) sent
  const char* unit = "channels";
  double seconds = 0;  // from opening the port to letting it go
  bool skipped = false;
  bool inPlan = false;
  bool pass() const { return !skipped && code == kExitOk; }
};

// "kestrel-run: PASS mode 1 dut SN42: 3 channels sent; frames 3 · ..."
QString summaryLine(const StepReport& r);
// {"kind":"result", ...} on one line, without its line end.
QByteArray resultRecord(const StepReport& r);

struct SuiteReport {
  QString name;  // "kestrel-run", or the plan's name
  std::optional<QString> dut;
  QString port;
  std::vector<StepReport> steps;
};
// A JUnit XML report, replacing `path` whole or not at all.
SaveResult writeJUnit(const QString& path, const SuiteReport& suite);

}  // namespace kestrel::run
