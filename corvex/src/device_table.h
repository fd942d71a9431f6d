// The table of open devices. A handle is the address of its row.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "corvex.h"

namespace corvex {

constexpr std::uint32_t kDefaultTimeoutMs = 5000;

struct DeviceEntry {
  // Transfers read these without the table lock while other rows change.
  std::atomic<std::uint32_t> if_type{0};
  std::atomic<std::uintptr_t> channel{0};  // 0: the row is free
  std::atomic<std::uint32_t> read_timeout{0};
  std::atomic<std::uint32_t> write_timeout{0};
  void* lease = nullptr;

  bool is_usb() const { return (if_type.load(std::memory_order_relaxed) & CVX_IF_USB) != 0; }
  bool is_writer() const { return (if_type.load(std::memory_order_relaxed) & CVX_IF_FLASH_WRITER) != 0; }
  std::uintptr_t chan() const { return channel.load(std::memory_order_relaxed); }
};

class DeviceTable {
 public:
  static constexpr std::size_t kRows = 256;

  // Opens, lists and closes hold this across their whole work.
  std::recursive_mutex& lock() { return lock_; }

  // The row a handle names, or null: only exact row addresses are handles.
  DeviceEntry* row(CVX_HANDLE handle);

  // Takes the first free row; returns 0 when every row is in use.
  CVX_HANDLE take(std::uintptr_t channel, std::uint32_t if_type);

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
