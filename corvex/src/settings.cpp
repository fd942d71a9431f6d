#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform.h"

namespace corvex {
namespace fs = std::filesystem;

namespace {

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

bool same_name(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// Decimal, or hexadecimal after "0x", as the Windows profile reader takes them.
std::optional<std::int32_t> leading_integer(const std::string& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  unsigned base = 10;
  if (value.size() > i + 2 && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X') &&
      std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
    base = 16;
    i += 2;
  }
  const auto digit = [base](char c) -> int {
    const auto u = static_cast<unsigned char>(c);
    if (std::isdigit(u)) return c - '0';
    if (base == 16 && std::isxdigit(u)) return std::tolower(u) - 'a' + 10;
    return -1;
  };
  if (i >= value.size() || digit(value[i]) < 0) return std::nullopt;
  std::uint32_t n = 0;
  for (; i < value.size() && digit(value[i]) >= 0; ++i) n = n * base + static_cast<std::uint32_t>(digit(value[i]));
  return static_cast<std::int32_t>(negative ? 0u - n : n);
}

// Exactly 32 hexadecimal digits, either case.
std::optional<std::array<std::uint8_t, 16>> parse_key16(const std::string& hex) {
  std::array<std::uint8_t, 16> out{};
  if (hex.size() != 2 * out.size()) return std::nullopt;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const auto c = static_cast<unsigned char>(hex[i]);
    if (!std::isxdigit(c)) return std::nullopt;
    const int v = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
    out[i / 2] = static_cast<std::uint8_t>(out[i / 2] << 4 | v);
  }
  return out;
}

fs::path config_folder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".config";
  return {};
}

}  // namespace

std::vector<fs::path> settings_search_folders() {
  std::vector<fs::path> folders;
  if (auto exe = executable_folder(); !exe.empty()) folders.push_back(exe);
  std::error_code ec;
  if (auto cwd = fs::current_path(ec); !ec) folders.push_back(cwd);
  if (auto config = config_folder(); !config.empty()) folders.push_back(config);
  return folders;
}

std::optional<fs::path> find_settings_file(const std::vector<fs::path>& folders) {
  for (const auto& folder : folders) {
    std::error_code ec;
    const fs::path candidate = folder / "Corvex.ini";
    if (fs::is_regular_file(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> ini_text(const std::string& text, const std::string& section, const std::string& key) {
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      inside = close != std::string::npos && same_name(trim(line.substr(1, close - 1)), section);
      continue;
    }
    const auto eq = line.find('=');
    if (inside && eq != std::string::npos && same_name(trim(line.substr(0, eq)), key)) return trim(line.substr(eq + 1));
  }
  return std::nullopt;
}

std::optional<std::int32_t> ini_integer(const std::string& text, const std::string& section, const std::string& key) {
  const auto value = ini_text(text, section, key);
  return value ? leading_integer(*value) : std::nullopt;
}

Settings apply_settings(const std::string& text, Settings current) {
  current.search_flag = ini_integer(text, "COMMON", "SerchNCVX").value_or(current.search_flag);
  current.port_number = ini_integer(text, "NetCorvex", "PortNumber").value_or(current.port_number);
  current.max_data_size = ini_integer(text, "NetCorvex", "MaxDataSize").value_or(current.max_data_size);
  // Anything but 64 hexadecimal digits keeps the digest there was.
  if (const auto hex = ini_text(text, "NetCorvex", "DefaultPasswordDigest"))
    if (const auto digest = parse_digest(*hex)) current.default_digest = digest;
  if (const auto hex = ini_text(text, "UserProgram", "CipherKey"))
    if (const auto key = parse_key16(*hex)) current.cipher_key = key;
  return current;
}

Settings load_settings() {
  Settings settings;
  const auto file = locate_settings_file();
  if (!file) return settings;
  std::ifstream in(*file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return apply_settings(text.str(), settings);
}

}  // namespace corvex
