#include "protocol.h"

#include <algorithm>

namespace corvex::protocol {

void put_be16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void put_be32(Bytes& out, std::uint32_t v) {
  put_be16(out, v >> 16);
  put_be16(out, v);
}

void put_le16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put_le32(Bytes& out, std::uint32_t v) {
  put_le16(out, v);
  put_le16(out, v >> 16);
}

std::uint32_t clamp_block(std::uint32_t length) { return std::min(length, kMaxBlock); }

namespace {

Bytes op(std::uint8_t code) { return Bytes{code}; }

Bytes op_address(std::uint8_t code, std::uint32_t address) {
  Bytes b{code};
  put_be32(b, address);
  return b;
}

Bytes op_two_addresses(std::uint8_t code, std::uint32_t first, std::uint32_t second) {
  Bytes b = op_address(code, first);
  put_be32(b, second);
  return b;
}

std::uint8_t low(std::uint32_t v) { return static_cast<std::uint8_t>(v); }

}  // namespace

Bytes read_version() { return op(0x01); }

Bytes port_write8(std::uint32_t address, std::uint32_t value) {
  if (address == kNoAddress) return Bytes{0x10, low(value)};
  Bytes b = op_address(0x02, address);
  b.push_back(low(value));
  return b;
}

Bytes port_read8(std::uint32_t address) { return address == kNoAddress ? op(0x11) : op_address(0x03, address); }

Bytes port_write16(std::uint32_t address, std::uint32_t value) {
  if (address == kNoAddress) return Bytes{0x10, low(value)};
  Bytes b = op_address(0x04, address);
  put_be16(b, value);
  return b;
}

Bytes port_read16(std::uint32_t address) { return address == kNoAddress ? op(0x11) : op_address(0x05, address); }

Bytes block_write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length, std::uint32_t flag,
                  std::uint32_t option) {
  length = clamp_block(length);
  Bytes b = op_address(0x06, address);
  b.reserve(9 + length);
  put_be16(b, length);  // 65536 wraps to 0
  b.push_back(flag ? 1 : 0);
  b.push_back(low(option));
  b.insert(b.end(), data, data + length);
  return b;
}

Bytes block_read(std::uint32_t address, std::uint32_t length, std::uint32_t flag, std::uint32_t option) {
  Bytes b = op_address(0x07, address);
  put_be16(b, clamp_block(length));
  b.push_back(flag ? 1 : 0);
  b.push_back(low(option));
  b.push_back(0);
  b.push_back(0);
  return b;
}

Bytes read_status() { return op(0x0A); }
Bytes initialize() { return op(0x0B); }
Bytes abort() { return op(0x0C); }

Bytes block_copy(std::uint32_t first, std::uint32_t second, std::uint32_t length, std::uint32_t byte1,
                 std::uint32_t byte2) {
  Bytes b = op_two_addresses(0x0D, first, second);
  put_be16(b, clamp_block(length));
  b.push_back(low(byte1));
  b.push_back(low(byte2));
  b.push_back(0);
  b.push_back(0);
  return b;
}

Bytes copy8(std::uint32_t first, std::uint32_t second) { return op_two_addresses(0x0E, first, second); }
Bytes copy16(std::uint32_t first, std::uint32_t second) { return op_two_addresses(0x0F, first, second); }

Bytes ad_read(std::uint32_t selector) { return Bytes{0x12, low(selector)}; }

Bytes sci_write(const std::uint8_t* data, std::uint32_t count) {
  Bytes b{0x13, low(count)};
  b.insert(b.end(), data, data + low(count));
  return b;
}

Bytes sci_read(std::uint32_t count) { return Bytes{0x14, low(count)}; }
Bytes sci_status() { return op(0x15); }

Bytes ad_block_read(std::uint32_t channel, std::uint32_t samples) {
  Bytes b{0x1A, low(channel)};
  put_be32(b, samples);
  b.push_back(0);
  b.push_back(0);
  return b;
}

Bytes ad_start(std::uint32_t selector, std::uint32_t address, std::uint32_t value, std::uint32_t last) {
  Bytes b{0x1B, low(selector)};
  put_be32(b, address);
  b.push_back(low(value));
  b.push_back(address == kNoAddress ? 1 : 0);
  b.push_back(last == 0 ? 1 : 0);
  return b;
}

Bytes port_write8_masked(std::uint32_t address, std::uint32_t value, std::uint32_t mask) {
  if (address == kNoAddress) return Bytes{0x1D, low(value), low(mask)};
  Bytes b = op_address(0x1C, address);
  b.push_back(low(value));
  b.push_back(low(mask));
  return b;
}

Bytes counter_set(std::uint32_t counter, std::uint32_t value) {
  Bytes b{0x30, low(counter)};
  put_be32(b, value);
  return b;
}

Bytes counter_read(std::uint32_t counter) { return Bytes{0x31, low(counter)}; }

Bytes counter_read_all() { return Bytes{0x31, 0, 0x31, 1, 0x31, 2, 0x31, 3}; }

Bytes da_set_parm(std::uint32_t flag, std::uint32_t address, std::uint32_t length, std::uint32_t value) {
  Bytes b{0x38, static_cast<std::uint8_t>(flag ? 1 : 0)};
  put_be32(b, address);
  put_be16(b, length);
  b.push_back(low(value));
  return b;
}

Bytes ad_copy(const std::array<std::uint8_t, 18>& parameters) {
  Bytes b{0x39};
  b.insert(b.end(), parameters.begin(), parameters.end());
  return b;
}

Bytes read_version_word() { return op(0x3A); }

Bytes user_command(std::uint32_t command, std::uint32_t first, std::uint32_t second, const std::uint8_t* data,
                   std::uint32_t length) {
  Bytes b{0x3B};
  put_be16(b, command);
  put_be32(b, first);
  put_be32(b, second);
  if (data) b.insert(b.end(), data, data + length);
  return b;
}

Bytes initialize_a(std::uint32_t value) {
  Bytes b{0x3C};
  put_be32(b, value);
  return b;
}

Bytes timed_copy_start(std::uint32_t channel) { return Bytes{0x60, low(channel)}; }
Bytes resync() { return op(0xFF); }

Pieces writer_echo() { return {op(0xEE)}; }
Pieces writer_version() { return {op(0x3A)}; }

Pieces writer_read(std::uint32_t address) {
  Bytes a;
  put_le32(a, address);
  return {op(0x11), a};
}

Pieces writer_erase(std::uint32_t mask) {
  Bytes m;
  put_le16(m, mask);
  return {op(0xA5), m};
}

Pieces writer_begin() { return {op(0x5A)}; }

std::uint32_t block_checksum(const std::uint8_t* data) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < kFlashBlock; ++i) sum += data[i];
  return sum & 0xFFFF;
}

Pieces writer_block(std::uint32_t address, const std::uint8_t* data) {
  Bytes a, sum;
  put_le32(a, address);
  put_le16(sum, block_checksum(data));
  return {op(0x5B), a, Bytes(data, data + kFlashBlock), sum};
}

Pieces writer_finish() { return {op(0x5C)}; }

std::uint32_t version_number(std::uint8_t bcd) { return (bcd >> 4) * 10u + (bcd & 0x0Fu); }

bool needs_version_word(std::uint32_t number) { return number > 29; }

std::uint32_t synthesized_version_word(std::uint8_t bcd) {
  // Built from the digits as they stand, even when a nibble is not decimal.
  const std::uint32_t tens = bcd >> 4, units = bcd & 0x0Fu;
  return (units + tens * 256) << 8;
}

bool is_monitor_version(std::uint32_t number) { return number != 5 && number != 165; }

}  // namespace corvex::protocol
