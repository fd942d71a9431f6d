// Library settings and the "Corvex.ini" file they may come from.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "password.h"

namespace corvex {

struct Settings {
  std::int32_t search_flag = 1;
  std::int32_t port_number = 0xC000;
  std::int32_t max_data_size = 0x400;
  // [NetCorvex] DefaultPasswordDigest: replaces the built-in default digest.
  std::optional<Digest> default_digest;
  // [UserProgram] CipherKey: key material of images enciphered with cipher mode 1.
  std::optional<std::array<std::uint8_t, 16>> cipher_key;
};

// Folders searched in order: the executable's, the working folder, the user's config folder.
// (On Windows the system's own search order for a file named without a path is used.)
std::vector<std::filesystem::path> settings_search_folders();

// First folder holding a regular file "Corvex.ini".
std::optional<std::filesystem::path> find_settings_file(const std::vector<std::filesystem::path>& folders);

// Text of section/key with the blanks around it removed; nullopt when absent.
std::optional<std::string> ini_text(const std::string& text, const std::string& section, const std::string& key);

// Integer value of section/key (names compared without case); nullopt when the key
// is absent or its value does not start with a number.
std::optional<std::int32_t> ini_integer(const std::string& text, const std::string& section, const std::string& key);

// The keys read from the file's text over the given values.
Settings apply_settings(const std::string& text, Settings current);

Settings load_settings();

}  // namespace corvex
