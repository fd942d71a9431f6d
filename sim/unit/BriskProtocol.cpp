#include "unit/BriskProtocol.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::sim {

namespace {

using P = BriskProtocol;

// "event 11 unit 005" for a frame the unit takes; nothing otherwise.
std::optional<std::string> decode(const Bytes& frame) {
  if (frame.size() != 6 && frame.size() != 7) return std::nullopt;
  const std::uint8_t event = frame[1];
  const auto unit = std::span(frame).subspan(2, frame.size() - 3);
  if (event < 0x30 || event > 0x3F || !std::ranges::all_of(unit, [](std::uint8_t b) { return b >= '0' && b <= '9'; }))
    return std::nullopt;
  return "event " + std::to_string(event - 0x30 + 1) + " unit " + std::string(unit.begin(), unit.end());
}

}  // namespace

Bytes BriskProtocol::frame(unsigned event, unsigned unit, unsigned width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*u", static_cast<int>(width), unit);
  Bytes out{AT, static_cast<std::uint8_t>(0x30 + event - 1)};
  for (const char* d = digits; *d != '\0'; ++d) out.push_back(static_cast<std::uint8_t>(*d));
  out.push_back(CR);
  return out;
}

std::vector<Item> BriskProtocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items;
  for (std::uint8_t b : bytes) {
    if (b == AT) {
      // The sender gave up on that frame and began again.
      if (!frame_.empty() && !overlong_) items.push_back({ItemKind::Abandoned, std::move(frame_)});
      frame_.assign(1, AT);
      overlong_ = false;
    } else if (frame_.empty()) {
      items.push_back({ItemKind::Unexpected, {b}});
    } else if (overlong_) {
      if (b == CR) frame_.clear();
    } else {
      frame_.push_back(b);
      if (b == CR) {
        auto note = decode(frame_);
        items.push_back({note ? ItemKind::Frame : ItemKind::Unexpected,
                         std::move(frame_),
                         {},
                         std::nullopt,
                         note ? std::move(*note) : std::string{}});
        frame_.clear();
      } else if (frame_.size() >= maxFrame) {
        items.push_back({ItemKind::Overlong, std::move(frame_)});
        frame_.assign(1, AT);  // skipping up to the CR
        overlong_ = true;
      }
    }
  }
  return items;
}

}  // namespace kestrel::sim
