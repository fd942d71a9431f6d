// Listing and opening boards of either kind: USB first, then the LAN.
#include <cstring>

#include "guard.h"
#include "lan_devices.h"
#include "state.h"
#include "usb_devices.h"

using namespace corvex;

extern "C" {

CVX_EXPORT CVX_STATUS CVX_API CVX_ListDevicesA(int32_t* count, char* text, int32_t* size, uint32_t flags) {
  return guarded([&] {
    if (!(flags & CVX_IF_USB)) return (flags & CVX_IF_LAN) ? lan_list(count, text, size, flags) : CVX_INVALID_ARGUMENT;
    return usb_list(count, text, size);
  });
}

CVX_EXPORT CVX_STATUS CVX_API CVX_OpenA(CVX_HANDLE* handle, const char* name, uint32_t flags) {
  return guarded([&] {
    if (!handle) return CVX_INVALID_ARGUMENT;
    *handle = 0;
    CVX_STATUS status = CVX_DEVICE_NOT_FOUND;
    if (flags & CVX_IF_USB) status = usb_open(name, flags, handle);
    if (!*handle && (flags & CVX_IF_LAN)) status = lan_open(name, flags, handle);
    return *handle ? CVX_OK : status;
  });
}

CVX_EXPORT CVX_HANDLE CVX_API CVX_Open(const char* name) {
  return guarded_value<CVX_HANDLE>(0, [&] {
    uint32_t flags = CVX_IF_USB;
    if (name && *name)
      flags = std::strchr(name, '.') ? CVX_IF_LAN : CVX_IF_USB;
    else if (state().settings.search_flag)
      flags = CVX_IF_USB | CVX_IF_LAN | CVX_OPEN_DISCOVER;
    CVX_HANDLE handle = 0;
    CVX_OpenA(&handle, name, flags);
    return handle;
  });
}

}  // extern "C"
