#include "unit/FenwickProtocol.h"

#include <algorithm>

namespace kestrel::sim {

namespace {

using P = BufferedProtocol;

std::optional<unsigned> digits(std::span<const std::uint8_t> text) {
  unsigned value = 0;
  for (std::uint8_t b : text) {
    if (b < '0' || b > '9') return std::nullopt;
    value = value * 10 + (b - '0');
  }
  return value;
}

void append(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

}  // namespace

Bytes FenwickProtocol::request(std::string_view digits) {
  Bytes payload{REQUEST};
  append(payload, digits);
  return P::frame(payload);
}

Bytes FenwickProtocol::answer(unsigned first, unsigned last) const {
  Schedule sent;
  if (first <= last) sent.insert(schedule_.lower_bound(first), schedule_.upper_bound(last));
  if (faults_.extraChannel != 0) sent.try_emplace(faults_.extraChannel);
  for (const FieldChange& change : faults_.changes) {
    const auto entry = sent.find(change.channel);
    if (entry != sent.end() && change.field >= 1 && change.field <= 5) entry->second[change.field - 1] = change.text;
  }
  Bytes text;
  for (const auto& [channel, fields] : sent) {
    append(text, std::to_string(channel));
    text.push_back(',');
    for (const std::string& field : fields) {
      append(text, field);
      text.push_back(',');
    }
  }
  Bytes out = P::frame(text);
  if (faults_.corruptCheck) out.back() ^= 0xFF;
  if (faults_.dropStx) out.erase(out.begin());
  return out;
}

void FenwickProtocol::judge(Item& item) const {
  if (item.reply != std::vector<Bytes>{{P::ACK}}) {
    item.note = "bad checksum";
    return;
  }
  const auto payload = P::payload(item.bytes);
  const auto field = payload.empty() || payload[0] != REQUEST ? std::span<const std::uint8_t>{} : payload.subspan(1);
  std::optional<unsigned> first, last;
  if (field.size() == 3) {
    first = last = digits(field);
    if (first == 0u) {
      first = 1u;
      last = maxShortChannel;
    } else if (first > maxShortChannel) {
      first.reset();
    }
  } else if (field.size() == 8) {
    first = digits(field.first(4));
    last = digits(field.subspan(4));
    const auto inRange = [](std::optional<unsigned> c) { return c >= 1u && c <= maxScheduleChannel; };
    if (!inRange(first) || !inRange(last)) first.reset();
  }
  if (!first || !last) {
    item.reply = {{P::NAK}};
    item.note = "bad request";
    return;
  }
  item.note = *first == *last ? "channel " + std::to_string(*first)
                              : "channels " + std::to_string(*first) + "-" + std::to_string(*last);
  item.reply = {answer(*first, *last)};
}

std::vector<Item> FenwickProtocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items;
  for (std::uint8_t b : bytes) {
    if (framing_.take(b, items)) continue;
    if (b == P::ENQ)
      items.push_back({ItemKind::Enquiry, {b}, {{P::ACK}}});
    else
      items.push_back({ItemKind::Unexpected, {b}});
  }
  for (Item& item : items)
    if (item.kind == ItemKind::Frame) judge(item);
  return items;
}

}  // namespace kestrel::sim
