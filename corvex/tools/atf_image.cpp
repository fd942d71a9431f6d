#include "atf_image.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace corvex::image {
namespace {

void put(Bytes& out, std::size_t at, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

Bytes header_bytes(const Header& h) {
  Bytes out(kHeaderSize, 0);
  std::copy(std::begin(kMagic), std::end(kMagic), out.begin());
  put(out, kFormat, h.format, 4);
  put(out, kTableOffset, h.table_offset, 2);
  put(out, kFirmware, h.firmware, 4);
  std::copy(h.description.begin(), h.description.end(), out.begin() + kDescription);
  put(out, kValue78, h.value78, 4);
  put(out, kSectionCount, h.section_count, 2);
  put(out, kValue84, h.value84, 4);
  put(out, kValue88, h.value88, 4);
  put(out, kCommand, h.command, 4);
  put(out, kDecodedLength, h.decoded_length, 4);
  put(out, kStoredLength, h.stored_length, 4);
  put(out, kCipherMode, h.cipher, 2);
  put(out, kMain, h.main, 4);
  return out;
}

Bytes section_bytes(const Section& s) {
  Bytes out(kSectionEntry, 0);
  std::copy_n(s.name.begin(), std::min(s.name.size(), kNameSize), out.begin());
  put(out, kNameSize, s.size, 4);
  put(out, kNameSize + 4, s.load, 4);
  put(out, kNameSize + 8, s.offset, 4);
  put(out, kNameSize + 12, s.type, 2);
  return out;
}

Bytes build_image(const ImageSpec& spec) {
  if (spec.sections.size() > std::numeric_limits<std::uint16_t>::max())
    throw std::invalid_argument("too many sections");
  if (spec.description.size() > kDescriptionSize)
    throw std::invalid_argument("description longer than 64 bytes");
  Bytes decoded;
  std::vector<Section> table;
  for (const SectionSource& src : spec.sections) {
    if (src.name.empty() || src.name.size() >= kNameSize || src.name.find('\0') != std::string::npos)
      throw std::invalid_argument("section name must be 1 to 31 bytes: '" + src.name + "'");
    if (decoded.size() + src.bytes.size() > std::numeric_limits<std::uint32_t>::max() - 2)
      throw std::invalid_argument("program data larger than 4 GiB");
    table.push_back({src.name, src.bytes.empty() ? src.size : static_cast<std::uint32_t>(src.bytes.size()), src.load,
                     static_cast<std::uint32_t>(decoded.size()), src.type});
    decoded.insert(decoded.end(), src.bytes.begin(), src.bytes.end());
  }
  // Sections without bytes point past the data, so a download copies nothing of them.
  for (std::size_t i = 0; i < table.size(); ++i)
    if (spec.sections[i].bytes.empty()) table[i].offset = static_cast<std::uint32_t>(decoded.size());

  Header h;
  h.format = spec.format;
  h.table_offset = kHeaderSize;
  h.firmware = spec.firmware;
  std::copy(spec.description.begin(), spec.description.end(), h.description.begin());
  h.section_count = static_cast<std::uint16_t>(table.size());
  h.command = spec.command;
  h.main = spec.main;
  h.cipher = spec.cipher;
  h.decoded_length = static_cast<std::uint32_t>(decoded.size());
  h.stored_length = h.decoded_length + 2;

  Bytes stored = decoded;
  const std::uint16_t sum = check_sum(decoded);
  stored.push_back(static_cast<std::uint8_t>(sum));
  stored.push_back(static_cast<std::uint8_t>(sum >> 8));
  switch (spec.cipher) {
    case kPlain: break;
    case kBuiltinKey:
      if (!spec.builtin) throw std::invalid_argument("cipher mode 1 needs the CipherKey of Corvex.ini");
      rc4(derive_key(*spec.builtin), stored);
      break;
    case kKeyText:
      if (spec.key_text.empty() || spec.key_text.find('\0') != std::string::npos)
        throw std::invalid_argument("cipher mode 2 needs a key text");
      rc4(derive_key(text_bytes(spec.key_text.c_str())), stored);
      break;
    default: throw std::invalid_argument("cipher mode must be 0, 1 or 2");
  }

  Bytes out = header_bytes(h);
  for (const Section& s : table) {
    const Bytes entry = section_bytes(s);
    out.insert(out.end(), entry.begin(), entry.end());
  }
  out.insert(out.end(), stored.begin(), stored.end());
  return out;
}

}  // namespace corvex::image
