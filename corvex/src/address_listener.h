// The listener's side of address assignment: answering a flash-writer
// board's request for its address.
#pragma once

#include "address_report.h"
#include "corvex.h"

namespace corvex {

// Listens on port 67 of each local address (of the lease's subnet when it
// names a board) for the board's request and answers it with the lease's
// address, after a DHCP exchange when the lease has no board address yet.
CVX_STATUS assign_address(CVX_LEASE& lease, Report& report);

}  // namespace corvex
