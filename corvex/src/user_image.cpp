#include "user_image.h"

#include <algorithm>
#include <cstring>

#include "crypto.h"

namespace corvex::image {
namespace {

std::uint32_t le(std::span<const std::uint8_t> bytes, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | bytes[at + static_cast<std::size_t>(i)];
  return v;
}

std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t at) { return le(bytes, at, 4); }
std::uint16_t le16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(le(bytes, at, 2));
}

// Deciphered and summed this many bytes at a time: small enough to stay in
// the first-level cache between the two.
constexpr std::size_t kCipherPiece = 16 * 1024;

// Spans are made from pointer and size: the range form would pull the standard
// library's unique range objects into the shared library, which then can no
// longer be unloaded.
std::span<std::uint8_t> bytes_of(Bytes& b) { return {b.data(), b.size()}; }

Section read_section(std::span<const std::uint8_t> entry) {
  Section s;
  const auto name_end = std::find(entry.begin(), entry.begin() + kNameSize, std::uint8_t{0});
  s.name.assign(entry.begin(), name_end);
  s.size = le32(entry, kNameSize);
  s.load = le32(entry, kNameSize + 4);
  s.offset = le32(entry, kNameSize + 8);
  s.type = le16(entry, kNameSize + 12);
  return s;
}

void put32(InfoRecord& r, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) r[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

CVX_STATUS read_header(std::span<const std::uint8_t> file, Header& out) {
  if (file.size() < kHeaderSize || std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) return CVX_NO_MEMORY;
  Header h;
  h.format = le32(file, kFormat);
  if (static_cast<std::int32_t>(h.format) > kMaxFormat) return CVX_IMAGE_SIZE;
  h.table_offset = le16(file, kTableOffset);
  h.firmware = le32(file, kFirmware);
  std::copy_n(file.begin() + kDescription, kDescriptionSize, h.description.begin());
  h.value78 = le32(file, kValue78);
  h.section_count = le16(file, kSectionCount);
  h.value84 = le32(file, kValue84);
  h.value88 = le32(file, kValue88);
  h.command = le32(file, kCommand);
  h.decoded_length = le32(file, kDecodedLength);
  h.stored_length = le32(file, kStoredLength);
  h.cipher = le16(file, kCipherMode);
  h.main = le32(file, kMain);
  out = h;
  return CVX_OK;
}

std::size_t stored_data_offset(const Header& header) {
  return std::size_t{header.table_offset} + std::size_t{header.section_count} * kSectionEntry;
}

CVX_STATUS read_image(Bytes file, std::size_t room, std::size_t buffer, const Keys& keys, Image& out) {
  Header h;
  const std::span<std::uint8_t> bytes = bytes_of(file);
  if (CVX_STATUS s = read_header(bytes, h); s != CVX_OK) return s;
  if (h.section_count > room) return CVX_IMAGE_CHECKSUM;
  const std::size_t data_at = stored_data_offset(h);
  if (data_at > file.size()) return CVX_NO_MEMORY;
  std::vector<Section> sections;
  sections.reserve(h.section_count);
  for (std::size_t i = 0; i < h.section_count; ++i)
    sections.push_back(read_section(bytes.subspan(h.table_offset + i * kSectionEntry, kSectionEntry)));
  if (h.decoded_length > buffer) return CVX_FAILED;

  const bool no_text = keys.text == nullptr || keys.text[0] == '\0';
  if ((h.cipher == kKeyText && no_text) || (h.cipher == kBuiltinKey && !keys.builtin)) return CVX_IMAGE_NO_KEY;
  // The stored data must lie inside the file and hold the decoded data and its check sum.
  if (h.stored_length > file.size() - data_at || std::uint64_t{h.stored_length} < std::uint64_t{h.decoded_length} + 2)
    return CVX_NO_MEMORY;
  if (h.cipher != kPlain && h.cipher != kBuiltinKey && h.cipher != kKeyText) return CVX_FAILED;

  // Deciphered where it lies in the file's bytes, which then become the decoded data.
  const std::span<std::uint8_t> stored = bytes.subspan(data_at, h.stored_length);
  std::uint16_t sum = 0;
  if (h.cipher == kPlain) {
    sum = check_sum(stored.first(h.decoded_length));
  } else {
    // Summed piece by piece as each is deciphered, in one pass over the data.
    const Rc4Key key =
        derive_key(h.cipher == kBuiltinKey ? std::span<const std::uint8_t>(*keys.builtin) : text_bytes(keys.text));
    std::size_t left = h.decoded_length;
    crypto::arcfour_pieces({key.data(), key.size()}, stored, kCipherPiece, [&](std::span<const std::uint8_t> part) {
      const std::size_t n = std::min(left, part.size());
      sum = static_cast<std::uint16_t>(sum + check_sum(part.first(n)));
      left -= n;
    });
  }
  if (sum != le16(stored, h.decoded_length)) return CVX_IMAGE_CHECKSUM;
  file.erase(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(data_at));
  file.resize(h.decoded_length);
  out.header = h;
  out.sections = std::move(sections);
  out.decoded = std::move(file);
  return CVX_OK;
}

std::vector<Piece> section_pieces(const Section& section, std::size_t decoded_size) {
  std::vector<Piece> pieces;
  const std::uint64_t begin = section.offset;
  const std::uint64_t end = std::min<std::uint64_t>(begin + section.size, decoded_size);
  for (std::uint64_t at = begin; at < end; at += kMaxPiece)
    pieces.push_back({static_cast<std::uint32_t>(section.load + (at - begin)), static_cast<std::size_t>(at),
                      static_cast<std::uint32_t>(std::min<std::uint64_t>(end - at, kMaxPiece))});
  return pieces;
}

InfoRecord info_record(const Header& header) {
  InfoRecord r{};
  put32(r, 0, header.format);
  put32(r, 4, header.firmware);
  std::copy(header.description.begin(), header.description.end(), r.begin() + 8);
  put32(r, 72, header.value78);
  put32(r, 76, header.value84);
  put32(r, 80, header.value88);
  put32(r, 84, header.command);
  put32(r, 88, header.cipher);
  put32(r, 92, header.main);
  return r;
}

Rc4Key derive_key(std::span<const std::uint8_t> material) {
  const auto hash = crypto::md5({material});
  // A 40-bit key from the hash, padded with zero bytes to the 128-bit RC4 key.
  Rc4Key key{};
  std::copy_n(hash.begin(), 5, key.begin());
  return key;
}

std::span<const std::uint8_t> text_bytes(const char* text) {
  if (!text) return {};
  return {reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)};
}

void rc4(const Rc4Key& key, std::span<std::uint8_t> data) { crypto::arcfour({key.data(), key.size()}, data); }

std::uint16_t check_sum(std::span<const std::uint8_t> data) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : data) sum += b;
  return static_cast<std::uint16_t>(sum);
}

}  // namespace corvex::image
