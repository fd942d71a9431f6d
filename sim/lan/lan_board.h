// Board models served as LAN boards: a TCP port per board with the login
// exchange in front of the command stream, and a UDP port per board that
// answers discovery requests. One thread per board.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "board.h"

namespace kestrel::sim {

using Digest = std::array<std::uint8_t, 32>;
using Challenge = std::array<std::uint8_t, 20>;

inline constexpr std::uint16_t kDefaultLanPort = 49152;
inline constexpr std::size_t kLanHeader = 8;
inline constexpr std::size_t kChallengePacket = 28;
inline constexpr std::size_t kDiscoveryAnswer = kLanHeader + 128;

// Packet types; the board's challenge and refusal types are its own choice,
// the host checks neither.
enum LanPacket : std::uint8_t {
  kDiscoveryRequest = 1,
  kDiscoveryReply = 2,
  kLoginRequest = 3,
  kLoginChallenge = 4,
  kLoginResponse = 5,
  kLoginAccepted = 6,
  kLoginRefused = 7,
};

// SHA-256 of the text's bytes, the form a password is kept in.
Digest password_digest(std::string_view text);
// 64 hexadecimal digits.
std::optional<Digest> parse_digest(std::string_view hex);
std::string default_lan_password();

enum class DiscoveryAnswer {
  full,         // header and the 128-byte product record
  header_only,  // the 8-byte header alone
  none,         // requests go unanswered
};

struct LanFaults {
  bool refuse_login = false;  // every login answered with a refusal
  bool mute_login = false;    // the login request is never answered
  bool mute_replies = false;  // commands run, their replies are never sent
  // Wait before everything sent on the connection.
  std::chrono::milliseconds delay{0};
  // Replies go in pieces of this many bytes, split_gap apart; 0: each whole.
  std::size_t split = 0;
  std::chrono::milliseconds split_gap{20};
  // The n-th reply of a connection goes out half-way and the connection is
  // closed (counted from 1; 0 never).
  unsigned close_mid_reply = 0;
};

// A board that has no address yet asks for one, BOOTP-style, before it
// serves TCP. The destinations are settable so tests can keep to loopback.
struct AddressRequest {
  std::array<std::uint8_t, 6> mac{0x02, 0x4B, 0x45, 0x53, 0x54, 0x01};
  std::string server_name = "Quillmarsh";
  std::string bind_address = "0.0.0.0";
  std::uint16_t own_port = 68;  // 0: any free port
  std::string target = "255.255.255.255";
  std::uint16_t target_port = 67;
  std::chrono::milliseconds interval{250};
  std::size_t length = 300;  // at least 241: the header, the cookie and the end mark
};

inline constexpr std::size_t kAddressRequestMinimum = 236 + 4 + 1;

struct LanBoardConfig {
  BoardConfig board;
  Digest digest = password_digest(default_lan_password());
  std::optional<Challenge> challenge;  // random per connection when not given
  LanFaults faults;
  DiscoveryAnswer discovery = DiscoveryAnswer::full;
  std::string address = "127.0.0.1";
  std::uint16_t tcp_port = 0;  // 0: any free port
  // Not given: the TCP port's number, as a real board uses one number for
  // both (any free port when that one is taken and the TCP port was free).
  std::optional<std::uint16_t> udp_port;
  // Set: ask for an address first; TCP hosts wait in the listen queue until
  // an answer has come.
  std::optional<AddressRequest> ask_address;
  // Set: the board's thread runs under SCHED_FIFO at this priority where the
  // process may have it, so a busy machine does not delay when the model
  // stamps a command it received (a real board answers at once).
  std::optional<int> fifo_priority;
  // Set: the model times each command by when its bytes reached the
  // board's socket, not by when its thread got to them, as a board acting
  // on arrival would. The model's own clock is left alone otherwise.
  bool stamp_on_receipt = false;
};

struct LanStats {
  unsigned connections = 0;
  unsigned logins = 0;    // accepted
  unsigned refusals = 0;  // refused by password or by the refuse fault
  unsigned discovery_requests = 0;
  unsigned address_requests = 0;  // sent
};

class LanServer {
 public:
  // One board and its sockets; public for the service thread.
  struct Slot {
    explicit Slot(LanBoardConfig c) : config(std::move(c)), board(config.board) {}
    LanBoardConfig config;
    mutable std::mutex lock;  // guards board and stats
    Board board;
    LanStats stats;
    int listener = -1, udp = -1;
    std::uint16_t tcp_port = 0, udp_port = 0;
    int ask = -1;  // the address request socket, closed once answered
    std::uint16_t ask_port = 0;
    std::array<std::uint8_t, 4> xid{};
    std::optional<Bytes> answer;  // guarded by lock
    std::string scheduling = "normal";
  };

  explicit LanServer(std::vector<LanBoardConfig> boards);
  ~LanServer();
  LanServer(const LanServer&) = delete;
  LanServer& operator=(const LanServer&) = delete;

  // Binds every board's ports and starts serving. Throws std::system_error
  // when a socket cannot be set up; nothing is left running then.
  void start();
  // Idempotent; the destructor calls it.
  void stop();

  std::size_t size() const { return slots_.size(); }
  // Valid after start().
  std::uint16_t tcp_port(std::size_t board) const;
  std::uint16_t udp_port(std::size_t board) const;
  LanStats stats(std::size_t board) const;
  // The port the address requests go out from; 0 when the board does not ask.
  std::uint16_t address_port(std::size_t board) const;
  // The answer the board took, as received; nullopt until one came.
  std::optional<Bytes> address_answer(std::size_t board) const;
  // Its bytes 16-19 as dotted text.
  std::optional<std::string> assigned_address(std::size_t board) const;
  // What board `index`'s thread got, as one line: "normal", "SCHED_FIFO 11",
  // or "normal: SCHED_FIFO 11 refused: " and why. Valid after start().
  std::string scheduling(std::size_t board) const;

  // Runs f on board `index`'s model while no host traffic touches it.
  template <typename F>
  auto with_board(std::size_t index, F&& f) {
    Slot& s = *slots_.at(index);
    std::lock_guard guard(s.lock);
    return f(s.board);
  }

 private:
  std::vector<std::unique_ptr<Slot>> slots_;
  int wake_read_ = -1, wake_write_ = -1;
  std::vector<std::thread> threads_;
};

}  // namespace kestrel::sim
