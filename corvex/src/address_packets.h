// The packets of address assignment: the flash-writer board's request and our
// answer to it, and the DHCP client's side of an exchange. Pure: no sockets.
// Addresses are kept as their four bytes in network order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "corvex.h"

namespace corvex::dhcp {

// The ports of the exchange: the server's (where the board asks) and the client's.
inline constexpr std::uint16_t kServerPort = 67;
inline constexpr std::uint16_t kClientPort = 68;

// The board's request is read into this many bytes; longer ones are cut.
inline constexpr std::size_t kRequestSize = 256;
// What the DHCP client sends, and at most what it reads.
inline constexpr std::size_t kPacketSize = 548;
// The server the board asks for by name.
inline constexpr char kServerName[] = "Quillmarsh";

using Request = std::array<std::uint8_t, kRequestSize>;
using Packet = std::array<std::uint8_t, kPacketSize>;

enum class Asked {
  nothing,       // not a request: ignored without a word
  other_server,  // a request for a server of another name
  us,
};
// request holds the datagram, zero-filled past what arrived.
Asked classify(const Request& request);

// The request turned into the answer that gives the board the lease's address.
Request answer(const Request& request, const CVX_LEASE& lease);

Packet discover(std::uint32_t xid, const std::uint8_t (&mac)[6]);
// Turns a DISCOVER into the REQUEST for the offered address.
void to_request(Packet& packet, std::uint32_t offered, std::uint32_t server);
Packet release(std::uint32_t xid, const CVX_LEASE& lease);

// A server's reply to the transaction: operation 2 and the same ID.
bool is_reply(const std::uint8_t* data, std::size_t length);
bool same_transaction(const std::uint8_t* data, std::size_t length, std::uint32_t xid);

// The options the client reads; values longer than the field are cut.
struct Options {
  int type = -1;  // option 53, -1 when absent
  bool has_server = false;
  std::uint32_t server = 0;
  bool has_mask = false;
  std::uint32_t mask = 0;
};
// From byte 240; never reads past length.
Options read_options(const std::uint8_t* data, std::size_t length);

// An OFFER sets the lease's board and server addresses (and the 255.255.255.0
// mask); CVX_FAILED when it is not an offer naming its server. The lease's
// addresses are cleared either way.
CVX_STATUS take_offer(const std::uint8_t* data, std::size_t length, CVX_LEASE& lease);
// An ACK sets the lease's mask when it gives one; CVX_FAILED when it is no ACK.
CVX_STATUS take_ack(const std::uint8_t* data, std::size_t length, CVX_LEASE& lease);

// The report's hexadecimal form of a packet: sixteen bytes to a line.
std::string dump(const Packet& packet);
std::string dotted(std::uint32_t address);

}  // namespace corvex::dhcp
