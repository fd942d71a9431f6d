// Flash memory through the board's flash writer: the primitives, the user's
// record areas and ranges, and the append-only read/write areas.
#include <algorithm>
#include <array>
#include <cstring>

#include "automation.h"
#include "flash_writer.h"
#include "guard.h"
#include "io.h"

using namespace corvex;
namespace proto = corvex::protocol;

namespace {

constexpr std::uint32_t kBlock = proto::kFlashBlock;
constexpr std::uint32_t kFlashSize = 0x80000;
constexpr std::uint32_t kLastBlockStart = kFlashSize - kBlock;
constexpr std::uint32_t kAreaSize = 4096;
constexpr std::uint32_t kSlots = kAreaSize / kBlock;
// The user's record areas 1 to 3, as the range functions see them.
constexpr std::uint32_t kUserFirst = 0x1000;
constexpr std::uint32_t kUserEnd = 0x4000;
constexpr std::uint8_t kEchoPlain = 0xEE;
constexpr std::uint8_t kEchoVersioned = 0xED;

using Slot = std::array<std::uint8_t, kBlock>;

bool user_area(std::uint32_t area) { return area >= 1 && area <= 3; }
bool any_area(std::uint32_t area) { return area >= 1 && area <= 7; }

std::uint32_t area_slot(std::uint32_t area, std::uint32_t slot) { return area * kAreaSize + slot * kBlock; }

bool first_word_is(const std::uint8_t* slot, std::uint16_t word) {
  return slot[0] == (word >> 8) && slot[1] == (word & 0xFF);
}

CVX_STATUS checked_range(std::uint32_t address, std::uint32_t count) {
  if (address < kUserFirst || static_cast<std::uint64_t>(address) + count > kUserEnd) return CVX_FLASH_ADDRESS;
  if (count % kBlock != 0) return CVX_FLASH_LENGTH;
  return CVX_OK;
}

// Refuses a handle that is not talking to the flash writer.
template <typename F>
CVX_STATUS for_writer(CVX_HANDLE handle, F&& f) {
  return in_writer_mode(handle) ? f() : CVX_WRONG_MODE;
}

}  // namespace

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshEchoTest(CVX_HANDLE handle) {
  return guarded([&] { return on_channel(handle, [](Transport& t) { return writer_echo(t); }); });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshReadHwVersion(CVX_HANDLE handle, uint32_t* version) {
  return guarded([&] {
    if (!version) return CVX_INVALID_ARGUMENT;
    return on_channel(handle, [&](Transport& t) {
      std::uint8_t echo = 0;
      if (CVX_STATUS s = writer_transfer(t, proto::writer_echo(), &echo, 1); s != CVX_OK) return s;
      if (echo == kEchoPlain) {
        // A writer that cannot tell its version: the first hardware, on this interface.
        *version = (CVX_GetIFType(handle) & 0xFF010001u) | 0x00010001u;
        return CVX_OK;
      }
      if (echo != kEchoVersioned) return CVX_FAILED;
      std::uint8_t word[4] = {};
      if (CVX_STATUS s = writer_transfer(t, proto::writer_version(), word, 4); s != CVX_OK) return s;
      *version = static_cast<uint32_t>(word[0]) << 24 | word[1] << 16 | word[2] << 8 | word[3];
      return CVX_OK;
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshRead(CVX_HANDLE handle, uint32_t address, void* buffer) {
  return guarded([&] {
    if (!buffer) return CVX_INVALID_ARGUMENT;
    return on_channel(handle, [&](Transport& t) {
      return writer_exchange(t, proto::writer_read(address), static_cast<std::uint8_t*>(buffer), kBlock);
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshErase(CVX_HANDLE handle, uint32_t mask) {
  return guarded([&] {
    return on_channel(handle, [&](Transport& t) {
      std::uint8_t answer = 0;
      if (writer_exchange(t, proto::writer_erase(mask & 0xFFFF), &answer, 1) != CVX_OK) return CVX_FAILED;
      return answer == 0 ? CVX_OK : CVX_FLASH_ERROR_BASE + answer;
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshWrite(CVX_HANDLE handle, uint32_t address, const void* data, uint32_t count) {
  return guarded([&] {
    if (!data) return CVX_INVALID_ARGUMENT;
    if (count > kFlashSize) return CVX_FLASH_LENGTH;
    if (address > kLastBlockStart || address % kBlock != 0) return CVX_FLASH_ADDRESS;
    if (count % kBlock != 0 || address + count > kFlashSize) return CVX_FLASH_LENGTH;
    return on_channel(handle, [&](Transport& t) {
      return program_flash_blocks(t, address, static_cast<const std::uint8_t*>(data), count);
    });
  });
}

CVX_EXPORT uint32_t CVX_API CVX_FlshGetEraseBlk(uint32_t size) {
  constexpr std::uint32_t kSmallBlocks = 0x8000, kSmall = 4096, kLarge = 65536;
  if (size > kFlashSize) return 0;  // no such range on the board
  if (size <= kSmallBlocks) {
    const std::uint32_t k = (size + kSmall - 1) / kSmall;
    return (1u << k) - 1;
  }
  const std::uint32_t m = (size + kLarge - 1) / kLarge;
  return 0xFFFFu >> (8 - m);
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshWriteRWArea(CVX_HANDLE handle, uint32_t area, const void* record) {
  return guarded([&] {
    if (!record) return CVX_INVALID_ARGUMENT;
    if (!any_area(area)) return CVX_INVALID_ARGUMENT;
    // The lowest blank slot above the highest used one; a half-written blank slot stops everything.
    std::uint32_t target = 0;
    bool top_used = false;
    for (std::uint32_t slot = kSlots; slot-- > 0;) {
      Slot bytes{};
      if (CVX_STATUS s = CVX_FlshRead(handle, area_slot(area, slot), bytes.data()); s != CVX_OK) return s;
      if (!first_word_is(bytes.data(), 0xFFFF)) {
        top_used = slot == kSlots - 1;
        break;
      }
      if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0xFF; }))
        return CVX_FLASH_NOT_BLANK;
      target = slot;
    }
    if (top_used) {
      if (CVX_FlshErase(handle, 1u << area) != CVX_OK) return CVX_FLASH_ERASE_FAILED;
      target = 0;
    }
    const std::uint32_t address = area_slot(area, target);
    if (CVX_FlshWrite(handle, address, record, kBlock) != CVX_OK) return CVX_FLASH_RECORD_FAILED;
    Slot back{};
    if (CVX_FlshRead(handle, address, back.data()) != CVX_OK || std::memcmp(back.data(), record, kBlock) != 0)
      return CVX_FLASH_RECORD_FAILED;
    return CVX_OK;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlshReadRWArea(CVX_HANDLE handle, uint32_t area, void* record) {
  return guarded([&] {
    if (!record) return CVX_INVALID_ARGUMENT;
    if (!any_area(area)) return CVX_INVALID_ARGUMENT;
    auto* out = static_cast<std::uint8_t*>(record);
    for (std::uint32_t slot = kSlots; slot-- > 0;) {
      if (CVX_STATUS s = CVX_FlshRead(handle, area_slot(area, slot), out); s != CVX_OK) return s;
      if (first_word_is(out, 0)) return CVX_OK;
    }
    return CVX_NO_RECORD;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlashEraseBlk(CVX_HANDLE handle, uint32_t block) {
  return guarded([&] {
    return for_writer(handle, [&] { return user_area(block) ? CVX_FlshErase(handle, 1u << block) : CVX_INVALID_ARGUMENT; });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlashRead(CVX_HANDLE handle, uint32_t address, void* buffer, uint32_t count) {
  return guarded([&] {
    return for_writer(handle, [&] {
      if (!buffer) return CVX_INVALID_ARGUMENT;
      if (CVX_STATUS s = checked_range(address, count); s != CVX_OK) return s;
      auto* out = static_cast<std::uint8_t*>(buffer);
      for (std::uint32_t at = 0; at < count; at += kBlock)
        if (CVX_STATUS s = CVX_FlshRead(handle, address + at, out + at); s != CVX_OK) return s;
      return CVX_OK;
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlashWrite(CVX_HANDLE handle, uint32_t address, const void* data, uint32_t count) {
  return guarded([&] {
    return for_writer(handle, [&] {
      if (!data) return CVX_INVALID_ARGUMENT;
      if (CVX_STATUS s = checked_range(address, count); s != CVX_OK) return s;
      if (address % kBlock != 0) return CVX_FLASH_ADDRESS;
      // Programming can only clear bits: every byte of the target must still be blank.
      for (std::uint32_t at = 0; at < count; at += kBlock) {
        Slot bytes{};
        if (CVX_STATUS s = CVX_FlshRead(handle, address + at, bytes.data()); s != CVX_OK) return s;
        if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0xFF; }))
          return CVX_FLASH_NOT_BLANK;
      }
      return CVX_FlshWrite(handle, address, data, count);
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlashRead2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t count) {
  return guarded([&] {
    return for_writer(handle, [&] {
      return automation::with_array_bytes(array, count,
                                          [&](uint8_t* data) { return CVX_FlashRead(handle, address, data, count); });
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlashWrite2(CVX_HANDLE handle, uint32_t address, SAFEARRAY* array, uint32_t count) {
  return guarded([&] {
    return for_writer(handle, [&] {
      return automation::with_array_bytes(array, count,
                                          [&](uint8_t* data) { return CVX_FlashWrite(handle, address, data, count); });
    });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlashAppendModeWrite(CVX_HANDLE handle, uint32_t area, const void* record) {
  return guarded([&] {
    return for_writer(handle,
                      [&] { return user_area(area) ? CVX_FlshWriteRWArea(handle, area, record) : CVX_INVALID_ARGUMENT; });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_FlashAppendModeRead(CVX_HANDLE handle, uint32_t area, void* record) {
  return guarded([&] {
    return for_writer(handle,
                      [&] { return user_area(area) ? CVX_FlshReadRWArea(handle, area, record) : CVX_INVALID_ARGUMENT; });
  });
}

}  // extern "C"
