#include "unit/Plx6Protocol.h"

namespace kestrel::sim {

namespace {

bool hexDigit(std::uint8_t b) { return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'F'); }

}  // namespace

Bytes Plx6Protocol::text(std::string_view text) { return BufferedProtocol::frame(Bytes(text.begin(), text.end())); }

void Plx6Protocol::judge(Item& item) {
  if (item.reply != std::vector<Bytes>{{BufferedProtocol::ACK}}) {
    item.reply = {refusal()};
    item.note = "bad checksum";
    return;
  }
  const auto payload = BufferedProtocol::payload(item.bytes);
  bool good = !payload.empty() && payload.size() % 2 == 0;
  std::string note = "channels";
  for (std::size_t i = 0; good && i < payload.size(); i += 2) {
    const std::uint8_t high = payload[i], low = payload[i + 1];
    good = hexDigit(high) && hexDigit(low) && (high != '0' || low != '0');
    note += ' ';
    note += static_cast<char>(high);
    note += static_cast<char>(low);
  }
  if (!good) {
    item.reply = {refusal()};
    item.note = "bad payload";
    return;
  }
  item.reply.clear();
  item.note = std::move(note);
  ++taken_;
  item.afterPlaying = std::vector<Bytes>{text(taken_ == trapAfter_ ? "Trap " : "Ready")};
}

void Plx6Protocol::outside(std::uint8_t b, std::vector<Item>& items) {
  if (dle_) {
    dle_ = false;
    if (b == ENQ) {
      items.push_back({ItemKind::Enquiry, {DLE, ENQ}, {{DLE, ACK}, text("Ready")}});
      return;
    }
    items.push_back({ItemKind::Unexpected, {DLE}});
    // The byte after a stray DLE is read afresh; it may begin a frame.
    if (framing_.take(b, items)) return;
  }
  switch (b) {
    case DLE: dle_ = true; break;
    case STOP: items.push_back({ItemKind::Stop, {b}, {text("Stop ")}}); break;
    default: items.push_back({ItemKind::Unexpected, {b}}); break;
  }
}

std::vector<Item> Plx6Protocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items;
  for (std::uint8_t b : bytes)
    if (dle_ || !framing_.take(b, items)) outside(b, items);
  for (Item& item : items)
    if (item.kind == ItemKind::Frame) judge(item);
  return items;
}

}  // namespace kestrel::sim
