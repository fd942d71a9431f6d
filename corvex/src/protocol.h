// Command encoders of the board protocol: pure functions from arguments to bytes.
// Monitor fields are big-endian; flash-writer fields are least significant byte first.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace corvex::protocol {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;
constexpr std::uint32_t kMaxBlock = 65536;  // sent as length 0

// Helpers.
void put_be16(Bytes& out, std::uint32_t v);
void put_be32(Bytes& out, std::uint32_t v);
void put_le16(Bytes& out, std::uint32_t v);
void put_le32(Bytes& out, std::uint32_t v);
std::uint32_t clamp_block(std::uint32_t length);

// Monitor firmware.
Bytes read_version();                                            // 01 -> 1
Bytes port_write8(std::uint32_t address, std::uint32_t value);   // 02 / 10
Bytes port_read8(std::uint32_t address);                         // 03 / 11 -> 1
Bytes port_write16(std::uint32_t address, std::uint32_t value);  // 04 / 10
Bytes port_read16(std::uint32_t address);                        // 05 / 11 -> 2 or 1
Bytes block_write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length, std::uint32_t flag,
                  std::uint32_t option);                                                                  // 06
Bytes block_read(std::uint32_t address, std::uint32_t length, std::uint32_t flag, std::uint32_t option);  // 07
Bytes read_status();                                                                                      // 0A -> 2
Bytes initialize();                                                                                       // 0B
Bytes abort();                                                                                            // 0C
Bytes block_copy(std::uint32_t first, std::uint32_t second, std::uint32_t length, std::uint32_t byte1,
                 std::uint32_t byte2);                              // 0D
Bytes copy8(std::uint32_t first, std::uint32_t second);             // 0E
Bytes copy16(std::uint32_t first, std::uint32_t second);            // 0F
Bytes ad_read(std::uint32_t selector);                              // 12 -> 8
Bytes sci_write(const std::uint8_t* data, std::uint32_t count);     // 13
Bytes sci_read(std::uint32_t count);                                // 14 -> count
Bytes sci_status();                                                 // 15 -> 2
Bytes ad_block_read(std::uint32_t channel, std::uint32_t samples);  // 1A -> 2 per sample
Bytes ad_start(std::uint32_t selector, std::uint32_t address, std::uint32_t value, std::uint32_t last);  // 1B
Bytes port_write8_masked(std::uint32_t address, std::uint32_t value, std::uint32_t mask);                // 1C / 1D
Bytes counter_set(std::uint32_t counter, std::uint32_t value);                                           // 30
Bytes counter_read(std::uint32_t counter);                                                               // 31 -> 4
Bytes counter_read_all();                                                                                // 4 x 31 -> 16
Bytes da_set_parm(std::uint32_t flag, std::uint32_t address, std::uint32_t length, std::uint32_t value);  // 38
Bytes ad_copy(const std::array<std::uint8_t, 18>& parameters);                                            // 39
Bytes read_version_word();                                                                                // 3A -> 4
Bytes user_command(std::uint32_t command, std::uint32_t first, std::uint32_t second, const std::uint8_t* data,
                   std::uint32_t length);       // 3B
Bytes initialize_a(std::uint32_t value);        // 3C
Bytes timed_copy_start(std::uint32_t channel);  // 60
Bytes resync();                                 // FF

// Flash writer: each field is its own write, so each command is a list of pieces.
using Pieces = std::vector<Bytes>;
constexpr std::uint32_t kFlashBlock = 128;
Pieces writer_echo();                                                  // EE -> 1
Pieces writer_version();                                               // 3A -> 4
Pieces writer_read(std::uint32_t address);                             // 11 -> 128
Pieces writer_erase(std::uint32_t mask);                               // A5 -> 1
Pieces writer_begin();                                                 // 5A -> 1
Pieces writer_block(std::uint32_t address, const std::uint8_t* data);  // 5B -> 1
Pieces writer_finish();                                                // 5C -> 1
std::uint32_t block_checksum(const std::uint8_t* data);

// Version encodings.
std::uint32_t version_number(std::uint8_t bcd);
bool needs_version_word(std::uint32_t number);
std::uint32_t synthesized_version_word(std::uint8_t bcd);
bool is_monitor_version(std::uint32_t number);

}  // namespace corvex::protocol
