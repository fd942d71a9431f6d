#include "unit/Protocol.h"

#include "unit/BriskProtocol.h"
#include "unit/Buffered1000Protocol.h"
#include "unit/BufferedProtocol.h"
#include "unit/CustomerProtocol.h"
#include "unit/FenwickProtocol.h"
#include "unit/Hs4142Protocol.h"
#include "unit/Mode1Protocol.h"
#include "unit/Options.h"
#include "unit/Plx6Protocol.h"

namespace kestrel::sim {

std::vector<std::string> protocolNames() {
  return {"buffered", "buffered1000", "mode1", "customer", "hs4142", "plx6", "fenwick", "brisk"};
}

std::unique_ptr<Protocol> makeProtocol(std::string_view name) { return makeProtocol(name, Options{}); }

std::unique_ptr<Protocol> makeProtocol(std::string_view name, const Options& options) {
  if (name == "buffered") return std::make_unique<BufferedProtocol>();
  if (name == "buffered1000") return std::make_unique<Buffered1000Protocol>();
  if (name == "mode1") return std::make_unique<Mode1Protocol>();
  if (name == "customer") return std::make_unique<CustomerProtocol>();
  if (name == "hs4142") {
    using R = Hs4142Protocol::Reports;
    return std::make_unique<Hs4142Protocol>(options.badReport ? R::BadCheck : options.report ? R::Right : R::Off);
  }
  if (name == "plx6") return std::make_unique<Plx6Protocol>(options.trapAfter);
  if (name == "fenwick") {
    return std::make_unique<FenwickProtocol>(
        options.schedule.empty() ? Schedule{} : readSchedule(options.schedule),
        FenwickProtocol::Faults{options.corruptCheck, options.dropStx, options.extraChannel, options.changeFields});
  }
  if (name == "brisk") return std::make_unique<BriskProtocol>();
  return nullptr;
}

std::string_view kindName(ItemKind kind) {
  switch (kind) {
    case ItemKind::Enquiry: return "enquiry";
    case ItemKind::Frame: return "frame";
    case ItemKind::Stop: return "stop";
    case ItemKind::Command: return "command";
    case ItemKind::Answer: return "answer";
    case ItemKind::Unexpected: return "unexpected";
    case ItemKind::Abandoned: return "abandoned";
    case ItemKind::Overlong: return "overlong";
  }
  return "?";
}

std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

Bytes joined(const std::vector<Bytes>& messages) {
  Bytes out;
  for (const Bytes& m : messages) out.insert(out.end(), m.begin(), m.end());
  return out;
}

std::string describe(const Item& item, const std::optional<Bytes>& sent, const std::optional<Bytes>& sentAfterPlaying) {
  std::string line{kindName(item.kind)};
  line += ' ';
  line += hex(item.bytes);
  if (!item.note.empty()) {
    line += ' ';
    line += item.note;
  }
  if (sent) {
    line += " -> ";
    line += hex(*sent);
  }
  if (sentAfterPlaying) {
    line += sent ? " then " : " -> ";
    line += hex(*sentAfterPlaying);
  }
  return line;
}

}  // namespace kestrel::sim
