// Any file as a user program image: the reader stays inside its bytes, says
// yes only to what the header, the table and the check sum allow, and the
// download's block writes stay inside the decoded data.

#include <cstdio>
#include <cstring>

#include "FuzzRequire.h"
#include "user_image.h"

using namespace corvex;

namespace {

// The seeds' keys: key text "fuzz" (mode 2) and CipherKey 000102...0F (mode 1).
constexpr image::CipherKey kBuiltin{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so a read past the file is the sanitizer's to catch.
  const image::Bytes file(data, data + size);
  image::Header header;
  const CVX_STATUS hs = image::read_header(file, header);
  const bool shaped = size >= image::kHeaderSize && std::memcmp(data, image::kMagic, 4) == 0;
  FUZZ_REQUIRE((hs == CVX_NO_MEMORY) == !shaped);
  if (hs != CVX_OK) {
    FUZZ_REQUIRE(hs == CVX_NO_MEMORY || hs == CVX_IMAGE_SIZE);
    return 0;
  }
  FUZZ_REQUIRE(static_cast<std::int32_t>(header.format) <= image::kMaxFormat);
  const image::InfoRecord info = image::info_record(header);
  FUZZ_REQUIRE(std::memcmp(info.data(), data + image::kFormat, 4) == 0);
  FUZZ_REQUIRE(std::memcmp(info.data() + 8, data + image::kDescription, image::kDescriptionSize) == 0);
  FUZZ_REQUIRE(le32(info.data() + 92) == header.main && le32(info.data() + 88) == header.cipher);

  // As the download reads it, and with no room and no keys.
  for (int pass = 0; pass < 2; ++pass) {
    const image::Keys keys = pass == 0 ? image::Keys{"fuzz", kBuiltin} : image::Keys{};
    const std::size_t room = pass == 0 ? image::kDownloadRoom : 0;
    image::Image img;
    const CVX_STATUS s = image::read_image(file, room, header.decoded_length, keys, img);
    if (header.section_count > room) FUZZ_REQUIRE(s == CVX_IMAGE_CHECKSUM);
    if (pass == 1 && header.cipher != image::kPlain) FUZZ_REQUIRE(s != CVX_OK);  // no key, no image
    if (s != CVX_OK) {
      FUZZ_REQUIRE(s == CVX_NO_MEMORY || s == CVX_IMAGE_CHECKSUM || s == CVX_IMAGE_NO_KEY || s == CVX_FAILED);
      continue;
    }
    const std::size_t data_at = image::stored_data_offset(header);
    FUZZ_REQUIRE(data_at <= size && header.stored_length <= size - data_at);
    FUZZ_REQUIRE(img.decoded.size() == header.decoded_length && header.stored_length >= img.decoded.size() + 2);
    FUZZ_REQUIRE(img.sections.size() == header.section_count);
    if (header.cipher == image::kPlain) {
      FUZZ_REQUIRE(std::memcmp(img.decoded.data(), data + data_at, img.decoded.size()) == 0);
      const std::uint8_t* sum = data + data_at + img.decoded.size();
      FUZZ_REQUIRE(image::check_sum(img.decoded) == (sum[0] | sum[1] << 8));
    }
    for (const image::Section& section : img.sections) {
      FUZZ_REQUIRE(section.name.size() <= image::kNameSize);
      std::uint64_t moved = 0;
      for (const image::Piece& p : image::section_pieces(section, img.decoded.size())) {
        FUZZ_REQUIRE(p.length > 0 && p.length <= image::kMaxPiece);
        FUZZ_REQUIRE(p.offset + p.length <= img.decoded.size());
        FUZZ_REQUIRE(p.address == static_cast<std::uint32_t>(section.load + moved));
        moved += p.length;
      }
      FUZZ_REQUIRE(moved <= section.size);
    }
  }
  return 0;
}
