#pragma once
// A transport-bureau unit that sends back the schedule it holds. ENQ is
// answered ACK; then STX, 20h, the channels asked for in ASCII digits, ETX,
// BCC (the XOR of everything after STX up to ETX) asks for them: "000" all of
// 1-255, three digits one channel 1-255, or eight digits a start and an end
// channel of four digits each, 1-1000, where a start above the end asks for
// nothing. A wrong BCC or field is answered NAK; otherwise the answer is STX,
// one record per channel asked for that the schedule holds, ETX, BCC. A record
// is the channel in plain decimal and its five fields, each ended by a comma.

#include "unit/BufferedProtocol.h"
#include "unit/Schedule.h"

namespace kestrel::sim {

// Ways the unit's answer can go wrong, for trying the tester's checks.
struct FenwickFaults {
  bool corruptCheck = false;  // the BCC of every answer wrong
  bool dropStx = false;       // every answer without its STX
  unsigned extraChannel = 0;  // a record with empty fields for it in every answer; 0 none
  std::vector<FieldChange> changes{};
};

class FenwickProtocol final : public Protocol {
 public:
  static constexpr std::uint8_t REQUEST = 0x20;
  static constexpr unsigned maxShortChannel = 255;

  using Faults = FenwickFaults;

  explicit FenwickProtocol(Schedule schedule = {}, Faults faults = {})
      : schedule_(std::move(schedule)), faults_(std::move(faults)) {}

  // STX 20h digits ETX BCC, as the tester sends it.
  static Bytes request(std::string_view digits);

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  Bytes refusal() const override { return {BufferedProtocol::NAK}; }
  // Only the answers to requests are longer than a byte.
  bool checked(std::span<const std::uint8_t> message) const override { return message.size() > 1; }

 private:
  void judge(Item& item) const;
  Bytes answer(unsigned first, unsigned last) const;

  Schedule schedule_;
  Faults faults_;
  StxFraming framing_;
};

}  // namespace kestrel::sim
