// The table of open devices. A handle is the address of its row.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "corvex.h"

namespace corvex {

class LanSocket;

constexpr std::uint32_t kDefaultTimeoutMs = 5000;

struct DeviceEntry {
  // Transfers read these without the table lock while other rows change.
  std::atomic<std::uint32_t> if_type{0};
  std::atomic<std::uintptr_t> channel{0};  // 0: the row is free
  std::atomic<std::uint32_t> read_timeout{0};
  std::atomic<std::uint32_t> write_timeout{0};
  // The DHCP lease of a flash-writer board whose address this library obtained:
  // released at close. Under the table lock.
  std::unique_ptr<CVX_LEASE> lease;
  // Held for one exchange, a request and its reply, so that two threads on one
  // handle cannot interleave theirs. A LAN close does not take it (shutting the
  // socket ends a waiting transfer); a USB close takes it after cutting the
  // running read short, so the driver handle is never closed under a call.
  std::recursive_mutex exchange;
  // Transports in use on this row, exchanges or not; a USB close waits for none.
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

  // A LAN row's connection. A transfer keeps its own reference, so a close from
  // another thread never frees a socket that is still being waited on.
  std::shared_ptr<LanSocket> lan_link() {
    std::lock_guard guard(link_lock_);
    return link_;
  }
  std::shared_ptr<LanSocket> take_lan_link() {
    std::lock_guard guard(link_lock_);
    return std::move(link_);
  }
  void set_lan_link(std::shared_ptr<LanSocket> link) {
    std::lock_guard guard(link_lock_);
    link_ = std::move(link);
  }

 private:
  std::mutex link_lock_;
  std::shared_ptr<LanSocket> link_;
};

class DeviceTable {
 public:
  static constexpr std::size_t kRows = 256;

  // Opens, lists and closes hold this across their whole work.
  std::recursive_mutex& lock() { return lock_; }

  // The row a handle names, or null: only exact row addresses are handles.
  DeviceEntry* row(CVX_HANDLE handle);

  // Takes the first free row; returns 0 when every row is in use.
  CVX_HANDLE take(std::uintptr_t channel, std::uint32_t if_type, std::shared_ptr<LanSocket> link = nullptr);

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
