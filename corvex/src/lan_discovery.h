// Finding LAN boards: a broadcast request and the answers of one window.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "corvex.h"
#include "lan_transport.h"

namespace corvex {

// The answer as received (header and 128-byte product record; the header
// alone when the answer was shorter), then the sender's dotted address text.
inline constexpr std::size_t kDiscoveryHeader = 8;
inline constexpr std::size_t kDiscoveryAnswer = kDiscoveryHeader + 128;
inline constexpr std::size_t kAddressText = 16;
inline constexpr std::size_t kDiscoveryEntry = kDiscoveryAnswer + kAddressText;
inline constexpr std::size_t kDiscoveryEntries = 256;

using DiscoveryEntry = std::array<std::uint8_t, kDiscoveryEntry>;
// Ends at the first entry whose first byte is 0.
using DiscoveryList = std::array<DiscoveryEntry, kDiscoveryEntries>;

// Broadcasts the request on port and collects answers for 1500 ms into list.
// 0xFFFF0005 when a socket call fails or no request could be sent. The
// caller holds the table lock.
CVX_STATUS lan_discover(DiscoveryList& list, std::int32_t port);

// Keeps a datagram in entry when it is a board's answer; sender is the
// dotted address it came from.
bool store_answer(DiscoveryEntry& entry, const std::uint8_t* datagram, std::size_t length, const char* sender);

// True when one of the first `stored` entries came from sender: a board that
// answers again (or a host that answers many times) is listed once.
bool listed(const DiscoveryList& list, std::size_t stored, const char* sender);

std::size_t discovered(const DiscoveryList& list);
std::string discovered_address(const DiscoveryEntry& entry);

}  // namespace corvex
