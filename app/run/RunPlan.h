#pragma once
// A run plan: several runs, one after the other, from a TOML file.

#include "RunOptions.h"
#include "core/RunMeter.h"

#include <QString>
#include <optional>
#include <vector>

namespace kestrel::run {

struct PlanStep {
  QString name;     // as the plan names it, else "mode N"
  Options options;  // as the command line would give them
  Entries entries;  // as checkRun found them
  Limits limits;    // the plan's, then the step's, then the command line's
};

struct Plan {
  QString name;  // the plan's name, else "kestrel-run"
  std::optional<QString> dut;
  QString port;  // the plan's port after the command line's
  bool stopOnFail = true;
  std::vector<PlanStep> steps;
};

struct PlanLoad {
  Plan plan;
  QString error;  // "FILE:LINE: step N: key 'K': what is wrong"; empty when it loaded
};

// Plans larger than this are refused unread.
constexpr qint64 kMaxPlanBytes = 1 << 20;

// Reads and checks the whole plan before any step runs; `commandLine`'s
// --port, --dut and --limit override what the plan sets.
PlanLoad loadPlan(const QString& path, const Options& commandLine);

}  // namespace kestrel::run
