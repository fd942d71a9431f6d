#include "io.h"

#include <algorithm>
#include <cstring>

namespace corvex {
namespace {

template <typename Move>
CVX_STATUS path(CVX_HANDLE handle, const void* data, std::uint32_t* count, Firmware firmware, Move&& move) {
  if (!data || !count) return CVX_INVALID_ARGUMENT;
  DeviceEntry* entry = state().table.row(handle);
  // A closed row keeps its interface word: it must read as closed, not as a writer.
  if (!entry || entry->chan() == 0) return CVX_INVALID_HANDLE;
  if (firmware == Firmware::Monitor && entry->is_writer()) return CVX_WRONG_MODE;
  return on_channel(handle, move);
}

}  // namespace

void write_listing(std::string joined, char* text, std::int32_t* size, std::int32_t needed) {
  if (!text || !size || *size <= 0) {
    if (size) *size = needed;
    return;
  }
  const std::size_t written = std::min(joined.size(), static_cast<std::size_t>(*size));
  // The last byte written stays as it is.
  for (std::size_t i = 0; i + 1 < written; ++i)
    if (joined[i] == '\0') joined[i] = ' ';
  std::memcpy(text, joined.data(), written);
  *size = joined.size() <= static_cast<std::size_t>(*size) ? static_cast<std::int32_t>(written) : needed;
}

bool in_writer_mode(CVX_HANDLE handle) {
  DeviceEntry* entry = state().table.row(handle);
  return entry && entry->chan() != 0 && entry->is_writer();
}

CVX_STATUS write_path(CVX_HANDLE handle, const void* data, std::uint32_t length, std::uint32_t* written,
                      Firmware firmware) {
  return path(handle, data, written, firmware,
              [&](Transport& t) { return send_all(t, static_cast<const std::uint8_t*>(data), length, written); });
}

CVX_STATUS read_path(CVX_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* read, Firmware firmware) {
  return path(handle, data, read, firmware,
              [&](Transport& t) { return receive_all(t, static_cast<std::uint8_t*>(data), length, read); });
}

CVX_STATUS command(CVX_HANDLE handle, const Bytes& request, std::uint8_t* reply, std::uint32_t reply_length) {
  const ExchangeLock exchange(handle);
  std::uint32_t moved = 0;
  CVX_STATUS status =
      write_path(handle, request.data(), static_cast<std::uint32_t>(request.size()), &moved, Firmware::Monitor);
  if (status != CVX_OK || reply_length == 0) return status;
  return read_path(handle, reply, reply_length, &moved, Firmware::Monitor);
}

CVX_STATUS command_number(CVX_HANDLE handle, const Bytes& request, std::uint32_t width, std::uint32_t* value) {
  std::uint8_t reply[4] = {};
  if (CVX_STATUS s = command(handle, request, reply, width); s != CVX_OK) return s;
  std::uint32_t v = 0;
  for (std::uint32_t i = 0; i < width; ++i) v = v << 8 | reply[i];
  *value = v;
  return CVX_OK;
}

}  // namespace corvex
