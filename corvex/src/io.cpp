#include "io.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>


namespace corvex {
namespace {

using Clock = std::chrono::steady_clock;

// How long a close lets a cut-short call take to return before cutting again.
constexpr auto kCloseCutInterval = std::chrono::milliseconds(2);

// How often a resynchronisation looks for the rest of a late reply.
constexpr auto kLateReplyPoll = std::chrono::milliseconds(1);

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

template <typename Move>
CVX_STATUS path(CVX_HANDLE handle, const void* data, std::uint32_t* count, Firmware firmware, Move&& move,
                ReplyLength reply = ReplyLength::Known) {
  if (!data || !count) return CVX_INVALID_ARGUMENT;
  DeviceEntry* entry = state().table.row(handle);
  // A closed row keeps its interface word: it must read as closed, not as a writer.
  if (!entry || entry->chan() == 0) return CVX_INVALID_HANDLE;
  if (firmware == Firmware::Monitor && entry->is_writer()) return CVX_WRONG_MODE;
  return on_channel(handle, move, reply);
}

}  // namespace

CVX_STATUS Exchanging::send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) {
  *sent = 0;
  if (entry_.closing.load()) return CVX_INVALID_HANDLE;
  if (entry_.unsynced.load()) {
    if (CVX_STATUS s = resynchronise(); s != CVX_OK) return s;
  }
  const CVX_STATUS s = inner_.send(data, length, sent);
  // Part of a command may have gone: whatever the board answers to it is stale.
  if (s != CVX_OK || *sent < length) failed(0);
  return s;
}

CVX_STATUS Exchanging::receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) {
  *received = 0;
  if (entry_.closing.load()) return CVX_INVALID_HANDLE;
  const CVX_STATUS s = inner_.receive(data, length, received);
  if (s != CVX_OK || *received < length)
    failed(length_ == ReplyLength::Known ? length - std::min(*received, length) : 0);
  return s;
}

void Exchanging::failed(std::uint32_t owed) {
  const std::uint32_t before = entry_.owed.load();
  entry_.owed.store(owed > UINT32_MAX - before ? UINT32_MAX : before + owed);
  entry_.failed_at_ms.store(now_ms());
  entry_.unsynced.store(true);
}

// The board sends nothing unasked: what waits now, and what is still owed,
// belongs to the exchange that failed. The rest of that reply is waited for no
// longer than the read time-out counted from the failure; a reply later still
// cannot be told from the next one, as replies carry nothing to match.
CVX_STATUS Exchanging::resynchronise() {
  const std::int64_t deadline = entry_.failed_at_ms.load() + entry_.read_timeout.load();
  std::uint32_t owed = entry_.owed.load();
  for (bool first = true;; first = false) {
    std::uint32_t waiting = 0;
    if (CVX_STATUS s = inner_.waiting(&waiting); s != CVX_OK) return s;
    if (first || waiting > 0) {
      if (CVX_STATUS s = inner_.purge(CVX_PURGE_RX); s != CVX_OK) return s;
    }
    owed -= std::min(owed, waiting);
    if (owed == 0 || now_ms() >= deadline || entry_.closing.load()) break;
    if (waiting == 0) std::this_thread::sleep_for(kLateReplyPoll);
  }
  entry_.owed.store(0);
  entry_.unsynced.store(false);
  return CVX_OK;
}

// The channel is never closed under a running call: new calls are turned
// away, a transfer waiting on the board is cut short (the transport knows
// how), and the close waits for the exchange and every other call to end (at
// worst, where the driver does not end a read on a purge, for its own time-out).
CVX_STATUS close_entry(DeviceEntry& entry, CloseWait wait) {
  const std::shared_ptr<Transport> transport = entry.transport();
  if (!transport) return CVX_INVALID_HANDLE;
  entry.closing.store(true);
  const auto cut_short = [&] {
    transport->cut_short();
    std::this_thread::sleep_for(kCloseCutInterval);
  };
  std::unique_lock exchange(entry.exchange, std::defer_lock);
  if (wait == CloseWait::ForCalls) {
    while (!exchange.try_lock()) cut_short();
    while (entry.users.load() != 0) cut_short();
  }
  const CVX_STATUS status = transport->close();
  entry.take_transport();
  entry.channel.store(0, std::memory_order_release);
  return status;
}

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

CVX_STATUS read_path(CVX_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* read, Firmware firmware,
                     ReplyLength reply) {
  return path(
      handle, data, read, firmware,
      [&](Transport& t) { return receive_all(t, static_cast<std::uint8_t*>(data), length, read); }, reply);
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
