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

struct Options;

enum class ItemKind {
  Enquiry,     // "are you there?"
  Frame,       // a complete channel command, well formed or not
  Stop,        // stop playback
  Command,     // a setting such as the volume, taken but not played
  Answer,      // the tester's ACK or NAK to a message of the unit's
  Unexpected,  // something that means nothing to the unit
  Abandoned,   // a frame cut short by the start of another
  Overlong,    // a frame or line that grew past the limit; the rest of it is skipped
};

struct Item {
  ItemKind kind;
  Bytes bytes;  // as received
  // What a healthy unit answers at once, message by message; empty for
  // nothing.
  std::vector<Bytes> reply{};
  // Set when the unit plays channels for the item: what it sends of its own
  // accord once they have played, maybe nothing.
  std::optional<std::vector<Bytes>> afterPlaying{};
  // The command as the unit understood it, for a person reading the record.
  std::string note{};
  // The answer instead while channels play, for a command the unit cannot
  // take then.
  std::optional<Bytes> whilePlaying{};

  bool operator==(const Item&) const = default;
};

class Protocol {
 public:
  virtual ~Protocol() = default;
  // Consumes a chunk of the stream; items may span chunks.
  virtual std::vector<Item> feed(std::span<const std::uint8_t> bytes) = 0;
  // The answer a unit gives when it refuses a frame.
  virtual Bytes refusal() const = 0;
  // True when a message the unit sends ends in a check byte over the rest.
  virtual bool checked(std::span<const std::uint8_t> /*message*/) const { return false; }
  // True when the unit reads nothing while it plays, so what the tester sends
  // meanwhile waits; otherwise it plays in the background.
  virtual bool busyWhilePlaying() const { return false; }
};

// The framings the simulator speaks, the default first.
std::vector<std::string> protocolNames();
// nullptr when the name is unknown. Without options the unit reports nothing
// beyond what its protocol always sends. Throws when a schedule file named in
// the options cannot be read.
std::unique_ptr<Protocol> makeProtocol(std::string_view name);
std::unique_ptr<Protocol> makeProtocol(std::string_view name, const Options& options);

std::string_view kindName(ItemKind kind);
std::string hex(std::span<const std::uint8_t> bytes);
// Messages back to back, as one write carries them.
Bytes joined(const std::vector<Bytes>& messages);
// One line per item for a human watching the traffic, e.g.
// "frame 02 30 30 31 03 32 -> 06", or "frame 30 30 31 0D channels 001 -> 06
// then 06" when the answer after playing went in a write of its own. Without
// `sent` the item went unanswered.
std::string describe(const Item& item, const std::optional<Bytes>& sent,
                     const std::optional<Bytes>& sentAfterPlaying = std::nullopt);

}  // namespace kestrel::sim
