#pragma once
// Where a test window hands the record of each run it saw end. The
// application sets one sink at start-up; with none, nothing is recorded.

#include "results/ResultRecord.h"

namespace kestrel {

class RunRecordSink {
 public:
  virtual ~RunRecordSink() = default;
  // Must return at once: the window's thread runs the unit.
  virtual void record(results::Record r) = 0;
};

// Not owned; nullptr stops recording.
void setRunRecordSink(RunRecordSink* sink);
RunRecordSink* runRecordSink();

}  // namespace kestrel
