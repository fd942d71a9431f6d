// Read/write areas through the monitor, product records, and opening a board
// by the product it is.
#include "product_record.h"

#include <array>
#include <cstring>
#include <mutex>

#include "guard.h"
#include "io.h"
#include "open_check.h"
#include "protocol.h"
#include "usb_search.h"
#include "usb_transport.h"

using namespace corvex;

namespace {

constexpr std::uint32_t kAreaSize = 4096;
constexpr std::uint32_t kSlot = 128;
constexpr std::uint32_t kProductArea = 7;
constexpr std::uint32_t kFirstAreaVersion = 21;
constexpr std::size_t kUuidAt = 4;
constexpr std::size_t kUnitAt = 20;
constexpr std::uint32_t kSearchTimeoutMs = 500;
constexpr std::uint32_t kWholeRead = 1;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Opens the USB boards one after another as the product search does: each
// gets a row, short time-outs and the open check; visit(handle, checked)
// decides whether to keep it (true ends the walk with the board open, which
// only a checked board may be). Boards not kept are closed. Returns 5 when
// the table is full.
template <typename Visit>
CVX_STATUS each_board(std::uint32_t* boards, Visit&& visit, CVX_HANDLE* kept) {
  const Driver& drv = state().driver;
  std::uint32_t count = 0;
  if (!drv.present() || drv.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK) return CVX_DEVICE_NOT_FOUND;
  for (std::uint32_t index = 0; index < count; ++index) {
    Found found{nullptr, {}};
    if (drv.Open(static_cast<int>(index), &found.handle) != FT_OK) continue;
    drv.SetTimeouts(found.handle, kSearchTimeoutMs, kSearchTimeoutMs);
    const CVX_HANDLE h = take_usb_row(state().table, drv, found.handle);
    if (!h) {
      drv.Close(found.handle);
      return CVX_TABLE_FULL;
    }
    if (!has_identity(drv, Identity{}, found)) {
      CVX_Close(h);
      continue;
    }
    if (boards) ++*boards;
    const bool checked = open_check(h) == CVX_OK;
    if (visit(h, checked) && checked) {
      drv.SetTimeouts(found.handle, kDefaultTimeoutMs, kDefaultTimeoutMs);
      drv.SetLatencyTimer(found.handle, 3);
      if (kept) *kept = h;
      return CVX_OK;
    }
    CVX_Close(h);
  }
  return CVX_DEVICE_NOT_FOUND;
}

}  // namespace

namespace corvex {

std::optional<Uuid> parse_uuid(std::string_view text) {
  constexpr std::size_t kLength = 36;
  if (text.size() != kLength) return std::nullopt;
  std::array<std::uint8_t, 16> bytes{};  // in text order
  std::size_t n = 0;
  for (std::size_t i = 0; i < kLength;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i++] != '-') return std::nullopt;
      continue;
    }
    const int high = hex_digit(text[i]), low = hex_digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[n++] = static_cast<std::uint8_t>(high << 4 | low);
    i += 2;
  }
  // The first three fields are numbers, stored least significant byte first.
  return Uuid{bytes[3], bytes[2], bytes[1], bytes[0], bytes[5],  bytes[4],  bytes[7],  bytes[6],
              bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]};
}

bool ProductWanted::matches(const std::uint8_t* record) const {
  if (product && std::memcmp(record + kUuidAt, product->data(), product->size()) != 0) return false;
  if (unit == 0) return true;
  const std::uint32_t found = record[kUnitAt] | record[kUnitAt + 1] << 8 | record[kUnitAt + 2] << 16 |
                              static_cast<std::uint32_t>(record[kUnitAt + 3]) << 24;
  return found == unit;
}

}  // namespace corvex

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_ReadRWArea(CVX_HANDLE handle, uint32_t area, void* record) {
  return guarded([&] {
    if (!record) return CVX_INVALID_ARGUMENT;
    if (area < 1 || area > 7) return CVX_INVALID_ARGUMENT;
    uint32_t version = 0;
    if (CVX_STATUS s = CVX_ReadVersion(handle, &version); s != CVX_OK) return s;
    if (version < kFirstAreaVersion) return CVX_NOT_SUPPORTED;
    std::array<std::uint8_t, kAreaSize> bytes{};
    if (CVX_STATUS s = CVX_PortBRead(handle, area * kAreaSize, bytes.data(), kAreaSize, kWholeRead, 0); s != CVX_OK)
      return s;
    // The current record is the valid one in the highest slot.
    for (std::uint32_t at = kAreaSize; at > 0;) {
      at -= kSlot;
      if (bytes[at] == 0 && bytes[at + 1] == 0) {
        std::memcpy(record, bytes.data() + at, kSlot);
        return CVX_OK;
      }
    }
    return CVX_NO_RECORD;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ReadPI(CVX_HANDLE handle, void* record) {
  return CVX_ReadRWArea(handle, kProductArea, record);
}

CVX_EXPORT CVX_STATUS CVX_API CVX_ReadAppendBlk(CVX_HANDLE handle, uint32_t area, void* record) {
  if (area < 1 || area > 3) return CVX_INVALID_ARGUMENT;
  return CVX_ReadRWArea(handle, area, record);
}

CVX_EXPORT int32_t CVX_API CVX_ListProducts(void* records, int32_t max) {
  return guarded_value<int32_t>(0, [&] {
    std::lock_guard lock(state().table.lock());
    auto* out = static_cast<std::uint8_t*>(records);
    std::uint32_t boards = 0;
    std::int32_t stored = 0;
    // Every board is read as the search reads it; none is kept.
    each_board(
        &boards,
        [&](CVX_HANDLE h, bool checked) {
          if (!out || stored >= max) return false;
          std::uint8_t* record = out + static_cast<std::size_t>(stored++) * kSlot;
          if (!checked || CVX_ReadPI(h, record) != CVX_OK) record[0] = record[1] = 0xFF;
          return false;
        },
        nullptr);
    return static_cast<int32_t>(boards);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_OpenByPI(CVX_HANDLE* handle, const char* identifier, uint32_t unit, uint32_t flags) {
  return guarded([&] {
    if (!handle) return CVX_INVALID_ARGUMENT;
    *handle = 0;
    if (flags & CVX_IF_FLASH_WRITER) return CVX_NOT_SUPPORTED;
    ProductWanted wanted;
    wanted.unit = unit;
    if (identifier && *identifier) {
      // Not an identifier at all: nothing is searched.
      wanted.product = parse_uuid(identifier);
      if (!wanted.product) return CVX_INVALID_ARGUMENT;
    }
    CVX_STATUS status = CVX_DEVICE_NOT_FOUND;
    if (flags & CVX_IF_USB) {
      std::lock_guard lock(state().table.lock());
      status = each_board(
          nullptr,
          [&](CVX_HANDLE h, bool checked) {
            if (!checked) return false;
            if (wanted.any()) return true;
            std::array<std::uint8_t, kSlot> record{};
            return CVX_ReadPI(h, record.data()) == CVX_OK && wanted.matches(record.data());
          },
          handle);
    }
    if (!*handle && status != CVX_TABLE_FULL && (flags & CVX_IF_LAN))
      status = lan_open_product(wanted, flags, handle);
    return *handle ? CVX_OK : status;
  });
}

}  // extern "C"
