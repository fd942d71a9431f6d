// The schedule file reader, fed any bytes: a read either fails and leaves
// the table as it was, or fills only channels of the table.

#include "FuzzSupport.h"
#include "sessions/Schedule.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  for (const int channels : {255, 1000}) {
    ScheduleTable table = emptySchedule(channels);
    table[1].Field[1] = QStringLiteral("kept");
    const ScheduleTable before = table;
    const bool ok = readSchedule(bytes, table);
    FUZZ_REQUIRE(table.size() == before.size());
    if (!ok) {
      for (std::size_t c = 0; c < table.size(); ++c) FUZZ_REQUIRE(table[c].Field == before[c].Field);
      continue;
    }
    // A successful read replaces the table whole; nothing sits at index 0
    // and field 0 (the unit's channel text) is never filled from a file.
    for (const QString& f : table[0].Field) FUZZ_REQUIRE(f.isEmpty());
    for (const ScheduleRecord& r : table) FUZZ_REQUIRE(r.Field[0].isEmpty());
  }
  return 0;
}
