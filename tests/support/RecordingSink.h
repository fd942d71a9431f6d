#pragma once
// Takes the place of the application's results recorder while it lives,
// keeping every run record a window hands over.

#include "kit/RunRecords.h"

#include <vector>

namespace kestrel::test {

class RecordingSink : public RunRecordSink {
 public:
  RecordingSink() { setRunRecordSink(this); }
  ~RecordingSink() override { setRunRecordSink(nullptr); }
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  void record(results::Record r) override { records.push_back(std::move(r)); }
  std::vector<results::Record> records;
};

}  // namespace kestrel::test
