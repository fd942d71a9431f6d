#pragma once
// Channel numbers as text lines ended by CR, every answer one byte. "sts" (any
// case) is answered ACK; a line of three-digit channels such as "001,002,003"
// is answered ACK when taken and ACK again once played; "000" stops playback
// and is answered ACK; any other line NAK.

#include "unit/Protocol.h"

namespace kestrel::sim {

class Mode1Protocol final : public Protocol {
 public:
  static constexpr std::uint8_t CR = 0x0D;
  static constexpr std::uint8_t ACK = 0x06;
  static constexpr std::uint8_t NAK = 0x15;
  // Longer lines are no real command; bounding them bounds memory too. Such a
  // line is one Overlong item holding its first maxLine bytes, refused when
  // its CR comes.
  static constexpr std::size_t maxLine = 4096;

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  Bytes refusal() const override { return {NAK}; }
  bool busyWhilePlaying() const override { return true; }

 private:
  Bytes line_;
  bool overlong_ = false;
};

}  // namespace kestrel::sim
