#include "unit/Hs4142Protocol.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::sim {

namespace {

using P = BufferedProtocol;

std::string twoDigits(unsigned n) {
  char text[4];
  std::snprintf(text, sizeof text, "%02u", n % 100);
  return text;
}

}  // namespace

void Hs4142Protocol::judge(Item& item) const {
  const auto payload = P::payload(item.bytes);
  if (payload.size() == 1) {
    const std::uint8_t c = payload[0];
    if (c == STOP || c == RESET) {
      item.kind = ItemKind::Stop;
      if (c == RESET) item.note = "reset";
    } else if (c >= 0xFB && c <= 0xFD) {
      item.kind = ItemKind::Command;
      item.note = "volume " + hex(payload);
      item.whilePlaying = Bytes{BUSY};
    } else if (c >= 0xC8 && c <= 0xD7) {
      item.kind = ItemKind::Command;
      item.note = "sheet " + twoDigits(c - 0xC8 + 1u);
      item.whilePlaying = Bytes{BUSY};
    } else {
      item.reply = {{P::NAK}};
      item.note = "bad payload";
    }
    return;
  }
  const auto digit = [](std::uint8_t b) { return b >= '0' && b <= '9'; };
  if (payload.empty() || payload.size() % 3 != 0 || !std::ranges::all_of(payload, digit)) {
    item.reply = {{P::NAK}};
    item.note = "bad payload";
    return;
  }
  item.note = "channels";
  std::vector<Bytes> reports;
  for (std::size_t i = 0; i < payload.size(); i += 3) {
    const auto channel = payload.subspan(i, 3);
    item.note += ' ';
    item.note.append(channel.begin(), channel.end());
    if (reports_ == Reports::Off) continue;
    reports.push_back(P::frame(channel));
    if (reports_ == Reports::BadCheck) reports.back().back() ^= 0xFF;
  }
  item.afterPlaying = std::move(reports);
}

std::vector<Item> Hs4142Protocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items = framing_.feed(bytes);
  for (Item& item : items) {
    if (item.kind == ItemKind::Stop) {
      // A lone FFh is no command here; a stop comes framed.
      item.kind = ItemKind::Unexpected;
    } else if (item.kind == ItemKind::Frame) {
      if (item.reply == std::vector<Bytes>{{P::ACK}})
        judge(item);
      else
        item.note = "bad checksum";
    }
  }
  return items;
}

}  // namespace kestrel::sim
