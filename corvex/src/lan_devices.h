// The LAN side of the calls that list and open boards of either kind.
#pragma once

#include <cstdint>

#include "corvex.h"

namespace corvex {

// The LAN side of an open: connects to name and logs in with the current port
// and password, outside the table lock (a silent board must not stall other
// callers), then takes a row.
// Without a name, the boards of the discovery list are tried in order (after
// a discovery when flags ask for one) and the first that logs in is taken.
CVX_STATUS lan_open(const char* name, std::uint32_t flags, CVX_HANDLE* handle);

// The LAN side of CVX_ListDevicesA: the discovery list's address texts.
CVX_STATUS lan_list(std::int32_t* count, char* text, std::int32_t* size, std::uint32_t flags);

}  // namespace corvex
