#include "options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace kestrel::sim {
namespace {

constexpr const char* kLanExpansionProduct = "787c7eb3-31ac-4be1-bd0a-c07563d39179";

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

bool is_ipv4(std::string_view text) {
  in_addr a{};
  return inet_pton(AF_INET, std::string(text).c_str(), &a) == 1;
}

std::optional<std::array<std::uint8_t, 6>> parse_mac(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  std::array<std::uint8_t, 6> out{};
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0 && text[3 * i - 1] != ':') return std::nullopt;
    const auto pair = text.substr(3 * i, 2);
    const auto [end, ec] = std::from_chars(pair.data(), pair.data() + 2, out[i], 16);
    if (ec != std::errc{} || end != pair.data() + 2) return std::nullopt;
  }
  return out;
}

// Boards after the first take the next addresses up, as a batch of units would.
std::array<std::uint8_t, 6> mac_plus(std::array<std::uint8_t, 6> mac, std::size_t n) {
  for (int i = 5; i >= 0 && n > 0; --i) {
    n += mac[i];
    mac[i] = static_cast<std::uint8_t>(n);
    n >>= 8;
  }
  return mac;
}

}  // namespace

LanCommandLine parse_lan_command_line(const std::vector<std::string_view>& args) {
  LanCommandLine cl;
  LanBoardConfig common;
  common.tcp_port = kDefaultLanPort;
  unsigned count = 1;
  std::optional<std::vector<BoardConfig>> described;
  bool flash_writer = false, ask_address = false, address_details = false;
  AddressRequest request;
  std::optional<BinaryUnitConfig> binary;
  std::optional<bool> binary_positive;
  std::optional<std::chrono::milliseconds> binary_play;
  bool expansion = false;
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
    } else if (arg == "--flash-writer") {
      flash_writer = true;
    } else if (arg == "--ask-address") {
      ask_address = true;
    } else if (arg == "--mac") {
      const auto text = value();
      const auto mac = text ? parse_mac(*text) : std::nullopt;
      if (!mac) return fail("--mac wants XX:XX:XX:XX:XX:XX");
      request.mac = *mac;
      address_details = true;
    } else if (arg == "--server-name") {
      const auto text = value();
      if (!text || text->empty()) return fail("--server-name wants a name");
      request.server_name = *text;
      address_details = true;
    } else if (arg == "--dhcp-offer" || arg == "--dhcp-server-id" || arg == "--dhcp-mask") {
      const auto text = value();
      if (!text || !is_ipv4(*text)) return fail(std::string(arg) + " wants an IPv4 address");
      if (!cl.dhcp) cl.dhcp.emplace();
      (arg == "--dhcp-offer" ? cl.dhcp->offer : arg == "--dhcp-server-id" ? cl.dhcp->server_id : cl.dhcp->mask) = *text;
    } else if (arg == "--binary-unit") {
      const auto text = value();
      if (text != "A" && text != "B" && text != "C") return fail("--binary-unit wants A, B or C");
      binary.emplace();
      binary->protocol = *text == "A" ? BinaryProtocol::A : *text == "B" ? BinaryProtocol::B : BinaryProtocol::C;
    } else if (arg == "--binary-logic") {
      const auto text = value();
      if (text != "positive" && text != "negative") return fail("--binary-logic wants positive or negative");
      binary_positive = *text == "positive";
    } else if (arg == "--binary-play-ms") {
      const auto text = value();
      const auto n = text ? number(*text) : std::nullopt;
      if (!n) return fail("--binary-play-ms wants a whole number");
      binary_play = std::chrono::milliseconds(*n);
    } else if (arg == "--expansion") {
      expansion = true;
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
  if (address_details && !ask_address) return fail("--mac and --server-name go with --ask-address");
  if ((binary_positive || binary_play) && !binary)
    return fail("--binary-logic and --binary-play-ms go with --binary-unit");
  if (binary) {
    binary->positive_logic = binary_positive.value_or(false);
    binary->playback = binary_play.value_or(binary->playback);
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
    if (flash_writer) b.board.flash_writer = true;
    if (binary) b.board.binary_unit = binary;
    if (expansion)
      b.board.product = ProductRecord{*parse_uuid(kLanExpansionProduct), static_cast<std::uint32_t>(i + 1)};
    if (ask_address) {
      b.ask_address = request;
      b.ask_address->mac = mac_plus(request.mac, i);
    }
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
  --expansion        the boards carry the expansion board's LAN product
                     record, units 1, 2, ... in board order
  --binary-unit P    a binary voice unit on each board's lines, taking
                     channels in protocol A, B or C
  --binary-logic L   its logic, positive or negative (default negative)
  --binary-play-ms MS
                     how long it is busy after each channel (default 300)
  --flash-writer     the boards start in their flash writer, which takes no
                     login: the command stream starts with the connection
  --ask-address      before serving TCP, each board asks for its address
                     with a BOOTP request broadcast from port 68 to port 67
                     every 250 ms until answered; hosts wait until then
  --mac MAC          the first board's hardware address in those requests
                     (XX:XX:XX:XX:XX:XX, default 02:4B:45:53:54:01), the
                     next boards' counting up from it
  --server-name NAME the server name in those requests (default Quillmarsh)
  --dhcp-offer A     also run a DHCP server on port 67 that offers the
                     address A (default 10.77.0.50) to whoever asks and
                     broadcasts its answers to port 68; prints
                       dhcp udp 67
                     after the boards' lines
  --dhcp-server-id A the server's own address in its answers (default
                     10.77.0.2); also starts the DHCP server
  --dhcp-mask M      the subnet mask it hands out (default 255.255.255.0);
                     also starts the DHCP server
  -h, --help         this text
  --version          the version, alone on its line

--ask-address and the DHCP server broadcast on the network they are on, so
run them in a network namespace of their own, never on a shared network.
)";
  return text;
}

}  // namespace kestrel::sim
