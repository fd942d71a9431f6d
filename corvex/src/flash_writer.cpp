#include "flash_writer.h"

namespace corvex {

CVX_STATUS writer_transfer(Transport& t, const protocol::Pieces& pieces, std::uint8_t* reply,
                           std::uint32_t reply_length) {
  std::uint32_t moved = 0;
  for (const auto& piece : pieces)
    if (CVX_STATUS s = send_all(t, piece.data(), static_cast<std::uint32_t>(piece.size()), &moved); s != CVX_OK)
      return s;
  return reply_length ? receive_all(t, reply, reply_length, &moved) : CVX_OK;
}

CVX_STATUS writer_exchange(Transport& t, const protocol::Pieces& pieces, std::uint8_t* reply,
                           std::uint32_t reply_length) {
  return writer_transfer(t, pieces, reply, reply_length) == CVX_OK ? CVX_OK : CVX_FAILED;
}

CVX_STATUS writer_echo(Transport& t) {
  std::uint8_t answer = 0;
  if (writer_exchange(t, protocol::writer_echo(), &answer, 1) != CVX_OK) return CVX_FAILED;
  return answer == 0xEE || answer == 0xED ? CVX_OK : CVX_FAILED;
}

namespace {

CVX_STATUS flash_error(std::uint8_t n) { return CVX_FLASH_ERROR_BASE + n; }

// Ends programming with 5C; the board's answer decides the result.
CVX_STATUS finish(Transport& t, CVX_STATUS when_zero) {
  std::uint8_t answer = 0;
  if (CVX_STATUS s = writer_exchange(t, protocol::writer_finish(), &answer, 1); s != CVX_OK) return s;
  return answer == 0 ? when_zero : flash_error(answer);
}

}  // namespace

CVX_STATUS program_flash_blocks(Transport& t, std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
  std::uint8_t answer = 0;
  if (CVX_STATUS s = writer_exchange(t, protocol::writer_begin(), &answer, 1); s != CVX_OK) return s;
  if (answer != 0) return flash_error(answer);
  for (std::uint32_t offset = 0; offset < count; offset += protocol::kFlashBlock) {
    const auto block = protocol::writer_block(address + offset, data + offset);
    for (std::uint32_t attempt = 1;; ++attempt) {
      if (CVX_STATUS s = writer_exchange(t, block, &answer, 1); s != CVX_OK) return s;
      if (answer == 0) break;
      if (answer != 6) return flash_error(answer);
      if (attempt == kWriterAttempts) return finish(t, CVX_FLASH_RETRIES);
    }
  }
  return finish(t, CVX_OK);
}

}  // namespace corvex
