// The USB side of the calls that list and open boards of either kind.
#pragma once

#include <cstdint>

#include "corvex.h"

namespace corvex {

// CVX_ListDevicesA over USB: the serial numbers of the boards, 9 bytes each.
CVX_STATUS usb_list(std::int32_t* count, char* text, std::int32_t* size);

// CVX_OpenA over USB: the first board whose serial number is name (any
// without a name), checked as the flags ask; handle stays 0 when none opens.
CVX_STATUS usb_open(const char* name, std::uint32_t flags, CVX_HANDLE* handle);

}  // namespace corvex
