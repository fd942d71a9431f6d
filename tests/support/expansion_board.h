// Expansion boards behind the driver stand-in, and the monitor commands the
// library is expected to put on their wire, spelt out byte by byte.
#pragma once

#include <initializer_list>
#include <string>

#include "support/sim_fixture.h"
#include "wexford.h"

namespace wire {

// Written out here rather than taken from the header, so a wrong constant there shows.
inline constexpr const char* kUsbProduct = "3aa4096d-2cc0-46dd-878a-88511d75ac78";
inline constexpr const char* kLanProduct = "787c7eb3-31ac-4be1-bd0a-c07563d39179";
inline constexpr std::uint32_t kUsbTypes = 0x80800000u;
inline constexpr std::uint32_t kAnyTypes = 0xFFFFFF00u;
inline constexpr std::uint32_t kFlag = 0xFFE7F6;

inline Bytes with_address(std::uint8_t op, std::uint32_t a, std::initializer_list<std::uint8_t> tail = {}) {
  Bytes b{op, static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16), static_cast<std::uint8_t>(a >> 8),
          static_cast<std::uint8_t>(a)};
  b.insert(b.end(), tail);
  return b;
}

inline Bytes write8(std::uint32_t a, std::uint8_t v) { return with_address(0x02, a, {v}); }
inline Bytes read8(std::uint32_t a) { return with_address(0x03, a); }
inline Bytes read16(std::uint32_t a) { return with_address(0x05, a); }
inline Bytes masked(std::uint32_t a, std::uint8_t v, std::uint8_t mask) { return with_address(0x1C, a, {v, mask}); }
inline Bytes set_count(std::uint8_t n, std::uint32_t v) {
  return {0x30,
          n,
          static_cast<std::uint8_t>(v >> 24),
          static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}
// The four reads of one CVX_PCReadCnt of every counter.
inline std::vector<Bytes> read_counts() { return {{0x31, 0}, {0x31, 1}, {0x31, 2}, {0x31, 3}}; }

// A counter's condition: port 0xFFFFD4 under mask, then its control byte.
inline std::vector<Bytes> arm(std::uint8_t n, std::uint8_t mask, std::uint8_t control) {
  const std::uint32_t block = 0x0FFFE724u + 28u * n;
  return {with_address(0x06, block + 8, {0x00, 0x04, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xD4}), write8(block + 17, mask),
          write8(block + 18, control)};
}

// Version byte, then the whole of area 7.
inline std::vector<Bytes> product_read() {
  return {{0x01}, with_address(0x07, 7 * 4096, {0x10, 0x00, 0x01, 0x00, 0x00, 0x00})};
}
inline std::vector<Bytes> version_word_read() { return {{0x01}, {0x3A}}; }
// Direction of 0xFFFFD4, both output ports high, then both made outputs.
inline std::vector<Bytes> port_set_up() {
  return {write8(0xFEE004, 0x03), write8(0xFFFFD3, 0xFF), write8(0xFFFFD9, 0xFF), write8(0xFEE003, 0xFF),
          write8(0xFEE009, 0xFF)};
}
inline Bytes set_flag() { return masked(kFlag, 0xFF, 0x10); }

inline std::vector<Bytes> join(std::initializer_list<std::vector<Bytes>> parts) {
  std::vector<Bytes> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace wire

// USB boards as configured, the expansion board opened through the library.
class ExpansionBoards : public SimBoards {
 protected:
  static std::string board_text(const std::string& serial, const std::string& product, unsigned unit,
                                const std::string& more = "") {
    return "[board]\nserial = " + serial + "\nproduct = " + product + " " + std::to_string(unit) + "\n" + more;
  }

  void SetUp() override { configure(board_text("X1", wire::kUsbProduct, 1)); }

  // Opens the USB expansion board of unit (any when 0) and forgets what the search sent.
  WXF_HANDLE open_expansion(std::uint32_t unit = 0) {
    WXF_HANDLE h = 0;
    EXPECT_EQ(WXF_Open(&h, unit, wire::kUsbTypes), WXF_OK);
    keep(h);
    forget_sent();
    return h;
  }
};
