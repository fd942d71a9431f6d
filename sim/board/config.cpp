// Board descriptions, one [board] section each:
//
//   [board]
//   serial = A1234567        ; with repeat, the prefix of numbered serials
//   repeat = 3               ; this many boards, serials padded to 8 characters
//   vid = 0x1237
//   pid = 0xF001
//   description = text
//   user_area = text          (or user_area_hex = 01 02 0A)
//   version = 0x31            ; BCD version byte
//   version_word = 0x00030201
//   mode = monitor            ; or writer
//   echo = 0xEE               ; the flash writer's echo answer
//   hardware_version = 0x00010001
//   status = 0
//   held = 1                  ; opened by another program
//   product = 01234567-89ab-cdef-0123-456789abcdef 5
//   eeprom = 0                ; its EEPROM cannot be read
//   sci_loopback = 1          ; serial channel output comes back as its input
//   binary_unit = B           ; a binary voice unit on the lines, protocol A, B or C
//   binary_logic = negative   ; or positive: the tester's logic setting it is built for
//   binary_play_ms = 300      ; how long it stays busy after each channel
//   link_bytes_per_second = 1000000  ; the USB link's throughput (0: memory speed)
//   link_transfer_us = 1000   ; what each transfer costs besides its bytes
//
// binary_logic and binary_play_ms come after binary_unit in their section.
//
// and at most one section for the driver itself:
//
//   [driver]
//   list_status = 4           ; counting the devices fails with this status
//   unplug_after_writes = 40  ; every FT_Write after the first 40 fails (FT_IO_ERROR)
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "board.h"

namespace kestrel::sim {
namespace {

std::string trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

std::optional<std::uint32_t> number(const std::string& s) {
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long v = std::strtoul(s.c_str(), &end, 0);
  if (*end != '\0') return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

std::optional<Bytes> hex_bytes(const std::string& s) {
  Bytes out;
  std::istringstream in(s);
  std::string word;
  while (in >> word) {
    const auto v = number("0x" + word);
    if (!v || *v > 0xFF) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(*v));
  }
  return out;
}

bool apply(BoardConfig& b, unsigned& repeat, const std::string& key, const std::string& value) {
  if (key == "serial") {
    b.serial = value;
    return true;
  }
  if (key == "description") {
    b.description = value;
    return true;
  }
  if (key == "user_area") {
    b.user_area.assign(value.begin(), value.end());
    return true;
  }
  if (key == "user_area_hex") {
    auto bytes = hex_bytes(value);
    if (bytes) b.user_area = *bytes;
    return bytes.has_value();
  }
  if (key == "mode") {
    b.flash_writer = value == "writer";
    return value == "writer" || value == "monitor";
  }
  if (key == "product") {
    std::istringstream in(value);
    std::string uuid_text, unit_text;
    in >> uuid_text >> unit_text;
    const auto uuid = parse_uuid(uuid_text);
    const auto unit = number(unit_text);
    if (!uuid || !unit) return false;
    b.product = ProductRecord{*uuid, *unit};
    return true;
  }
  if (key == "binary_unit") {
    if (value.size() != 1) return false;
    const char p = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    if (p < 'A' || p > 'C') return false;
    if (!b.binary_unit) b.binary_unit.emplace();
    b.binary_unit->protocol = p == 'A' ? BinaryProtocol::A : p == 'B' ? BinaryProtocol::B : BinaryProtocol::C;
    return true;
  }
  if (key == "binary_logic") {
    if (!b.binary_unit || (value != "positive" && value != "negative")) return false;
    b.binary_unit->positive_logic = value == "positive";
    return true;
  }
  const auto v = number(value);
  if (!v) return false;
  if (key == "binary_play_ms") {
    if (!b.binary_unit) return false;
    b.binary_unit->playback = std::chrono::milliseconds(*v);
    return true;
  }
  if (key == "repeat")
    repeat = *v;
  else if (key == "vid")
    b.vendor_id = static_cast<std::uint16_t>(*v);
  else if (key == "pid")
    b.product_id = static_cast<std::uint16_t>(*v);
  else if (key == "version")
    b.version = static_cast<std::uint8_t>(*v);
  else if (key == "version_word")
    b.version_word = *v;
  else if (key == "echo")
    b.writer_echo = static_cast<std::uint8_t>(*v);
  else if (key == "hardware_version")
    b.hardware_version = *v;
  else if (key == "status")
    b.status_word = static_cast<std::uint16_t>(*v);
  else if (key == "held")
    b.held = *v != 0;
  else if (key == "eeprom")
    b.eeprom_readable = *v != 0;
  else if (key == "sci_loopback")
    b.sci_loopback = *v != 0;
  else if (key == "link_bytes_per_second")
    b.link_bytes_per_second = *v;
  else if (key == "link_transfer_us")
    b.link_transfer_us = *v;
  else
    return false;
  return true;
}

void add(std::vector<BoardConfig>& boards, const BoardConfig& b, unsigned repeat) {
  if (repeat == 0) {
    boards.push_back(b);
    return;
  }
  const int digits = std::max(1, 8 - static_cast<int>(b.serial.size()));
  for (unsigned i = 0; i < repeat; ++i) {
    BoardConfig copy = b;
    std::string n = std::to_string(i);
    if (static_cast<int>(n.size()) < digits) n.insert(0, static_cast<std::size_t>(digits) - n.size(), '0');
    copy.serial = b.serial + n;
    boards.push_back(copy);
  }
}

}  // namespace

std::optional<SimConfig> parse_config(const std::string& text) {
  SimConfig config;
  std::optional<BoardConfig> current;
  bool in_driver = false;
  unsigned repeat = 0;
  const auto finish_board = [&] {
    if (current) add(config.boards, *current, repeat);
    current.reset();
    repeat = 0;
  };
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (const auto hash = line.find_first_of("#;"); hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) continue;
    if (line == "[board]" || line == "[driver]") {
      finish_board();
      in_driver = line == "[driver]";
      if (!in_driver) current = BoardConfig{};
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    if (in_driver) {
      const auto v = number(value);
      if (!v) return std::nullopt;
      if (key == "list_status")
        config.list_status = *v;
      else if (key == "unplug_after_writes")
        config.writes_before_unplug = *v;
      else
        return std::nullopt;
    } else if (!current || !apply(*current, repeat, key, value)) {
      return std::nullopt;
    }
  }
  finish_board();
  return config;
}

std::optional<std::array<std::uint8_t, 16>> parse_uuid(const std::string& text) {
  // 8-4-4-4-12 hexadecimal digits.
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return std::nullopt;
  std::string digits;
  for (char ch : text) {
    if (ch == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(ch))) return std::nullopt;
    digits += ch;
  }
  if (digits.size() != 32) return std::nullopt;
  std::array<std::uint8_t, 16> in_text_order{};
  for (std::size_t i = 0; i < 16; ++i)
    in_text_order[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
  // The first three fields are stored least significant byte first.
  std::array<std::uint8_t, 16> out = in_text_order;
  for (std::size_t i = 0; i < 4; ++i) out[i] = in_text_order[3 - i];
  out[4] = in_text_order[5];
  out[5] = in_text_order[4];
  out[6] = in_text_order[7];
  out[7] = in_text_order[6];
  return out;
}

Bytes product_record_bytes(const ProductRecord& record) {
  Bytes bytes(128, 0);
  std::copy(record.uuid.begin(), record.uuid.end(), bytes.begin() + 4);
  for (int i = 0; i < 4; ++i)
    bytes[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(record.unit >> (8 * i));
  return bytes;
}

}  // namespace kestrel::sim
