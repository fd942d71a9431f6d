// User programs: image download into the board's memory, the image's
// information record, the program's command and main words, user commands.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "automation.h"
#include "guard.h"
#include "io.h"
#include "protocol.h"
#include "state.h"
#include "user_image.h"

using namespace corvex;
namespace proto = corvex::protocol;

namespace {

constexpr std::uint32_t kFirstDownloadFirmware = 0x030001;
constexpr std::uint32_t kCommandWord = 0xFFE7EA;
constexpr std::uint32_t kMainWord = 0xFFE7EE;
constexpr std::uint16_t kHeapType = 3;

// The whole file; 0xFFFF0002 when it cannot be opened or read.
CVX_STATUS read_file(const char* name, image::Bytes& out) {
  std::FILE* f = std::fopen(name, "rb");
  if (!f) return CVX_FILE_OPEN_ERROR;
  image::Bytes bytes;
  // Sized from the file up front, so an image is read in one piece.
  std::error_code ec;
  if (const auto size = std::filesystem::file_size(name, ec); !ec) bytes.resize(size);
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      const int c = std::fgetc(f);  // at the expected end: is there more?
      if (c == EOF) break;
      bytes.push_back(static_cast<std::uint8_t>(c));
      bytes.resize(++got + 65536);
    }
    const std::size_t n = std::fread(bytes.data() + got, 1, bytes.size() - got, f);
    if (n == 0) break;
    got += n;
  }
  const bool failed = std::ferror(f) != 0;  // a folder opens but does not read
  std::fclose(f);
  if (failed) return CVX_FILE_OPEN_ERROR;
  bytes.resize(got);
  out = std::move(bytes);
  return CVX_OK;
}

CVX_STATUS write_word(CVX_HANDLE handle, std::uint32_t address, std::uint32_t value) {
  proto::Bytes be;
  proto::put_be32(be, value);
  return CVX_PortBWrite(handle, address, be.data(), 4, 1, 0);
}

CVX_STATUS write_section(CVX_HANDLE handle, const image::Section& section, const image::Bytes& decoded) {
  for (const image::Piece& p : image::section_pieces(section, decoded.size()))
    if (CVX_STATUS s = CVX_PortBWrite(handle, p.address, decoded.data() + p.offset, p.length, 1, 0); s != CVX_OK)
      return s;
  return CVX_OK;
}

CVX_STATUS download(CVX_HANDLE handle, const char* file_name, const char* key_text) {
  std::uint32_t version = 0;
  if (CVX_STATUS s = CVX_ReadVersionA(handle, &version); s != CVX_OK) return s;
  if (version < kFirstDownloadFirmware) return CVX_NOT_SUPPORTED;

  image::Bytes file;
  if (CVX_STATUS s = read_file(file_name, file); s != CVX_OK) return s;
  image::Header header;
  if (CVX_STATUS s = image::read_header({file.data(), file.size()}, header); s != CVX_OK) return s;
  if (version < header.firmware) return CVX_IMAGE_FIRMWARE;
  image::Image img;
  const image::Keys keys{key_text, state().settings.cipher_key};
  if (CVX_STATUS s = image::read_image(std::move(file), image::kDownloadRoom, header.decoded_length, keys, img);
      s != CVX_OK)
    return s;

  for (const image::Section& section : img.sections) {
    if (section.name == "main" || section.name == "STACK") continue;
    if (section.type == kHeapType && section.name == "HEAP") {
      const image::Bytes zeros(std::min(section.size, image::kMaxPiece), 0);
      if (CVX_STATUS s = CVX_PortBWrite(handle, section.load, zeros.data(), section.size, 1, 0); s != CVX_OK)
        return s;
      continue;
    }
    if (CVX_STATUS s = write_section(handle, section, img.decoded); s != CVX_OK) return s;
  }
  img = {};
  if (header.command != 0)
    if (CVX_STATUS s = CVX_ATFSetCommand(handle, header.command); s != CVX_OK) return s;
  if (header.main != 0) return CVX_ATFSetMain(handle, header.main);
  return CVX_OK;
}

// The data a variant holds, and how many bytes of it there are.
struct VariantData {
  const std::uint8_t* data = nullptr;
  std::size_t bytes = 0;
  bool known = true;
};

// Size of a scalar of the given type; 0 for a type not known here.
std::size_t scalar_size(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT: return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8: return 8;
    default: return 0;
  }
}

VariantData scalar(const void* value, VARTYPE type) {
  const std::size_t size = scalar_size(type);
  if (size == 0 || !value) return {nullptr, 0, false};
  return {static_cast<const std::uint8_t*>(value), size, true};
}

CVX_STATUS user_command(CVX_HANDLE handle, std::uint32_t command, std::uint32_t first, std::uint32_t second,
                        const void* data, std::uint32_t length) {
  if (length != 0 && !data) return CVX_INVALID_ARGUMENT;
  const auto* bytes = length != 0 ? static_cast<const std::uint8_t*>(data) : nullptr;
  return corvex::command(handle, proto::user_command(command, first, second, bytes, length));
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_ATFDownload(CVX_HANDLE handle, const char* file_name, const char* key_text) {
  return guarded([&] {
    if (!file_name) return CVX_INVALID_ARGUMENT;
    return download(handle, file_name, key_text);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ATFGetInfo(const char* file_name, void* info) {
  return guarded([&] {
    if (!file_name || !info) return CVX_INVALID_ARGUMENT;
    std::memset(info, 0, image::InfoRecord{}.size());
    image::Bytes file;
    if (CVX_STATUS s = read_file(file_name, file); s != CVX_OK) return s;
    image::Header header;
    if (CVX_STATUS s = image::read_header({file.data(), file.size()}, header); s != CVX_OK) return s;
    const image::InfoRecord record = image::info_record(header);
    std::memcpy(info, record.data(), record.size());
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ATFSetCommand(CVX_HANDLE handle, uint32_t value) {
  return guarded([&] { return write_word(handle, kCommandWord, value); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ATFSetMain(CVX_HANDLE handle, uint32_t value) {
  return guarded([&] { return write_word(handle, kMainWord, value); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ATFUserCommand(CVX_HANDLE handle, uint32_t command, uint32_t first, uint32_t second,
                                                 const void* data, uint32_t length) {
  return guarded([&] { return user_command(handle, command, first, second, data, length); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ATFUserCommand2(CVX_HANDLE handle, uint32_t command, uint32_t first,
                                                  uint32_t second, VARIANT* variant, uint32_t length) {
  return guarded([&] {
    if (!variant) return CVX_INVALID_ARGUMENT;
    const VARTYPE vt = variant->vt;
    const bool by_ref = (vt & VT_BYREF) != 0;
    const VARTYPE base = static_cast<VARTYPE>(vt & ~(VT_BYREF | VT_ARRAY));
    if (!by_ref && (vt == VT_EMPTY || vt == VT_NULL || vt == VT_ERROR))
      return user_command(handle, command, first, second, nullptr, 0);
    if (vt & VT_ARRAY) {
      SAFEARRAY* array = by_ref ? (variant->pparray ? *variant->pparray : nullptr) : variant->parray;
      return automation::with_array_bytes(array, length, [&](std::uint8_t* data) {
        return user_command(handle, command, first, second, data, length);
      });
    }
    VariantData d;
    if (base == VT_BSTR) {
      BSTR text = by_ref ? (variant->pbstrVal ? *variant->pbstrVal : nullptr) : variant->bstrVal;
      d = {reinterpret_cast<const std::uint8_t*>(text), automation::string_bytes(text), true};
    } else {
      d = scalar(by_ref ? variant->byref : static_cast<const void*>(&variant->llVal), base);
    }
    // The caller's length may not run past what the variant holds.
    if (!d.known || length > d.bytes) return CVX_INVALID_ARGUMENT;
    return user_command(handle, command, first, second, d.data, length);
  });
}

// Kept for programs written against older boards: the board has no such service.
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFCall(CVX_HANDLE, uint32_t) { return CVX_NOT_SUPPORTED; }
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFSetEntry(CVX_HANDLE, uint32_t) { return CVX_NOT_SUPPORTED; }
CVX_EXPORT CVX_STATUS CVX_API CVX_ATFReadServiceVersion(CVX_HANDLE, uint32_t) { return CVX_NOT_SUPPORTED; }

}  // extern "C"
