#include "unit/Mode1Protocol.h"

#include <cctype>
#include <string>

namespace kestrel::sim {

namespace {

using P = Mode1Protocol;

// "001,002" -> "channels 001 002"; nothing unless the text is one or more
// groups of three digits separated by commas.
std::optional<std::string> channels(std::string_view text) {
  if (text.size() % 4 != 3) return std::nullopt;
  std::string note = "channels";
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i % 4 == 3) {
      if (text[i] != ',') return std::nullopt;
      continue;
    }
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    if (i % 4 == 0) note += ' ';
    note += text[i];
  }
  return note;
}

Item judge(Bytes line) {
  const std::string text(line.begin(), line.end() - 1);  // without the CR
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "sts") return {ItemKind::Enquiry, std::move(line), {{P::ACK}}};
  if (text == "000") return {ItemKind::Stop, std::move(line), {{P::ACK}}};
  if (auto note = channels(text))
    return {ItemKind::Frame, std::move(line), {{P::ACK}}, std::vector<Bytes>{{P::ACK}}, std::move(*note)};
  return {ItemKind::Unexpected, std::move(line), {{P::NAK}}};
}

}  // namespace

std::vector<Item> Mode1Protocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items;
  for (std::uint8_t b : bytes) {
    if (b == CR) {
      if (overlong_) {
        items.push_back({ItemKind::Overlong, std::move(line_), {{NAK}}});
      } else {
        line_.push_back(b);
        items.push_back(judge(std::move(line_)));
      }
      line_.clear();
      overlong_ = false;
    } else if (line_.size() < maxLine) {
      line_.push_back(b);
    } else {
      overlong_ = true;
    }
  }
  return items;
}

}  // namespace kestrel::sim
