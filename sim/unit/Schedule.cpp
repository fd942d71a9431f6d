#include "unit/Schedule.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestrel::sim {

namespace {

std::string_view nextLine(std::string_view& text) {
  const auto end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  // Files written on Windows end their lines CR LF.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

Schedule parseSchedule(std::string_view text) {
  Schedule schedule;
  char section = 0;
  for (unsigned number = 1; !text.empty(); ++number) {
    const std::string_view line = nextLine(text);
    if (line.size() == 2 && line[0] == '#' && line[1] >= '0' && line[1] <= '3') {
      section = line[1];
      continue;
    }
    if (section != '2') continue;
    const auto fail = [&](const char* why) {
      return std::invalid_argument("schedule line " + std::to_string(number) + ": " + why);
    };
    std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) throw fail("fewer than five commas");
    const std::string_view channelText = line.substr(0, comma);
    unsigned channel = 0;
    const auto [end, ec] = std::from_chars(channelText.data(), channelText.data() + channelText.size(), channel);
    if (channelText.empty() || ec != std::errc{} || end != channelText.data() + channelText.size())
      throw fail("channel is no number");
    if (channel < 1 || channel > maxScheduleChannel) throw fail("channel outside 1-1000");
    ScheduleFields fields;
    for (std::size_t f = 0; f < 4; ++f) {
      const std::size_t next = line.find(',', comma + 1);
      if (next == std::string_view::npos) throw fail("fewer than five commas");
      fields[f] = line.substr(comma + 1, next - comma - 1);
      comma = next;
    }
    fields[4] = line.substr(comma + 1);
    schedule[channel] = std::move(fields);
  }
  return schedule;
}

Schedule readSchedule(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read schedule " + path);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  return parseSchedule(text);
}

}  // namespace kestrel::sim
