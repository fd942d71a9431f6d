// The unit's reply text as the receiver hands it over (everything up to ETX,
// then "*"), fed any bytes: records land only on their own channel, inside
// the table, and a failed parse never runs past the buffer.

#include "FuzzSupport.h"
#include "sessions/Schedule.h"
#include "core/ChannelEntry.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QByteArray buffer(reinterpret_cast<const char*>(data), qsizetype(size));
  // The receiver never keeps an ETX in the text: it ends it with "*".
  const qsizetype etx = buffer.indexOf('\x03');
  if (etx >= 0) buffer.truncate(etx);
  buffer += '*';
  for (const int channels : {255, 1000}) {
    ScheduleTable table = emptySchedule(channels);
    parseReply(buffer, table);
    FUZZ_REQUIRE(table.size() == std::size_t(channels) + 1);
    for (const QString& f : table[0].Field) FUZZ_REQUIRE(f.isEmpty());
    for (std::size_t c = 1; c < table.size(); ++c) {
      const QString& channel = table[c].Field[0];
      if (channel.isEmpty()) continue;
      FUZZ_REQUIRE(integerValue(channel).value_or(-1) == double(c));
      FUZZ_REQUIRE(table[c].Field[6].isEmpty());
    }
  }
  return 0;
}
