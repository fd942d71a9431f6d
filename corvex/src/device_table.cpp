#include "device_table.h"

namespace corvex {

DeviceEntry* DeviceTable::row(CVX_HANDLE handle) {
  const auto base = reinterpret_cast<std::uintptr_t>(rows_.data());
  if (handle < base) return nullptr;
  const std::uintptr_t offset = handle - base;
  // A value inside a row, or the end of the table, is not a row.
  if (offset % sizeof(DeviceEntry) != 0 || offset / sizeof(DeviceEntry) >= kRows) return nullptr;
  return &rows_[offset / sizeof(DeviceEntry)];
}

CVX_HANDLE DeviceTable::take(std::uintptr_t channel, std::uint32_t if_type, const MakeTransport& make) {
  std::lock_guard guard(lock_);
  for (auto& entry : rows_) {
    if (entry.chan() != 0) continue;
    std::shared_ptr<Transport> transport = make ? make(entry) : nullptr;
    entry.if_type.store(if_type, std::memory_order_relaxed);
    entry.read_timeout.store(kDefaultTimeoutMs, std::memory_order_relaxed);
    entry.write_timeout.store(kDefaultTimeoutMs, std::memory_order_relaxed);
    entry.set_transport(std::move(transport));
    entry.closing.store(false);
    entry.unsynced.store(false);
    entry.owed.store(0);
    entry.channel.store(channel, std::memory_order_release);
    return reinterpret_cast<CVX_HANDLE>(&entry);
  }
  return 0;
}

}  // namespace corvex
