// The expansion board over Corvex. Nothing is kept between calls: every
// function forwards to Corvex with the board's fixed addresses and constants.
#include "wexford.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "corvex.h"

namespace {

constexpr std::uint32_t kUsbBoard = WXF_TYPE_USB | WXF_TYPE_EXPANSION;
constexpr std::uint32_t kLanBoard = WXF_TYPE_LAN | WXF_TYPE_EXPANSION;
constexpr std::uint32_t kOtherProduct = 0xFFFFFF00u;
constexpr std::uint32_t kLanSearch = CVX_IF_LAN | CVX_OPEN_DISCOVER;

constexpr std::uint32_t kFlagByte = 0xFFE7F6;  // board work memory
constexpr std::uint32_t kInitialised = 0x10;
constexpr std::uint32_t kCounterMode = 0x110000;
constexpr std::uint32_t kAnalogControl = 0x120000;
constexpr std::uint32_t kAnalogOut0 = 0xFFFF9C;
constexpr std::uint32_t kAnalogOut1 = 0xFFFF9D;
constexpr std::uint32_t kFlagFirmware = 0x030201;  // first firmware that keeps the flag

constexpr std::size_t kRecordSize = 128;
constexpr std::size_t kProductAt = 4;

// The product record's identifier as the Windows conversion writes it.
void uuid_text(const std::uint8_t* b, char (&text)[37]) {
  const unsigned data1 = b[0] | b[1] << 8 | b[2] << 16 | static_cast<unsigned>(b[3]) << 24;
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", data1,
                static_cast<unsigned>(b[4] | b[5] << 8), static_cast<unsigned>(b[6] | b[7] << 8), b[8], b[9], b[10],
                b[11], b[12], b[13], b[14], b[15]);
}

// kUsbBoard, kLanBoard, or kOtherProduct when the record is another's or unreadable.
std::uint32_t product_type(CVX_HANDLE h) {
  std::uint8_t record[kRecordSize];
  if (CVX_ReadPI(h, record) != CVX_OK) return kOtherProduct;
  char text[37];
  uuid_text(record + kProductAt, text);
  if (std::strcmp(text, WXF_PRODUCT_USB) == 0) return kUsbBoard;
  if (std::strcmp(text, WXF_PRODUCT_LAN) == 0) return kLanBoard;
  return kOtherProduct;
}

bool keeps_flag(std::uint32_t version_word) { return (version_word & 0xFFFFFF) >= kFlagFirmware; }

// Port 0xFFFFD4's low bits out, both output ports high before they turn into outputs.
CVX_STATUS set_up_ports(CVX_HANDLE h) {
  if (CVX_STATUS s = CVX_PortSetDir(h, WXF_PORT_SENSE, 0x03); s != CVX_OK) return s;
  for (std::uint32_t port : {WXF_PORT_OUTPUT_A, WXF_PORT_OUTPUT_B})
    if (CVX_STATUS s = CVX_PortWrite8(h, port, 0xFF); s != CVX_OK) return s;
  for (std::uint32_t port : {WXF_PORT_OUTPUT_A, WXF_PORT_OUTPUT_B})
    if (CVX_STATUS s = CVX_PortSetDir(h, port, 0xFF); s != CVX_OK) return s;
  return CVX_OK;
}

CVX_STATUS set_flag(CVX_HANDLE h) { return CVX_PortWrite8A(h, kFlagByte, 0xFF, kInitialised); }

CVX_STATUS clear_counts(CVX_HANDLE h, std::initializer_list<std::uint32_t> counters) {
  for (std::uint32_t n : counters)
    if (CVX_STATUS s = CVX_PCSetCnt(h, n, 0); s != CVX_OK) return s;
  return CVX_OK;
}

// Counts on the given bits of the sense port.
CVX_STATUS arm(CVX_HANDLE h, std::uint32_t counter, std::uint32_t mask, std::uint32_t control) {
  if (CVX_STATUS s = CVX_PCSetCondBit(h, counter, WXF_PORT_SENSE, mask); s != CVX_OK) return s;
  return CVX_PCSetControl(h, counter, control);
}

CVX_STATUS set_mode_bits(CVX_HANDLE h, std::uint8_t bits) {
  std::uint8_t value = 0;
  if (CVX_STATUS s = CVX_PortRead8(h, kCounterMode, &value); s != CVX_OK) return s;
  return CVX_PortWrite8(h, kCounterMode, value | bits);
}

// Counter number of a single selector, or -1.
int single_counter(std::uint32_t selector) {
  switch (selector) {
    case WXF_COUNTER_0: return 0;
    case WXF_COUNTER_1: return 1;
    case WXF_COUNTER_2: return 2;
    case WXF_COUNTER_3: return 3;
    default: return -1;
  }
}

// Lower counter of a pair selector, or -1.
int pair_counter(std::uint32_t selector) {
  switch (selector) {
    case WXF_COUNTERS_0_1: return 0;
    case WXF_COUNTERS_2_3: return 2;
    default: return -1;
  }
}

}  // namespace

extern "C" {

WXF_EXPORT WXF_STATUS WXF_API WXF_Open(WXF_HANDLE* handle, uint32_t unit, uint32_t types) {
  if (!handle) return WXF_INVALID_ARGUMENT;
  *handle = 0;
  unit &= 0xFFFF;
  WXF_STATUS status = WXF_INVALID_ARGUMENT;
  if ((types & kUsbBoard) == kUsbBoard) {
    status = CVX_OpenByPI(handle, WXF_PRODUCT_USB, unit, CVX_IF_USB);
    if (status == CVX_OK) return CVX_OK;
  }
  if ((types & kLanBoard) == kLanBoard) status = CVX_OpenByPI(handle, WXF_PRODUCT_LAN, unit, kLanSearch);
  return status;
}

WXF_EXPORT WXF_STATUS WXF_API WXF_Close(WXF_HANDLE handle) { return CVX_Close(handle); }

WXF_EXPORT WXF_STATUS WXF_API WXF_Initialize(WXF_HANDLE handle) {
  const std::uint32_t type = product_type(handle);
  if (type == kOtherProduct) return WXF_NOT_EXPANSION_BOARD;
  if (!(type & WXF_TYPE_EXPANSION)) return WXF_NOT_SUPPORTED;
  if (CVX_STATUS s = CVX_Initialize(handle); s != CVX_OK) return s;
  if (CVX_STATUS s = set_up_ports(handle); s != CVX_OK) return s;
  std::uint32_t version = 0;
  if (CVX_STATUS s = CVX_ReadVersionA(handle, &version); s != CVX_OK) return s;
  // Older firmware has no flag byte at that address.
  if (!keeps_flag(version)) return CVX_OK;
  return set_flag(handle);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_InitializeA(WXF_HANDLE handle, int32_t value) {
  std::uint32_t version = 0;
  if (CVX_STATUS s = CVX_ReadVersionA(handle, &version); s != CVX_OK) return s;
  if (!keeps_flag(version)) return WXF_NOT_SUPPORTED;
  const std::uint32_t type = product_type(handle);
  if (type == kOtherProduct) return WXF_NOT_EXPANSION_BOARD;
  std::uint16_t word = 0;
  if (CVX_STATUS s = CVX_PortRead16(handle, kFlagByte, &word); s != CVX_OK) return s;
  // The flag byte is the high byte of the big-endian word.
  if ((word & kInitialised << 8) && value != -1) {
    // Already set up: the ports keep what the application drives on them.
    if (CVX_STATUS s = CVX_InitializeA(handle, static_cast<std::uint32_t>(value) & ~1u); s != CVX_OK) return s;
    return set_flag(handle);
  }
  if (!(type & WXF_TYPE_EXPANSION)) return WXF_NOT_SUPPORTED;
  if (CVX_STATUS s = CVX_InitializeA(handle, 0xFFFFFFFFu); s != CVX_OK) return s;
  if (CVX_STATUS s = set_up_ports(handle); s != CVX_OK) return s;
  return set_flag(handle);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_PortWrite(WXF_HANDLE handle, uint32_t address, uint32_t value, uint32_t mask) {
  return CVX_PortWrite8A(handle, address, value, mask);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_PortRead(WXF_HANDLE handle, uint32_t address, uint8_t* value) {
  return CVX_PortRead8(handle, address, value);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_ADRead(WXF_HANDLE handle, uint32_t channel, uint32_t* value) {
  if (!value) return WXF_INVALID_ARGUMENT;
  std::uint16_t word = 0;
  if (CVX_STATUS s = CVX_ADRead(handle, &word, channel, 0); s != CVX_OK) return s;
  // The 10-bit result sits in the word's upper bits.
  *value = word >> 6;
  return CVX_OK;
}

WXF_EXPORT WXF_STATUS WXF_API WXF_DAWrite(WXF_HANDLE handle, uint32_t channel, uint32_t value) {
  return CVX_PortWrite8(handle, channel == 0 ? kAnalogOut0 : kAnalogOut1, value);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_PCReadReg(WXF_HANDLE handle, uint8_t* value) {
  return CVX_PortRead8(handle, kCounterMode, value);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_PCWriteReg(WXF_HANDLE handle, uint32_t value) {
  return CVX_PortWrite8(handle, kCounterMode, value);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_AnalogReadReg(WXF_HANDLE handle, uint8_t* value) {
  return CVX_PortRead8(handle, kAnalogControl, value);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_AnalogWriteReg(WXF_HANDLE handle, uint32_t value) {
  return CVX_PortWrite8(handle, kAnalogControl, value);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_PCSetMode(WXF_HANDLE handle, uint32_t mode, uint32_t type) {
  if (mode == 0) {
    if (CVX_STATUS s = clear_counts(handle, {0, 1, 2, 3}); s != CVX_OK) return s;
    for (std::uint32_t n : {0u, 1u, 2u, 3u})
      if (CVX_STATUS s = CVX_PCSetControl(handle, n, 0); s != CVX_OK) return s;
    return CVX_OK;
  }
  const bool pair_0_1 = mode == 1 && type == WXF_COUNTERS_0_1;
  const std::uint8_t bits = mode != 1 ? 0xF1 : pair_0_1 ? 0x0F : 0xF0;
  if (CVX_STATUS s = set_mode_bits(handle, bits); s != CVX_OK) return s;
  if (pair_0_1) {
    if (CVX_STATUS s = clear_counts(handle, {0, 1}); s != CVX_OK) return s;
    if (CVX_STATUS s = arm(handle, 0, 0x04, 0x10); s != CVX_OK) return s;
    return arm(handle, 1, 0x04, 0x20);
  }
  if (CVX_STATUS s = mode == 1 ? clear_counts(handle, {2, 3}) : clear_counts(handle, {0, 2, 3}); s != CVX_OK) return s;
  const std::uint32_t low = mode == 1 ? 0x10 : 0x11, high = mode == 1 ? 0x20 : 0x21;
  if (CVX_STATUS s = arm(handle, 2, 0x08, low); s != CVX_OK) return s;
  return arm(handle, 3, 0x08, high);
}

WXF_EXPORT WXF_STATUS WXF_API WXF_PCStart(WXF_HANDLE handle, uint32_t mask) { return CVX_PCStartA(handle, mask); }

WXF_EXPORT WXF_STATUS WXF_API WXF_PCStop(WXF_HANDLE handle, uint32_t mask) { return CVX_PCStop(handle, mask); }

WXF_EXPORT WXF_STATUS WXF_API WXF_PCReadCnt(WXF_HANDLE handle, uint32_t selector, int32_t* value) {
  if (!value) return WXF_INVALID_ARGUMENT;
  std::uint32_t counts[4] = {};
  if (CVX_STATUS s = CVX_PCReadCnt(handle, -1, counts); s != CVX_OK) return s;
  std::uint32_t result = 0;  // unsigned, so a pair's sum wraps as the counters do
  if (const int n = single_counter(selector); n >= 0)
    result = counts[n];
  else if (const int low = pair_counter(selector); low >= 0)
    result = counts[low] + counts[low + 1];
  else
    return WXF_INVALID_ARGUMENT;
  *value = static_cast<std::int32_t>(result);
  return CVX_OK;
}

WXF_EXPORT WXF_STATUS WXF_API WXF_PCSetCnt(WXF_HANDLE handle, uint32_t selector, int32_t value) {
  if (const int n = single_counter(selector); n >= 0)
    return CVX_PCSetCnt(handle, static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(value));
  const int low = pair_counter(selector);
  if (low < 0) return WXF_INVALID_ARGUMENT;
  // Halves that add up to value; the lower counter takes the odd one.
  const std::int32_t upper = value / 2, lower = value - upper;
  if (CVX_STATUS s = CVX_PCSetCnt(handle, static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(lower));
      s != CVX_OK)
    return s;
  return CVX_PCSetCnt(handle, static_cast<std::uint32_t>(low + 1), static_cast<std::uint32_t>(upper));
}

}  // extern "C"
