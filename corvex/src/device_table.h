// The table of open devices. A handle is the address of its row.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "corvex.h"
#include "transport.h"

namespace corvex {

constexpr std::uint32_t kDefaultTimeoutMs = 5000;

struct DeviceEntry {
  // Transfers read these without the table lock while other rows change.
  std::atomic<std::uint32_t> if_type{0};
  std::atomic<std::uintptr_t> channel{0};  // 0: the row is free
  std::atomic<std::uint32_t> read_timeout{0};
  std::atomic<std::uint32_t> write_timeout{0};
  // Held for one exchange, a request and its reply, so that two threads on one
  // handle cannot interleave theirs. A close takes it after cutting the running
  // transfer short, so a channel is never closed under a call.
  std::recursive_mutex exchange;
  // Calls using this row's transport, exchanges or not; a close waits for none.
  std::atomic<std::uint32_t> users{0};
  // A close is under way: no new call reaches the channel.
  std::atomic<bool> closing{false};

  // Set by a transfer that failed or came short: what the board sent, or still
  // sends, for that exchange is dropped before the next request goes out, so no
  // call takes an earlier command's reply for its own.
  std::atomic<bool> unsynced{false};
  // Reply bytes the board may still send for the failed exchange.
  std::atomic<std::uint32_t> owed{0};
  // When it failed, in steady-clock milliseconds.
  std::atomic<std::int64_t> failed_at_ms{0};

  bool is_usb() const { return (if_type.load(std::memory_order_relaxed) & CVX_IF_USB) != 0; }
  bool is_lan() const { return (if_type.load(std::memory_order_relaxed) & CVX_IF_LAN) != 0; }
  bool is_writer() const { return (if_type.load(std::memory_order_relaxed) & CVX_IF_FLASH_WRITER) != 0; }
  std::uintptr_t chan() const { return channel.load(std::memory_order_relaxed); }

  // The row's channel, made at open. A call keeps its own reference, so a close
  // from another thread never frees a transport that is still in use.
  std::shared_ptr<Transport> transport() {
    std::lock_guard guard(transport_lock_);
    return transport_;
  }
  std::shared_ptr<Transport> take_transport() {
    std::lock_guard guard(transport_lock_);
    return std::move(transport_);
  }
  void set_transport(std::shared_ptr<Transport> transport) {
    std::lock_guard guard(transport_lock_);
    transport_ = std::move(transport);
  }

 private:
  std::mutex transport_lock_;
  std::shared_ptr<Transport> transport_;
};

// Makes a row's transport once the row is chosen (the transport keeps the
// row's time-outs there).
using MakeTransport = std::function<std::shared_ptr<Transport>(DeviceEntry&)>;

class DeviceTable {
 public:
  static constexpr std::size_t kRows = 256;

  // Opens, lists and closes hold this across their whole work.
  std::recursive_mutex& lock() { return lock_; }

  // The row a handle names, or null: only exact row addresses are handles.
  DeviceEntry* row(CVX_HANDLE handle);

  // Takes the first free row; returns 0 when every row is in use.
  CVX_HANDLE take(std::uintptr_t channel, std::uint32_t if_type, const MakeTransport& make = {});

  template <typename F>
  void for_each_open(F&& f) {
    for (auto& entry : rows_)
      if (entry.chan() != 0) f(entry);
  }

 private:
  std::recursive_mutex lock_;
  std::array<DeviceEntry, kRows> rows_{};
};

}  // namespace corvex
