#pragma once
// DLE framing: DLE STX, a command letter and its characters, DLE ETX, BCC,
// BCC the XOR of everything between DLE STX and the BCC. "C" is a play list:
// a count character, 30h + N for N channels (4Fh for 31 or more), then two
// characters per channel, its low byte as two nibbles, high first, each
// 30h + nibble. "D" alone stops playback. Both are answered DLE ACK 00 or,
// with a wrong BCC or a count that does not match, DLE NAK 00. A list of more
// than 30 channels is refused too, as a unit plays at most 30. Once a list has
// played the unit sends DLE STX 39h DLE ETX BCC and expects the tester's
// DLE ACK 00 or DLE NAK 00 for it.
//
// The BCC is sent as is, even when it is DLE, so a frame ends at the first
// byte after DLE ETX.

#include "unit/Protocol.h"

namespace kestrel::sim {

class CustomerProtocol final : public Protocol {
 public:
  static constexpr std::uint8_t DLE = 0x10;
  static constexpr std::uint8_t STX = 0x02;
  static constexpr std::uint8_t ETX = 0x03;
  static constexpr std::uint8_t ACK = 0x06;
  static constexpr std::uint8_t NAK = 0x15;
  static constexpr std::uint8_t PLAY = 'C';
  static constexpr std::uint8_t STOP = 'D';
  static constexpr std::uint8_t PLAYED = 0x39;
  static constexpr unsigned maxChannels = 30;
  // Longer frames are no real command; bounding them bounds memory too.
  static constexpr std::size_t maxFrame = 4096;

  // DLE STX body DLE ETX BCC.
  static Bytes message(std::span<const std::uint8_t> body);
  // The play list for these channels, as the tester sends it.
  static Bytes playList(std::span<const unsigned> channels);

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  Bytes refusal() const override { return {DLE, NAK, 0x00}; }
  bool checked(std::span<const std::uint8_t> message) const override {
    return message.size() > 2 && message[0] == DLE && message[1] == STX;
  }

 private:
  void outside(std::uint8_t b, std::vector<Item>& items);
  void startFrame();

  enum class State { Idle, Dle, Answer, Body, BodyDle, Check, Skip, SkipDle, SkipCheck };
  State state_ = State::Idle;
  Bytes frame_;
};

}  // namespace kestrel::sim
