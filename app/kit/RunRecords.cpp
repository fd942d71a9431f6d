#include "kit/RunRecords.h"

namespace kestrel {

namespace {
// Set and read on the user-interface thread only.
RunRecordSink* sink = nullptr;
}  // namespace

void setRunRecordSink(RunRecordSink* s) { sink = s; }

RunRecordSink* runRecordSink() { return sink; }

}  // namespace kestrel
