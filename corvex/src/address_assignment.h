// Giving a LAN board in its flash writer its address, and connecting to it.
#pragma once

#include "address_report.h"
#include "corvex.h"

namespace corvex {

// Answers the board's address request (after a DHCP exchange when the lease
// has no board address), connects to the board and takes a flash-writer row.
CVX_STATUS flash_open_lan(CVX_HANDLE* handle, CVX_LEASE& lease, Report& report);

}  // namespace corvex
