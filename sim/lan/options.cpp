#include "options.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace kestrel::sim {
namespace {

std::optional<unsigned> number(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Challenge> parse_challenge(std::string_view hex) {
  // Reuses the digest parser on a zero-padded copy: same digits, fewer bytes.
  if (hex.size() != 40) return std::nullopt;
  const auto padded = parse_digest(std::string(hex) + std::string(24, '0'));
  if (!padded) return std::nullopt;
  Challenge out{};
  std::copy_n(padded->begin(), out.size(), out.begin());
  return out;
}

}  // namespace

LanCommandLine parse_lan_command_line(const std::vector<std::string_view>& args) {
  LanCommandLine cl;
  LanBoardConfig common;
  common.tcp_port = kDefaultLanPort;
  unsigned count = 1;
  std::optional<std::vector<BoardConfig>> described;
  auto fail = [&](std::string message) {
    cl.error = std::move(message);
    return cl;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "-h" || arg == "--help") {
      cl.help = true;
    } else if (arg == "--refuse") {
      common.faults.refuse_login = true;
    } else if (arg == "--mute-login") {
      common.faults.mute_login = true;
    } else if (arg == "--mute-replies") {
      common.faults.mute_replies = true;
    } else if (arg == "--password") {
      const auto text = value();
      if (!text) return fail("--password wants a text");
      common.digest = password_digest(*text);
    } else if (arg == "--digest") {
      const auto text = value();
      const auto digest = text ? parse_digest(*text) : std::nullopt;
      if (!digest) return fail("--digest wants 64 hexadecimal digits");
      common.digest = *digest;
    } else if (arg == "--challenge") {
      const auto text = value();
      const auto challenge = text ? parse_challenge(*text) : std::nullopt;
      if (!challenge) return fail("--challenge wants 40 hexadecimal digits");
      common.challenge = *challenge;
    } else if (arg == "--address") {
      const auto text = value();
      if (!text || text->empty()) return fail("--address wants an IPv4 address");
      common.address = *text;
    } else if (arg == "--discovery") {
      const auto text = value();
      if (text == "full")
        common.discovery = DiscoveryAnswer::full;
      else if (text == "header")
        common.discovery = DiscoveryAnswer::header_only;
      else if (text == "none")
        common.discovery = DiscoveryAnswer::none;
      else
        return fail("--discovery wants full, header or none");
    } else if (arg == "--config") {
      const auto path = value();
      if (!path) return fail("--config wants a file");
      std::ifstream in{std::string(*path)};
      std::ostringstream text;
      text << in.rdbuf();
      const auto parsed = in ? parse_config(text.str()) : std::nullopt;
      if (!parsed || parsed->boards.empty()) return fail("--config: no boards read from " + std::string(*path));
      described = parsed->boards;
    } else if (arg == "--boards" || arg == "--port" || arg == "--udp-port" || arg == "--delay" || arg == "--split" ||
               arg == "--split-gap" || arg == "--close-mid-reply") {
      const auto text = value();
      const auto n = text ? number(*text) : std::nullopt;
      if (!n) return fail(std::string(arg) + " wants a whole number");
      if ((arg == "--port" || arg == "--udp-port") && *n > 65535) return fail(std::string(arg) + ": no such port");
      if (arg == "--boards") {
        if (*n == 0 || *n > 256) return fail("--boards wants 1 to 256");
        count = *n;
      } else if (arg == "--port") {
        common.tcp_port = static_cast<std::uint16_t>(*n);
      } else if (arg == "--udp-port") {
        common.udp_port = static_cast<std::uint16_t>(*n);
      } else if (arg == "--delay") {
        common.faults.delay = std::chrono::milliseconds(*n);
      } else if (arg == "--split") {
        common.faults.split = *n;
      } else if (arg == "--split-gap") {
        common.faults.split_gap = std::chrono::milliseconds(*n);
      } else {
        common.faults.close_mid_reply = *n;
      }
    } else {
      return fail("unknown argument: " + std::string(arg));
    }
  }
  const std::vector<BoardConfig> boards = described ? *described : std::vector<BoardConfig>(count);
  for (std::size_t i = 0; i < boards.size(); ++i) {
    LanBoardConfig b = common;
    b.board = boards[i];
    const auto step = [i](std::uint16_t first) {
      return first == 0 ? std::uint16_t{0} : static_cast<std::uint16_t>(first + i);
    };
    if (common.tcp_port != 0 && common.tcp_port + i > 65535) return fail("--port: too few ports above it");
    b.tcp_port = step(common.tcp_port);
    if (common.udp_port) b.udp_port = step(*common.udp_port);
    cl.boards.push_back(std::move(b));
  }
  return cl;
}

std::string lan_usage(std::string_view program) {
  std::string text = "usage: " + std::string(program) + " [options]\n";
  text += R"(
Serves simulated controller boards as LAN boards: a TCP port per board that
takes the login exchange and then the board's command stream, and a UDP port
per board that answers discovery requests. Prints one line per board,
  board 0 tcp 49152 udp 49152
then runs until SIGINT or SIGTERM. One host connection per board at a time;
a further host waits in the listen queue until the first one has gone.

  --boards N         serve N boards (default 1), the default model each
  --config FILE      serve the boards described in FILE, in the format of
                     the USB driver stand-in ([board] sections)
  --address A        IPv4 address to listen on (default 127.0.0.1)
  --port N           TCP port of the first board, the next boards N+1, ...
                     (default 49152; 0: any free port for each)
  --udp-port N       UDP port of the first board, likewise (default: each
                     board's TCP port number)
  --password TEXT    the board's password (default "kestrel"); the host
                     proves it knows the SHA-256 digest of the text
  --digest HEX       the password digest itself, 64 hexadecimal digits
  --challenge HEX    send this 20-byte challenge (40 hexadecimal digits)
                     to every host instead of a random one
  --refuse           refuse every login, right password or not
  --mute-login       never answer the login request
  --mute-replies     log in and run commands but never send a reply
  --delay MS         wait this long before everything sent on a connection
  --split N          send each reply in pieces of N bytes (0: whole)
  --split-gap MS     time between those pieces (default 20)
  --close-mid-reply K
                     send half of the K-th reply of each connection, then
                     close it (0, the default, never)
  --discovery MODE   answer discovery requests with the product record
                     (full, the default), with the 8-byte header alone
                     (header) or not at all (none)
  -h, --help         this text
)";
  return text;
}

}  // namespace kestrel::sim
