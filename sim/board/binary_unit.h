// A binary voice unit wired to the expansion board's lines: it takes channel
// numbers from the data and strobe lines the board drives and answers on the
// busy line. It keeps no clock of its own; the board hands it the time stamp
// of each command it runs, so tests decide what time it is.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace kestrel::sim {

// How a channel number goes onto the lines:
//   A  four transfers of two bits on D0-D1, most significant pair first, each
//      byte inverted, the first marked by D2 (channels 0-255);
//   B  ten bits on D0-D9 (channels up to 1023);
//   C  eight bits on D0-D7 (channels up to 255).
enum class BinaryProtocol { A, B, C };

struct BinaryUnitConfig {
  BinaryProtocol protocol = BinaryProtocol::B;
  // The tester's logic setting this unit is built for (A has none). With it,
  // B's lines carry the channel inverted and C's carry it as it is; without
  // it the other way round.
  bool positive_logic = false;
  std::chrono::milliseconds playback{300};  // busy this long after each channel
};

// One channel the unit took.
struct BinaryChannel {
  unsigned channel = 0;
  std::chrono::steady_clock::time_point latched;  // its last transfer latched: busy from here
  // Each transfer's strobe, from the write that started it to the one that ended it.
  std::vector<std::chrono::steady_clock::duration> strobe_widths;
  bool while_busy = false;  // a strobe of it came while a channel was still playing
};

struct StopPulse {
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::duration width{};
  bool with_strobe = false;  // the strobe pulsed while the stop line was low
  bool while_busy = false;   // it cut a playback short
};

class BinaryUnit {
 public:
  static constexpr std::uint32_t kDataPort = 0xFFFFD3;     // D0-D7
  static constexpr std::uint32_t kControlPort = 0xFFFFD9;  // D8, D9, strobe, stop
  static constexpr std::uint32_t kBusyPort = 0xFFFFD0;     // busy on bit 0
  static constexpr std::uint8_t kStrobe = 0x04, kStop = 0x08, kBusy = 0x01;
  static constexpr std::size_t kKept = 100000;  // records beyond this drop the oldest

  explicit BinaryUnit(BinaryUnitConfig config = {});

  const BinaryUnitConfig& config() const { return config_; }

  // The levels of the data and control lines from `now` on. Lines the board
  // does not drive are pulled up, so the idle level is 1 on all of them.
  void lines(std::chrono::steady_clock::time_point now, std::uint8_t data, std::uint8_t control);

  // The busy line at `now`: a playback whose time has run out ends here.
  bool busy(std::chrono::steady_clock::time_point now);
  bool busy() const { return busy_; }
  std::optional<std::chrono::steady_clock::time_point> busy_until() const;

  const std::deque<BinaryChannel>& channels() const { return channels_; }
  const std::deque<StopPulse>& stops() const { return stops_; }

 private:
  void strobe_start(std::chrono::steady_clock::time_point now, std::uint8_t data, std::uint8_t control);
  void strobe_end(std::chrono::steady_clock::time_point now);
  void play(std::chrono::steady_clock::time_point now);

  BinaryUnitConfig config_;
  std::uint8_t control_ = 0xFF;
  bool busy_ = false;
  std::chrono::steady_clock::time_point busy_until_{};
  std::chrono::steady_clock::time_point strobe_at_{}, stop_at_{};
  bool strobe_in_stop_ = false;  // the current strobe belongs to a stop pulse
  StopPulse stop_;
  // The channel being taken: protocol A's pairs so far, complete once decoded.
  std::optional<BinaryChannel> taking_;
  std::vector<unsigned> pairs_;
  bool decoded_ = false;
  std::deque<BinaryChannel> channels_;
  std::deque<StopPulse> stops_;
};

}  // namespace kestrel::sim
