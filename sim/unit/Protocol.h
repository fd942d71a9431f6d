#pragma once
// A unit's serial framing: turns the byte stream from the tester into items,
// and says what a healthy unit answers to each.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::sim {

using Bytes = std::vector<std::uint8_t>;

enum class ItemKind {
  Enquiry,     // "are you there?"
  Frame,       // a complete channel command, well formed or not
  Stop,        // stop playback
  Unexpected,  // something that means nothing to the unit
  Abandoned,   // a frame cut short by the start of another
  Overlong,    // a frame or line that grew past the limit; the rest of it is skipped
};

struct Item {
  ItemKind kind;
  Bytes bytes;                        // as received
  std::optional<std::uint8_t> reply;  // what a healthy unit answers, if anything
  // What it answers again once the channels have played, for units that
  // report the end of playback.
  std::optional<std::uint8_t> afterPlaying{};
  // The command as the unit understood it, for a person reading the record.
  std::string note{};

  bool operator==(const Item&) const = default;
};

class Protocol {
 public:
  virtual ~Protocol() = default;
  // Consumes a chunk of the stream; items may span chunks.
  virtual std::vector<Item> feed(std::span<const std::uint8_t> bytes) = 0;
  // The answer a unit gives when it refuses a frame.
  virtual std::uint8_t refusal() const = 0;
};

// The framings the simulator speaks, the default first.
std::vector<std::string> protocolNames();
// nullptr when the name is unknown.
std::unique_ptr<Protocol> makeProtocol(std::string_view name);

std::string_view kindName(ItemKind kind);
std::string hex(std::span<const std::uint8_t> bytes);
// One line per item for a human watching the traffic, e.g.
// "frame 02 30 30 31 03 32 -> 06", or "frame 30 30 31 0D channels 001 -> 06
// then 06" when the answer after playing went in a write of its own. Without
// `sent` the item went unanswered.
std::string describe(const Item& item, const std::optional<Bytes>& sent,
                     const std::optional<Bytes>& sentAfterPlaying = std::nullopt);

}  // namespace kestrel::sim
