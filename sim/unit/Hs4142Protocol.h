#pragma once
// Single-byte answers to STX frames, framed as buffered. ENQ is answered ACK.
// A frame of three-digit channels is answered ACK and played; one byte alone
// is a command: FFh stop, FEh reset, FBh-FDh volume, C8h-D7h sheet 01-16, all
// answered ACK, but volume and sheet are refused with 21h while channels
// play. A wrong BCC or any other payload is answered NAK. Once a frame has
// played the unit may report each of its channels, framed the same way.

#include "unit/BufferedProtocol.h"

namespace kestrel::sim {

class Hs4142Protocol final : public Protocol {
 public:
  static constexpr std::uint8_t BUSY = 0x21;
  static constexpr std::uint8_t STOP = 0xFF;
  static constexpr std::uint8_t RESET = 0xFE;

  enum class Reports { Off, Right, BadCheck };
  explicit Hs4142Protocol(Reports reports = Reports::Off) : reports_(reports) {}

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  Bytes refusal() const override { return {BufferedProtocol::NAK}; }
  bool checked(std::span<const std::uint8_t> message) const override {
    return message.size() > 1 && message[0] == BufferedProtocol::STX;
  }

 private:
  void judge(Item& item) const;

  Reports reports_;
  BufferedProtocol framing_;
};

}  // namespace kestrel::sim
