// Close, interface type, time-outs, queue status and purge of an open handle.
#include <mutex>

#include "guard.h"
#include "io.h"

using namespace corvex;

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_Close(CVX_HANDLE handle) {
  return guarded([&] {
    State& s = state();
    std::lock_guard lock(s.table.lock());
    DeviceEntry* entry = s.table.row(handle);
    // A row already free is refused here rather than handing the driver a null handle.
    if (!entry || entry->chan() == 0) return CVX_INVALID_HANDLE;
    return close_entry(*entry, CloseWait::ForCalls);
  });
}

CVX_EXPORT uint32_t CVX_API CVX_GetIFType(CVX_HANDLE handle) {
  return guarded_value<uint32_t>(0, [&] {
    DeviceEntry* entry = state().table.row(handle);
    return entry ? entry->if_type.load(std::memory_order_relaxed) : 0u;
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_SetTimeouts(CVX_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
  return guarded([&] {
    return with_transport(handle, [&](Transport& t) { return t.set_timeouts(read_ms, write_ms); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_GetQueueStatus(CVX_HANDLE handle, uint32_t* count) {
  return guarded([&] {
    if (!count) return CVX_INVALID_ARGUMENT;
    return with_transport(handle, [&](Transport& t) { return t.waiting(count); });
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_Purge(CVX_HANDLE handle, uint32_t mask) {
  return guarded([&] { return on_channel(handle, [&](Transport& t) { return t.purge(mask); }); });
}

CVX_EXPORT void* CVX_API CVX_GetFTHandle(CVX_HANDLE handle) {
  return guarded_value<void*>(nullptr, [&]() -> void* {
    DeviceEntry* entry = state().table.row(handle);
    if (!entry || !entry->is_usb()) return nullptr;
    return reinterpret_cast<void*>(entry->chan());
  });
}

}  // extern "C"
