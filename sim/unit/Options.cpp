#include "unit/Options.h"

#include <charconv>
#include <optional>

namespace kestrel::sim {

namespace {

std::optional<unsigned> number(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "41", "41,0D" or "410D"; separators are for readability only.
std::optional<Bytes> hexBytes(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ':') continue;
    digits += c;
  }
  if (digits.empty() || digits.size() % 2 != 0) return std::nullopt;
  Bytes bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    std::uint8_t b = 0;
    const char* first = digits.data() + i;
    const auto [end, ec] = std::from_chars(first, first + 2, b, 16);
    if (ec != std::errc{} || end != first + 2) return std::nullopt;
    bytes.push_back(b);
  }
  return bytes;
}

// "12:3:TEXT": channel, field 1-5, and the text, which may hold colons or be
// empty.
std::optional<FieldChange> fieldChange(std::string_view text) {
  const auto first = text.find(':');
  const auto second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const auto channel = number(text.substr(0, first));
  const auto field = number(text.substr(first + 1, second - first - 1));
  if (!channel || *channel == 0 || !field || *field < 1 || *field > 5) return std::nullopt;
  return FieldChange{*channel, *field, std::string(text.substr(second + 1))};
}

bool knownProtocol(std::string_view name) {
  for (const auto& known : protocolNames())
    if (known == name) return true;
  return false;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string_view>& args) {
  CommandLine cl;
  bool strayModeGiven = false;
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
    } else if (arg == "--silent") {
      cl.options.silent = true;
    } else if (arg == "--report") {
      cl.options.report = true;
    } else if (arg == "--bad-report") {
      cl.options.badReport = true;
    } else if (arg == "--corrupt-check") {
      cl.options.corruptCheck = true;
    } else if (arg == "--drop-stx") {
      cl.options.dropStx = true;
    } else if (arg == "--stray-once") {
      cl.options.strayOnce = true;
      strayModeGiven = true;
    } else if (arg == "--protocol") {
      const auto name = value();
      if (!name || !knownProtocol(*name)) return fail("--protocol: unknown protocol");
      cl.options.protocol = *name;
    } else if (arg == "--delay" || arg == "--play-time" || arg == "--nak-every" || arg == "--stray-every" ||
               arg == "--byte-gap" || arg == "--bad-check-every" || arg == "--trap-after" || arg == "--extra-channel") {
      const auto text = value();
      const auto n = text ? number(*text) : std::nullopt;
      if (!n) return fail(std::string(arg) + " wants a whole number");
      if (arg == "--delay") {
        cl.options.answerDelay = std::chrono::milliseconds(*n);
      } else if (arg == "--play-time") {
        cl.options.playTime = std::chrono::milliseconds(*n);
      } else if (arg == "--byte-gap") {
        cl.options.byteGap = std::chrono::milliseconds(*n);
      } else if (arg == "--nak-every") {
        cl.options.nakEvery = *n;
      } else if (arg == "--bad-check-every") {
        cl.options.badCheckEvery = *n;
      } else if (arg == "--trap-after") {
        cl.options.trapAfter = *n;
      } else if (arg == "--extra-channel") {
        cl.options.extraChannel = *n;
      } else {
        cl.options.strayEvery = *n;
        strayModeGiven = true;
      }
    } else if (arg == "--stray") {
      const auto text = value();
      const auto bytes = text ? hexBytes(*text) : std::nullopt;
      if (!bytes) return fail("--stray wants hex bytes, e.g. 41 or 41,0D");
      cl.options.strayBytes = *bytes;
    } else if (arg == "--schedule") {
      const auto path = value();
      if (!path || path->empty()) return fail("--schedule wants a file");
      cl.options.schedule = *path;
    } else if (arg == "--change-field") {
      const auto text = value();
      const auto change = text ? fieldChange(*text) : std::nullopt;
      if (!change) return fail("--change-field wants CHANNEL:FIELD:TEXT, FIELD 1 to 5");
      cl.options.changeFields.push_back(*change);
    } else if (arg == "--record") {
      const auto target = value();
      if (!target || target->empty()) return fail("--record wants a file or -");
      cl.options.record = *target;
    } else {
      return fail("unknown argument: " + std::string(arg));
    }
  }
  if (!cl.options.strayBytes.empty() && !strayModeGiven) cl.options.strayEvery = 1;
  if (cl.options.strayBytes.empty() && strayModeGiven) cl.error = "--stray-every and --stray-once need --stray";
  return cl;
}

std::string usage(std::string_view program) {
  std::string text = "usage: " + std::string(program) + " [options]\n";
  text += R"(
Simulates a voice unit on a pseudo-terminal. The first line on stdout is the
path of the terminal to open (e.g. /dev/pts/3); the unit then runs until
SIGINT or SIGTERM. The terminal survives being closed and opened again.

  --protocol NAME    framing to speak: buffered (the default), buffered1000,
                     mode1, customer, hs4142, plx6, fenwick or brisk,
                     described below
  --delay MS         wait before each answer (default 5)
  --play-time MS     time a channel command plays before what the unit sends
                     once it has played (mode1: the second ACK); with 0, the
                     default, that goes in one write with the answer
  --nak-every K      refuse every K-th frame, channel line or play list even
                     when it is right, with NAK (customer 10 15 00, plx6
                     10 15), and play nothing for it (0, the default, never);
                     enquiries, stops, commands and unreadable lines do not
                     count; brisk, which never answers, refuses nothing
  --silent           record what arrives but never send anything
  --byte-gap MS      send everything one byte per write, MS apart (default
                     0: each answer in one write)
  --bad-check-every K
                     send every K-th message that ends in a check byte
                     (customer, hs4142, plx6 and fenwick messages) with
                     that byte wrong (0, the default, never)
  --report           hs4142: report each channel once its frame has played
  --bad-report       hs4142: report them with a wrong check byte
  --trap-after K     plx6: send "Trap " in place of "Ready" after the K-th
                     channel frame, once (0, the default, never)
  --schedule FILE    fenwick: the schedule file the unit holds (none: it
                     holds nothing)
  --corrupt-check    fenwick: send every schedule answer with a wrong check
                     byte
  --drop-stx         fenwick: send every schedule answer without its STX
  --extra-channel N  fenwick: add a record for channel N, with empty fields,
                     to every schedule answer, asked for or not (0, the
                     default, never)
  --change-field CH:F:TEXT
                     fenwick: send TEXT as field F (1-5) of channel CH
                     whenever it is in an answer, the extra record
                     included; may be repeated
  --stray HEX        bytes to send unasked, e.g. 41 or 41,0D; by default
                     they go just before every message the unit sends
  --stray-every N    send them just before every N-th message instead
                     (0 never)
  --stray-once       send them once, right after the first message, instead
  --record FILE      append every byte received to FILE, raw, as it comes
  --record -         print one hex line per item received on stdout, and
                     one when channels playing in the background end, e.g.
                       frame 02 30 30 31 03 32 -> 06
                       stop FF
  -h, --help         this text
  --version          the version, alone on its line

buffered: ENQ (05) is answered ACK (06); STX payload ETX BCC, where BCC is
the XOR of the payload and ETX, is answered ACK or NAK (15); a lone FF
outside a frame stops playback and is not answered; any other byte outside a
frame is recorded and not answered.

buffered1000: framed as buffered, but a frame with a right BCC is answered
ACK only when its payload is FF alone (stop) or an optional line prefix #00n
(n 1-9) and one or more channels of four digits, 0001 to 1000, e.g.
#0010005 or 00050006; any other payload is answered NAK. --record - shows
the decode:
  frame 02 23 30 30 31 30 30 30 35 03 14 line 1 channels 0005 -> 06

mode1: lines of text ended by CR (0D), each answered with one byte. "sts"
(any case) is answered ACK; three-digit channels separated by commas, e.g.
001,002,003, are answered ACK when taken and ACK again once played, both in
one write unless --play-time is set; 000 stops playback and is answered ACK;
any other line, or one longer than 4096 bytes, is answered NAK. While a line
plays the unit reads nothing more: what arrives meanwhile is answered
afterwards, in order. Each ACK is a message for the --stray options.
--record - shows both ACKs, with "then" when they went in separate writes:
  frame 30 30 31 0D channels 001 -> 06 then 06

customer: frames are DLE STX (10 02), a command, DLE ETX (10 03) and a BCC,
the XOR of the command and DLE ETX, sent as is even when it is 10. 43 ("C")
is a play list: a count character, 30 + N for N channels or 4F for more than
30, then each channel's low byte as two characters, 30 + nibble, high first.
44 ("D") stops playback. Each is answered DLE ACK 00 (10 06 00), or DLE NAK
00 (10 15 00) when its BCC is wrong, its count does not match its channels
or it holds more than 30 channels, as a unit plays no more; any other
command is answered DLE NAK 00. Once a list has played the unit sends
10 02 39 10 03 2A and keeps the tester's 10 06 00 or 10 15 00 to it (an
answer to nothing shows as "unasked"). --record - shows all three:
  frame 10 02 43 31 30 31 10 03 60 play 1 -> 10 06 00
  played play 1 -> 10 02 39 10 03 2A
  answer 10 06 00 end acknowledged ACK

hs4142: framed as buffered, answered with single bytes. ENQ is answered ACK;
a frame of three-digit channels, e.g. 001002, is answered ACK and played; a
frame of one byte is a command: FF stop, FE reset, FB to FD volume, C8 to D7
sheet 01 to 16, each answered ACK, except that volume and sheet are answered
21 while channels play. A wrong BCC or any other payload is answered NAK.
Other bytes outside a frame, FF included, are recorded and not answered.
With --report the unit sends, once a frame has played, a frame per channel,
e.g. 02 30 30 31 03 32 for 001.

plx6: DLE ENQ (10 05) is answered DLE ACK (10 06) and the text "Ready" as
02 52 65 61 64 79 03 48: STX, the text, ETX, then the XOR of the text and
ETX. A frame of two-digit upper-case hex channels 01 to FF, e.g. "01FF", is
played and then answered "Ready"; with a wrong BCC or payload it is answered
DLE NAK (10 15) at once. 01 alone stops playback and is answered "Stop ".
Any other byte outside a frame is recorded and not answered.

fenwick: ENQ (05) is answered ACK; a request STX 20 CH ETX BCC, BCC the XOR
of everything after STX up to ETX, asks for the schedule: CH is 000 for all
of channels 1-255, three digits for one of them, or eight digits for a start
and an end channel of four digits each, 1-1000 (a start above the end asks
for nothing). A wrong BCC or CH is answered NAK; otherwise the answer is STX,
a record per channel asked for that the schedule holds, ETX, BCC. A record is
the channel in plain decimal and its five fields, each ended by a comma, e.g.
"7,A,B,C,D,E,". The schedule file has lines; "#0" to "#3" alone start a
section; a line of section #2 is a channel and five fields, separated by
commas, the fifth being the rest of the line, commas included; fields go as
the file has them, byte for byte. --record - shows the request, here to a
unit holding nothing:
  frame 02 20 30 31 32 03 10 channel 12 -> 02 03 03

brisk: frames "@", an event character 30-3F (events 1-16), three or four
unit digits and CR, e.g. 40 3A 30 30 35 0D, are recorded and never answered;
anything else is recorded as unexpected. --record - shows the decode:
  frame 40 3A 30 30 35 0D event 11 unit 005

customer, hs4142 and plx6 play in the background: they answer what arrives
meanwhile, a frame that arrives plays after those before it, and a stop
drops what was to follow the channels.
)";
  return text;
}

}  // namespace kestrel::sim
