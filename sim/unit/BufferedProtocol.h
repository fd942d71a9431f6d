#pragma once
// The default framing: ENQ is answered ACK; STX payload ETX BCC is answered
// ACK or NAK by its checksum; a lone FFh outside a frame stops playback.

#include "unit/Protocol.h"

namespace kestrel::sim {

// STX payload ETX BCC, shared by the units that frame their commands so.
// Frames come out answered ACK or NAK by their BCC, for a protocol to judge
// further; bytes outside a frame are left to the protocol.
class StxFraming {
 public:
  // False when `b` lies outside any frame and starts none.
  bool take(std::uint8_t b, std::vector<Item>& items);

 private:
  void startFrame();

  enum class State { Idle, Payload, Check, Skip, SkipCheck };
  State state_ = State::Idle;
  Bytes frame_;
  std::uint8_t sum_ = 0;
};

class BufferedProtocol final : public Protocol {
 public:
  static constexpr std::uint8_t STX = 0x02;
  static constexpr std::uint8_t ETX = 0x03;
  static constexpr std::uint8_t ENQ = 0x05;
  static constexpr std::uint8_t ACK = 0x06;
  static constexpr std::uint8_t NAK = 0x15;
  static constexpr std::uint8_t STOP = 0xFF;
  // Longer frames are no real command; bounding them bounds memory too.
  static constexpr std::size_t maxFrame = 4096;

  // XOR of the payload and the ETX.
  static std::uint8_t bcc(std::span<const std::uint8_t> payload);
  // STX payload ETX BCC, as the tester sends it.
  static Bytes frame(std::span<const std::uint8_t> payload);
  // The payload of a whole frame.
  static std::span<const std::uint8_t> payload(const Bytes& frame);

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  Bytes refusal() const override { return {NAK}; }

 private:
  StxFraming framing_;
};

}  // namespace kestrel::sim
