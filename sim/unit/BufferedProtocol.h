#pragma once
// The default framing: ENQ is answered ACK; STX payload ETX BCC is answered
// ACK or NAK by its checksum; a lone FFh outside a frame stops playback.

#include "unit/Protocol.h"

namespace kestrel::sim {

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

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  std::uint8_t refusal() const override { return NAK; }

 private:
  void outside(std::uint8_t b, std::vector<Item>& items);
  void startFrame();

  enum class State { Idle, Payload, Check, Skip, SkipCheck };
  State state_ = State::Idle;
  Bytes frame_;
  std::uint8_t sum_ = 0;
};

}  // namespace kestrel::sim
