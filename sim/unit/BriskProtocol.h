#pragma once
// A unit told what to announce by short frames it never answers: "@", an
// event character 30h-3Fh (events 1 to 16), a unit number of three or four
// ASCII digits, CR. Anything else is recorded as unexpected.

#include "unit/Protocol.h"

namespace kestrel::sim {

class BriskProtocol final : public Protocol {
 public:
  static constexpr std::uint8_t AT = '@';
  static constexpr std::uint8_t CR = 0x0D;
  // Longer frames are no real command; bounding them bounds memory too.
  static constexpr std::size_t maxFrame = 4096;

  // The frame for an event (1-16) and a unit number of `width` digits.
  static Bytes frame(unsigned event, unsigned unit, unsigned width = 3);

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  // It never answers, so there is nothing to refuse with either.
  Bytes refusal() const override { return {}; }

 private:
  Bytes frame_;  // from "@" on; empty outside a frame
  bool overlong_ = false;
};

}  // namespace kestrel::sim
