#include "unit/Buffered1000Protocol.h"

namespace kestrel::sim {

namespace {

using P = BufferedProtocol;

// The note for a playable payload, e.g. "line 1 channels 0005 0006"; nothing
// when the unit cannot play it.
std::optional<std::string> decode(std::span<const std::uint8_t> payload) {
  const auto digit = [](std::uint8_t b) { return b >= '0' && b <= '9'; };
  std::string note;
  if (!payload.empty() && payload[0] == '#') {
    if (payload.size() < 4 || payload[1] != '0' || payload[2] != '0' || payload[3] < '1' || payload[3] > '9')
      return std::nullopt;
    note = "line ";
    note += static_cast<char>(payload[3]);
    note += ' ';
    payload = payload.subspan(4);
  }
  if (payload.empty() || payload.size() % 4 != 0) return std::nullopt;
  note += "channels";
  for (std::size_t i = 0; i < payload.size(); i += 4) {
    const auto channel = payload.subspan(i, 4);
    unsigned value = 0;
    for (std::uint8_t b : channel) {
      if (!digit(b)) return std::nullopt;
      value = value * 10 + (b - '0');
    }
    if (value < 1 || value > Buffered1000Protocol::maxChannel) return std::nullopt;
    note += ' ';
    note.append(channel.begin(), channel.end());
  }
  return note;
}

}  // namespace

std::vector<Item> Buffered1000Protocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items = framing_.feed(bytes);
  for (Item& item : items) {
    if (item.kind != ItemKind::Frame) continue;
    if (item.reply != std::vector<Bytes>{{P::ACK}}) {
      item.note = "bad checksum";
      continue;
    }
    const auto payload = P::payload(item.bytes);
    if (payload.size() == 1 && payload[0] == P::STOP) {
      item.kind = ItemKind::Stop;
    } else if (auto note = decode(payload)) {
      item.note = std::move(*note);
    } else {
      item.reply = {{P::NAK}};
      item.note = "bad payload";
    }
  }
  return items;
}

}  // namespace kestrel::sim
