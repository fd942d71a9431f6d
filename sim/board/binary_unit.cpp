#include "binary_unit.h"

#include <utility>

namespace kestrel::sim {
namespace {

template <typename T>
void keep(std::deque<T>& record, T entry) {
  if (record.size() == BinaryUnit::kKept) record.pop_front();
  record.push_back(std::move(entry));
}

}  // namespace

BinaryUnit::BinaryUnit(BinaryUnitConfig config) : config_(config) {}

bool BinaryUnit::busy(std::chrono::steady_clock::time_point now) {
  if (busy_ && now >= busy_until_) busy_ = false;
  return busy_;
}

std::optional<std::chrono::steady_clock::time_point> BinaryUnit::busy_until() const {
  if (!busy_) return std::nullopt;
  return busy_until_;
}

void BinaryUnit::lines(std::chrono::steady_clock::time_point now, std::uint8_t data, std::uint8_t control) {
  busy(now);
  const auto fell = static_cast<std::uint8_t>(control_ & ~control);
  const auto rose = static_cast<std::uint8_t>(~control_ & control);
  control_ = control;
  // Stop first: a strobe that falls with it belongs to the stop.
  if (fell & kStop) {
    stop_ = StopPulse{now, {}, false, busy_};
    busy_ = false;
    taking_.reset();
    pairs_.clear();
    decoded_ = false;
  }
  if (fell & kStrobe) strobe_start(now, data, control);
  if (rose & kStrobe) strobe_end(now);
  if (rose & kStop) {
    stop_.width = now - stop_.started;
    keep(stops_, stop_);
  }
}

// The data are latched when the strobe goes to 0. Every sender puts them on
// the lines before that and holds them through the pulse, and protocol C
// waits 20 ms before the strobe starts but nothing after it ends: a set-up
// time for the falling edge, with no hold time for the rising one.
void BinaryUnit::strobe_start(std::chrono::steady_clock::time_point now, std::uint8_t data, std::uint8_t control) {
  strobe_at_ = now;
  strobe_in_stop_ = (control & kStop) == 0;
  if (strobe_in_stop_) {
    stop_.with_strobe = true;
    return;
  }
  const bool was_busy = busy_;
  unsigned channel = 0;
  switch (config_.protocol) {
    case BinaryProtocol::A: {
      const unsigned v = ~data & 0x07u;
      if (v & 0x04u) {
        taking_ = BinaryChannel{};
        pairs_.clear();
      } else if (!taking_) {
        return;  // a transfer without the first one's mark: nothing to add it to
      }
      pairs_.push_back((v & 1u) << 1 | (v >> 1 & 1u));  // D0 carries the pair's higher bit
      taking_->while_busy = taking_->while_busy || was_busy;
      if (pairs_.size() < 4) return;
      for (unsigned pair : pairs_) channel = channel << 2 | pair;
      taking_->channel = channel;
      play(now);
      return;
    }
    case BinaryProtocol::B: {
      const unsigned raw = data | (control & 0x03u) << 8;
      channel = config_.positive_logic ? ~raw & 0x3FFu : raw;
      break;
    }
    case BinaryProtocol::C: channel = config_.positive_logic ? data : ~data & 0xFFu; break;
  }
  taking_ = BinaryChannel{channel, now, {}, was_busy};
  play(now);
}

void BinaryUnit::strobe_end(std::chrono::steady_clock::time_point now) {
  if (strobe_in_stop_) {
    strobe_in_stop_ = false;
    return;
  }
  if (!taking_) return;
  taking_->strobe_widths.push_back(now - strobe_at_);
  if (!decoded_) return;
  keep(channels_, std::move(*taking_));
  taking_.reset();
  pairs_.clear();
  decoded_ = false;
}

void BinaryUnit::play(std::chrono::steady_clock::time_point now) {
  taking_->latched = now;
  decoded_ = true;
  busy_ = true;
  busy_until_ = now + config_.playback;
}

}  // namespace kestrel::sim
