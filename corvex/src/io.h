// The write and read paths every board function goes through.
#pragma once

#include <string>
#include <vector>

#include "device_table.h"
#include "lan_transport.h"
#include "state.h"
#include "transport.h"
#include "usb_transport.h"

namespace corvex {

using Bytes = std::vector<std::uint8_t>;

// Which firmware a caller talks to: monitor calls are refused on a flash-writer handle.
enum class Firmware { Monitor, Writer };

// Runs f(Transport&) on the handle's channel without the exchange lock (for
// calls that do not move bytes); 1 for an invalid or free handle.
template <typename F>
CVX_STATUS with_transport(CVX_HANDLE handle, F&& f) {
  State& s = state();
  DeviceEntry* entry = s.table.row(handle);
  if (!entry || entry->chan() == 0) return CVX_INVALID_HANDLE;
  if (entry->is_usb()) {
    UsbTransport usb(s.driver, reinterpret_cast<FT_HANDLE>(entry->chan()));
    return f(usb);
  }
  if (entry->is_lan()) {
    const std::shared_ptr<LanSocket> link = entry->lan_link();
    if (!link) return CVX_INVALID_HANDLE;
    LanTransport lan(*link, *entry, s.max_send_size());
    return f(lan);
  }
  return CVX_INVALID_HANDLE;
}

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
CVX_STATUS on_channel(CVX_HANDLE handle, F&& f) {
  const ExchangeLock exchange(handle);
  return with_transport(handle, f);
}

// A listing's text: entries joined with zeros, the zeros between them turned
// to spaces, as much as fits in *size bytes; *size becomes the count written,
// or `needed` when it all did not fit (or there is no buffer).
void write_listing(std::string joined, char* text, std::int32_t* size, std::int32_t needed);

// True when the handle names a used row in flash-writer mode.
bool in_writer_mode(CVX_HANDLE handle);

CVX_STATUS write_path(CVX_HANDLE handle, const void* data, std::uint32_t length, std::uint32_t* written,
                      Firmware firmware);
CVX_STATUS read_path(CVX_HANDLE handle, void* data, std::uint32_t length, std::uint32_t* read, Firmware firmware);

// One monitor command: written whole, then reply_length bytes read whole (if any).
CVX_STATUS command(CVX_HANDLE handle, const Bytes& request, std::uint8_t* reply = nullptr,
                   std::uint32_t reply_length = 0);

// A command whose reply is one big-endian number of width bytes (1 to 4).
CVX_STATUS command_number(CVX_HANDLE handle, const Bytes& request, std::uint32_t width, std::uint32_t* value);

}  // namespace corvex
