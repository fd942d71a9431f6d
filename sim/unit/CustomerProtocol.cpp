#include "unit/CustomerProtocol.h"

#include <algorithm>

namespace kestrel::sim {

namespace {

using P = CustomerProtocol;

const Bytes ack{P::DLE, P::ACK, 0x00};
const Bytes nak{P::DLE, P::NAK, 0x00};

std::uint8_t bcc(std::span<const std::uint8_t> body) {
  std::uint8_t sum = P::DLE ^ P::ETX;
  for (std::uint8_t b : body) sum ^= b;
  return sum;
}

// The note for a play list the unit takes, e.g. "play 1 2 30"; otherwise why
// it refuses it.
std::pair<bool, std::string> decode(std::span<const std::uint8_t> list) {
  if (list.empty() || list.size() % 2 != 1) return {false, "bad payload"};
  const std::size_t pairs = list.size() / 2;
  // 31h-4Eh count 1-30 channels; 4Fh any more.
  const unsigned count = list[0] > 0x30 && list[0] <= 0x30 + P::maxChannels + 1 ? list[0] - 0x30u : 0;
  if (count == 0 || (count <= P::maxChannels ? pairs != count : pairs <= P::maxChannels)) return {false, "bad count"};
  std::string note = "play";
  for (std::size_t i = 1; i < list.size(); i += 2) {
    const std::uint8_t high = list[i] - 0x30, low = list[i + 1] - 0x30;
    if (high > 0x0F || low > 0x0F) return {false, "bad payload"};
    note += ' ';
    note += std::to_string(high << 4 | low);
  }
  if (pairs > P::maxChannels) return {false, "over 30 channels"};
  return {true, std::move(note)};
}

Item judge(Bytes frame) {
  const auto body = std::span(frame).subspan(2, frame.size() - 5);  // DLE STX body DLE ETX BCC
  if (frame.back() != bcc(body)) return {ItemKind::Frame, std::move(frame), {nak}, std::nullopt, "bad checksum"};
  if (body.size() == 1 && body[0] == P::STOP) return {ItemKind::Stop, std::move(frame), {ack}};
  if (body.empty() || body[0] != P::PLAY)
    return {ItemKind::Frame, std::move(frame), {nak}, std::nullopt, "bad payload"};
  auto [playable, note] = decode(body.subspan(1));
  if (!playable) return {ItemKind::Frame, std::move(frame), {nak}, std::nullopt, std::move(note)};
  const Bytes played{P::PLAYED};
  return {ItemKind::Frame, std::move(frame), {ack}, std::vector<Bytes>{P::message(played)}, std::move(note)};
}

}  // namespace

Bytes CustomerProtocol::message(std::span<const std::uint8_t> body) {
  Bytes out;
  out.reserve(body.size() + 5);
  out.push_back(DLE);
  out.push_back(STX);
  for (std::uint8_t b : body) out.push_back(b);
  out.push_back(DLE);
  out.push_back(ETX);
  out.push_back(bcc(body));
  return out;
}

Bytes CustomerProtocol::playList(std::span<const unsigned> channels) {
  const auto count = std::min<std::size_t>(channels.size(), maxChannels + 1);
  Bytes body{PLAY, static_cast<std::uint8_t>(0x30 + count)};
  for (unsigned channel : channels) {
    body.push_back(static_cast<std::uint8_t>(0x30 + (channel >> 4 & 0x0F)));
    body.push_back(static_cast<std::uint8_t>(0x30 + (channel & 0x0F)));
  }
  return message(body);
}

void CustomerProtocol::startFrame() {
  frame_ = {DLE, STX};
  state_ = State::Body;
}

void CustomerProtocol::outside(std::uint8_t b, std::vector<Item>& items) {
  if (b == DLE) {
    state_ = State::Dle;
  } else {
    items.push_back({ItemKind::Unexpected, {b}});
  }
}

std::vector<Item> CustomerProtocol::feed(std::span<const std::uint8_t> bytes) {
  std::vector<Item> items;
  for (std::uint8_t b : bytes) {
    switch (state_) {
      case State::Idle: outside(b, items); break;
      case State::Dle:
        if (b == STX) {
          startFrame();
        } else if (b == ACK || b == NAK) {
          frame_ = {DLE, b};
          state_ = State::Answer;
        } else {
          items.push_back({ItemKind::Unexpected, {DLE}});
          state_ = State::Idle;
          outside(b, items);
        }
        break;
      case State::Answer:
        state_ = State::Idle;
        if (b == 0x00) {
          frame_.push_back(b);
          const bool acked = frame_[1] == ACK;
          items.push_back({ItemKind::Answer, std::move(frame_), {}, std::nullopt, acked ? "ACK" : "NAK"});
        } else {
          items.push_back({ItemKind::Unexpected, std::move(frame_)});
          outside(b, items);
        }
        frame_.clear();
        break;
      case State::Body:
        if (b == DLE) {
          state_ = State::BodyDle;
        } else {
          frame_.push_back(b);
        }
        break;
      case State::BodyDle:
        if (b == ETX) {
          frame_.push_back(DLE);
          frame_.push_back(ETX);
          state_ = State::Check;
        } else if (b == STX) {
          // The sender gave up on that frame and began again.
          items.push_back({ItemKind::Abandoned, std::move(frame_)});
          startFrame();
        } else {
          // No DLE belongs in a body; keep it for the record, the judge will refuse it.
          frame_.push_back(DLE);
          if (b != DLE) {
            frame_.push_back(b);
            state_ = State::Body;
          }
        }
        break;
      case State::Check:
        // Any value can be a checksum, DLE included.
        frame_.push_back(b);
        items.push_back(judge(std::move(frame_)));
        frame_.clear();
        state_ = State::Idle;
        break;
      case State::Skip:
        if (b == DLE) state_ = State::SkipDle;
        break;
      case State::SkipDle:
        if (b == STX)
          startFrame();
        else if (b == ETX)
          state_ = State::SkipCheck;
        else if (b != DLE)
          state_ = State::Skip;
        break;
      case State::SkipCheck: state_ = State::Idle; break;
    }
    if ((state_ == State::Body || state_ == State::BodyDle) && frame_.size() > maxFrame) {
      items.push_back({ItemKind::Overlong, std::move(frame_)});
      frame_.clear();
      state_ = state_ == State::BodyDle ? State::SkipDle : State::Skip;
    }
  }
  return items;
}

}  // namespace kestrel::sim
