#include "unit/BufferedProtocol.h"

namespace kestrel::sim {

namespace {

using P = BufferedProtocol;

}  // namespace

void StxFraming::startFrame() {
  frame_.assign(1, P::STX);
  sum_ = 0;
  state_ = State::Payload;
}

bool StxFraming::take(std::uint8_t b, std::vector<Item>& items) {
  switch (state_) {
    case State::Idle:
      if (b != P::STX) return false;
      startFrame();
      break;
    case State::Payload:
      if (b == P::STX) {
        // The sender gave up on that frame and began again.
        items.push_back({ItemKind::Abandoned, std::move(frame_)});
        startFrame();
        break;
      }
      frame_.push_back(b);
      sum_ ^= b;
      if (b == P::ETX) {
        state_ = State::Check;
      } else if (frame_.size() > P::maxFrame) {
        items.push_back({ItemKind::Overlong, std::move(frame_)});
        frame_.clear();
        state_ = State::Skip;
      }
      break;
    case State::Check: {
      // Any value can be a checksum, STX included.
      frame_.push_back(b);
      const std::uint8_t reply = b == sum_ ? P::ACK : P::NAK;
      items.push_back({ItemKind::Frame, std::move(frame_), {{reply}}});
      frame_.clear();
      state_ = State::Idle;
      break;
    }
    case State::Skip:
      if (b == P::STX)
        startFrame();
      else if (b == P::ETX)
        state_ = State::SkipCheck;
      break;
    case State::SkipCheck: state_ = State::Idle; break;
  }
  return true;
}

std::uint8_t BufferedProtocol::bcc(std::span<const std::uint8_t> payload) {
  std::uint8_t sum = ETX;
  for (std::uint8_t b : payload) sum ^= b;
  return sum;
}

Bytes BufferedProtocol::frame(std::span<const std::uint8_t> payload) {
  Bytes out;
  out.reserve(payload.size() + 3);
  out.push_back(STX);
  for (std::uint8_t b : payload) out.push_back(b);
  out.push_back(ETX);
  out.push_back(bcc(payload));
  return out;
}

std::span<const std::uint8_t> BufferedProtocol::payload(const Bytes& frame) {
  return std::span(frame).subspan(1, frame.size() - 3);  // STX payload ETX BCC
}

std::vector<Item> BufferedProtocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items;
  for (std::uint8_t b : bytes) {
    if (framing_.take(b, items)) continue;
    switch (b) {
      case ENQ: items.push_back({ItemKind::Enquiry, {b}, {{ACK}}}); break;
      case STOP: items.push_back({ItemKind::Stop, {b}}); break;
      default: items.push_back({ItemKind::Unexpected, {b}}); break;
    }
  }
  return items;
}

}  // namespace kestrel::sim
