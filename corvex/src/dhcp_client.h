// The DHCP client's side of address assignment: obtaining an address for a
// flash-writer board from the server on its network, and giving it back.
#pragma once

#include "address_report.h"
#include "corvex.h"
#include "local_network.h"

namespace corvex {

// DISCOVER, OFFER, REQUEST, ACK for the lease's MAC, from local's network:
// the lease gets the board, server and mask addresses.
CVX_STATUS dhcp_exchange(CVX_LEASE& lease, const LocalAddress& local, Report& report);

// Sends the DHCP release for the lease: 16 without a board or server address.
CVX_STATUS release_address(const CVX_LEASE& lease);

}  // namespace corvex
