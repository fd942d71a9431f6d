// The write and read paths every board function goes through.
#pragma once

#include <string>
#include <vector>

#include "device_table.h"
#include "state.h"
#include "transport.h"

namespace corvex {

using Bytes = std::vector<std::uint8_t>;

// Which firmware a caller talks to: monitor calls are refused on a flash-writer handle.
enum class Firmware { Monitor, Writer };

// Counts a call on a row for as long as it uses the row's channel; false when
// the row is free or being closed.
class RowInUse {
 public:
  explicit RowInUse(DeviceEntry& entry) : entry_(entry) {
    entry_.users.fetch_add(1);
    usable_ = !entry_.closing.load() && entry_.chan() != 0;
  }
  ~RowInUse() { entry_.users.fetch_sub(1); }
  RowInUse(const RowInUse&) = delete;
  RowInUse& operator=(const RowInUse&) = delete;
  explicit operator bool() const { return usable_; }

 private:
  DeviceEntry& entry_;
  bool usable_ = false;
};

// Runs f(DeviceEntry&, Transport&) on the row's own transport without the
// exchange lock; 1 for an invalid, free or closing handle.
template <typename F>
CVX_STATUS with_entry(CVX_HANDLE handle, F&& f) {
  DeviceEntry* entry = state().table.row(handle);
  if (!entry) return CVX_INVALID_HANDLE;
  const RowInUse use(*entry);
  if (!use) return CVX_INVALID_HANDLE;
  const std::shared_ptr<Transport> transport = entry->transport();
  if (!transport) return CVX_INVALID_HANDLE;
  return f(*entry, *transport);
}

// As with_entry, for calls that do not move bytes.
template <typename F>
CVX_STATUS with_transport(CVX_HANDLE handle, F&& f) {
  return with_entry(handle, [&](DeviceEntry&, Transport& t) { return f(t); });
}

// What a failed read leaves owed: a command's reply has the length the board
// sends; a raw read asks for what the caller chose, which the board may never send.
enum class ReplyLength { Known, Asked };

// A row's transport within one exchange. A request first drops what an earlier
// failed exchange left on the receive side (and waits, within the read
// time-out counted from that failure, for the rest of a reply still on its
// way); a transfer that fails or comes short marks the row for that.
class Exchanging final : public Transport {
 public:
  Exchanging(Transport& inner, DeviceEntry& entry, ReplyLength length)
      : inner_(inner), entry_(entry), length_(length) {}
  CVX_STATUS send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) override;
  CVX_STATUS receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) override;
  CVX_STATUS waiting(std::uint32_t* count) override { return inner_.waiting(count); }
  CVX_STATUS purge(std::uint32_t mask) override { return inner_.purge(mask); }
  CVX_STATUS set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) override {
    return inner_.set_timeouts(read_ms, write_ms);
  }
  void cut_short() override { inner_.cut_short(); }
  CVX_STATUS close() override { return inner_.close(); }

 private:
  CVX_STATUS resynchronise();
  void failed(std::uint32_t owed);

  Transport& inner_;
  DeviceEntry& entry_;
  ReplyLength length_;
};

// Holds a row's exchange lock (nothing for a value that is not a row).
class ExchangeLock {
 public:
  explicit ExchangeLock(CVX_HANDLE handle) : entry_(state().table.row(handle)) {
    if (entry_) entry_->exchange.lock();
  }
  ~ExchangeLock() {
    if (entry_) entry_->exchange.unlock();
  }
  ExchangeLock(const ExchangeLock&) = delete;
  ExchangeLock& operator=(const ExchangeLock&) = delete;

 private:
  DeviceEntry* entry_;
};

// Runs f(Transport&) on the handle's channel as one exchange.
template <typename F>
CVX_STATUS on_channel(CVX_HANDLE handle, F&& f, ReplyLength length = ReplyLength::Known) {
  const ExchangeLock exchange(handle);
  return with_entry(handle, [&](DeviceEntry& entry, Transport& t) {
    Exchanging exchanging(t, entry, length);
    return f(static_cast<Transport&>(exchanging));
  });
}

// Whether a close waits for the calls running on the row. At unload it does
// not: a thread the process has already ended may still count as a user.
enum class CloseWait { ForCalls, No };

// Frees a used row, the one way every row is closed: new calls are turned
// away, running ones are cut short and (unless unloading) waited for, then the
// row's transport closes its channel; its status, or 1 for a row without one.
// The caller holds the table lock (except at unload).
CVX_STATUS close_entry(DeviceEntry& entry, CloseWait wait);

// A listing's text: entries joined with zeros, the zeros between them turned
// to spaces, as much as fits in *size bytes; *size becomes the count written,
// or `needed` when it all did not fit (or there is no buffer).
void write_listing(std::string joined, char* text, std::int32_t* size, std::int32_t needed);

// True when the handle names a used row in flash-writer mode.
bool in_writer_mode(CVX_HANDLE handle);

CVX_STATUS write_path(CVX_HANDLE handle, const void* data, std::uint32_t length, std::uint32_t* written,
                      Firmware firmware);
CVX_STATUS read_path(CVX_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* read, Firmware firmware,
                     ReplyLength reply = ReplyLength::Known);

// One monitor command: written whole, then reply_length bytes read whole (if any).
CVX_STATUS command(CVX_HANDLE handle, const Bytes& request, std::uint8_t* reply = nullptr,
                   std::uint32_t reply_length = 0);

// A command whose reply is one big-endian number of width bytes (1 to 4).
CVX_STATUS command_number(CVX_HANDLE handle, const Bytes& request, std::uint32_t width, std::uint32_t* value);

}  // namespace corvex
