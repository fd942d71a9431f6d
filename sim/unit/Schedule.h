#pragma once
// The schedule a transport-bureau unit holds, read from a card-data schedule
// file: lines; "#0" to "#3" alone start a section; a "#2" line is a channel
// and five fields, separated by commas, the fifth being the whole rest of the
// line. Other sections mean nothing to the unit. Fields are kept as bytes, as
// the file's code page is the unit's too.

#include <array>
#include <map>
#include <string>
#include <string_view>

namespace kestrel::sim {

using ScheduleFields = std::array<std::string, 5>;
// By channel, 1 to maxChannel.
using Schedule = std::map<unsigned, ScheduleFields>;

inline constexpr unsigned maxScheduleChannel = 1000;

// A field of one channel that the unit sends other than the file has it.
struct FieldChange {
  unsigned channel = 0;
  unsigned field = 0;  // 1-5
  std::string text;

  bool operator==(const FieldChange&) const = default;
};

// Throws std::invalid_argument naming the line for a channel that is no
// number or lies outside 1-1000, or a "#2" line with fewer than five commas.
Schedule parseSchedule(std::string_view text);
// Throws std::runtime_error when the file cannot be read, and as above.
Schedule readSchedule(const std::string& path);

}  // namespace kestrel::sim
