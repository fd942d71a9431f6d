#pragma once
// DLE codes and short text messages. DLE ENQ is answered DLE ACK and "Ready";
// a frame STX, two upper-case hex digits per channel (01-FF), ETX, BCC is
// played and answered "Ready" once played, or DLE NAK at once when its BCC or
// payload is wrong; 01h alone stops playback and is answered "Stop ". The
// unit's texts are framed as the tester's frames: STX text ETX BCC, BCC the
// XOR of the text and ETX.

#include "unit/BufferedProtocol.h"

namespace kestrel::sim {

class Plx6Protocol final : public Protocol {
 public:
  static constexpr std::uint8_t DLE = 0x10;
  static constexpr std::uint8_t ENQ = 0x05;
  static constexpr std::uint8_t ACK = 0x06;
  static constexpr std::uint8_t NAK = 0x15;
  static constexpr std::uint8_t STOP = 0x01;

  // STX text ETX BCC.
  static Bytes text(std::string_view text);

  // With `trapAfter` k > 0 the k-th frame the unit takes is followed by
  // "Trap " in place of "Ready", once. Frames are counted as read, so one
  // that --nak-every refuses still counts.
  explicit Plx6Protocol(unsigned trapAfter = 0) : trapAfter_(trapAfter) {}

  std::vector<Item> feed(std::span<const std::uint8_t> bytes) override;
  Bytes refusal() const override { return {DLE, NAK}; }
  bool checked(std::span<const std::uint8_t> message) const override {
    return message.size() > 1 && message[0] == BufferedProtocol::STX;
  }

 private:
  void outside(std::uint8_t b, std::vector<Item>& items);
  void judge(Item& item);

  unsigned trapAfter_;
  unsigned taken_ = 0;
  bool dle_ = false;  // a DLE came last, outside any frame
  StxFraming framing_;
};

}  // namespace kestrel::sim
