#pragma once
// The buffered framing for units of up to 1000 channels. A frame with a right
// checksum is still refused unless the unit can play it: FFh alone stops
// playback; otherwise an optional line prefix "#00n" (n 1-9) and one or more
// four-digit channels, 0001-1000.

#include "unit/BufferedProtocol.h"

namespace kestrel::sim {

class Buffered1000Protocol final : public Protocol {
 public:
  static constexpr unsigned maxChannel = 1000;

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  Bytes refusal() const override { return {BufferedProtocol::NAK}; }

 private:
  BufferedProtocol framing_;
};

}  // namespace kestrel::sim
