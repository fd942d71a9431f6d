// User program images: the file layout, its checks and its deciphering.
// Pure: works on the bytes of a file read by the caller. Every field is least
// significant byte first, the check sum after the decoded data included.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "corvex.h"

namespace corvex::image {

using Bytes = std::vector<std::uint8_t>;
using CipherKey = std::array<std::uint8_t, 16>;
using Rc4Key = std::array<std::uint8_t, 16>;
using InfoRecord = std::array<std::uint8_t, 96>;

constexpr std::size_t kHeaderSize = 114;
constexpr std::size_t kSectionEntry = 46;
constexpr std::size_t kNameSize = 32;
constexpr std::size_t kDescriptionSize = 64;
constexpr std::int32_t kMaxFormat = 0x1020000;
constexpr std::size_t kDownloadRoom = 20;  // sections a download makes room for
constexpr std::uint8_t kMagic[4] = {'a', 't', 'f', 0};

// Header field offsets.
enum Offset : std::size_t {
  kFormat = 4,
  kTableOffset = 8,
  kFirmware = 10,
  kDescription = 14,
  kValue78 = 78,
  kSectionCount = 82,
  kValue84 = 84,
  kValue88 = 88,
  kCommand = 92,
  kDecodedLength = 96,
  kStoredLength = 100,
  kCipherMode = 104,
  kMain = 106,
};

enum Cipher : std::uint16_t { kPlain = 0, kBuiltinKey = 1, kKeyText = 2 };

struct Header {
  std::uint32_t format = 0;
  std::uint16_t table_offset = 0;
  std::uint32_t firmware = 0;
  std::array<std::uint8_t, kDescriptionSize> description{};
  std::uint32_t value78 = 0, value84 = 0, value88 = 0;
  std::uint16_t section_count = 0;
  std::uint32_t command = 0;
  std::uint32_t decoded_length = 0;
  std::uint32_t stored_length = 0;
  std::uint16_t cipher = 0;
  std::uint32_t main = 0;
};

struct Section {
  std::string name;  // up to its zero, at most 32 bytes
  std::uint32_t size = 0;
  std::uint32_t load = 0;
  std::uint32_t offset = 0;  // into the decoded data
  std::uint16_t type = 0;
};

// Key material: the caller's key text (mode 2; null or empty means none) and
// the CipherKey of Corvex.ini (mode 1).
struct Keys {
  const char* text = nullptr;
  std::optional<CipherKey> builtin;
};

struct Image {
  Header header;
  std::vector<Section> sections;
  Bytes decoded;  // exactly decoded_length bytes
};

// The header alone: fewer than 114 bytes or a wrong magic give 0xFFFF0003, a
// format word above 0x1020000 (signed) 0xFFFF0101.
CVX_STATUS read_header(std::span<const std::uint8_t> file, Header& out);

// The whole image, checked in this order after the header: more sections than
// `room` 0xFFFF0102; a section table past the end of the file 0xFFFF0003; a
// decoded length above `buffer` 18; no key for an enciphered image 0xFFFF0104;
// stored data past the end of the file, or too short to hold the decoded data
// and its 2-byte check sum, 0xFFFF0003; an unknown cipher mode 18; a check sum
// that does not match 0xFFFF0102. The file's bytes are taken over: the stored
// data is deciphered where it lies and becomes the decoded data.
CVX_STATUS read_image(Bytes file, std::size_t room, std::size_t buffer, const Keys& keys, Image& out);

// One block write of a download: `length` decoded bytes from `offset` to `address`.
struct Piece {
  std::uint32_t address = 0;
  std::size_t offset = 0;
  std::uint32_t length = 0;
};
constexpr std::uint32_t kMaxPiece = 65536;  // the most one block command carries

// The block writes that put a section's bytes on the board, in order: at most
// 65536 bytes each, none reaching past the end of the decoded data.
std::vector<Piece> section_pieces(const Section& section, std::size_t decoded_size);

// Offset of the stored data in the file: just after the section table.
std::size_t stored_data_offset(const Header& header);

// The 96-byte record CVX_ATFGetInfo fills.
InfoRecord info_record(const Header& header);

// MD5 of the key material; its first 5 bytes (a 40-bit key) followed by 11
// zero bytes make the 16-byte RC4 key.
Rc4Key derive_key(std::span<const std::uint8_t> material);
std::span<const std::uint8_t> text_bytes(const char* text);

// One RC4 pass in place; enciphering and deciphering are the same pass.
void rc4(const Rc4Key& key, std::span<std::uint8_t> data);

// Sum of the bytes modulo 65536.
std::uint16_t check_sum(std::span<const std::uint8_t> data);

}  // namespace corvex::image
