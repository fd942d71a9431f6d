// Exchanges with the board's flash writer.
#pragma once

#include "protocol.h"
#include "transport.h"

namespace corvex {

constexpr std::uint32_t kWriterAttempts = 5;

// Writes each piece with its own write, then reads reply_length bytes; the
// first transfer failure's own status.
CVX_STATUS writer_transfer(Transport& t, const protocol::Pieces& pieces, std::uint8_t* reply,
                           std::uint32_t reply_length);

// As writer_transfer, with any transfer failure reported as CVX_FAILED.
CVX_STATUS writer_exchange(Transport& t, const protocol::Pieces& pieces, std::uint8_t* reply,
                           std::uint32_t reply_length);

// 0 when the board answers the echo as the flash writer does, else CVX_FAILED.
CVX_STATUS writer_echo(Transport& t);

// Programs count bytes (a multiple of 128) from address upward, block by block.
CVX_STATUS program_flash_blocks(Transport& t, std::uint32_t address, const std::uint8_t* data, std::uint32_t count);

}  // namespace corvex
