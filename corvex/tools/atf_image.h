// Making user program images: the layout the library reads, written out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "user_image.h"

namespace corvex::image {

struct SectionSource {
  std::string name;    // at most 31 bytes, so that its zero fits
  std::uint16_t type = 0;
  std::uint32_t load = 0;
  Bytes bytes;         // stored in the decoded data
  std::uint32_t size = 0;  // used when bytes is empty: a section the download does not copy
};

struct ImageSpec {
  std::vector<SectionSource> sections;
  std::uint32_t format = 0x01020000;
  std::uint32_t firmware = 0x030001;
  std::string description;  // at most 64 bytes
  std::uint32_t command = 0;
  std::uint32_t main = 0;
  std::uint16_t cipher = kPlain;
  std::string key_text;               // cipher mode 2
  std::optional<CipherKey> builtin;   // cipher mode 1
};

// Header, section table, then the decoded data and its check sum, enciphered
// as the cipher mode says. Sections with bytes are laid out in order; one
// without bytes points at the end of the data, so nothing of it is copied.
// Throws std::invalid_argument for a spec that cannot be written.
Bytes build_image(const ImageSpec& spec);

Bytes header_bytes(const Header& header);
Bytes section_bytes(const Section& section);

}  // namespace corvex::image
