#include "address_packets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace corvex::dhcp {
namespace {

constexpr std::size_t kOperation = 0;
constexpr std::size_t kTransaction = 4;
constexpr std::size_t kClientAddress = 12;
constexpr std::size_t kOffered = 16;
constexpr std::size_t kHardware = 28;
constexpr std::size_t kServerField = 44;
constexpr std::size_t kServerFieldSize = 64;
constexpr std::size_t kCookie = 236;
constexpr std::size_t kOptions = 240;
constexpr std::uint8_t kMagic[4] = {99, 130, 83, 99};

enum Option : std::uint8_t {
  kPad = 0,
  kMask = 1,
  kRouter = 3,
  kAskedAddress = 50,
  kType = 53,
  kServer = 54,
  kParameters = 55,
  kClientId = 61,
  kEnd = 255,
};
enum Type : std::uint8_t { kDiscover = 1, kOffer = 2, kRequestType = 3, kAck = 5, kRelease = 7 };

constexpr std::uint32_t kDefaultMask = 0x00FFFFFF;  // 255.255.255.0 in network order

template <std::size_t N>
void put_address(std::array<std::uint8_t, N>& p, std::size_t at, std::uint32_t address) {
  std::memcpy(p.data() + at, &address, 4);
}

std::uint32_t get_address(const std::uint8_t* p) {
  std::uint32_t a = 0;
  std::memcpy(&a, p, 4);
  return a;
}

// The tick count as the board's own firmware would store it: low byte first.
void put_transaction(Packet& p, std::uint32_t xid) {
  for (int i = 0; i < 4; ++i) p[kTransaction + i] = static_cast<std::uint8_t>(xid >> (8 * i));
}

// The fixed head of every client packet, up to the message type.
Packet client_packet(std::uint32_t xid, std::uint8_t type, const std::uint8_t (&mac)[6]) {
  Packet p{};
  p[0] = 1;
  p[1] = 1;
  p[2] = 6;
  put_transaction(p, xid);
  std::memcpy(p.data() + kHardware, mac, 6);
  std::memcpy(p.data() + kCookie, kMagic, 4);
  p[kOptions] = kType;
  p[kOptions + 1] = 1;
  p[kOptions + 2] = type;
  return p;
}

// Option 61 (hardware type 1 and the MAC) at `at`; the index after it.
std::size_t put_client_id(Packet& p, std::size_t at, const std::uint8_t (&mac)[6]) {
  p[at] = kClientId;
  p[at + 1] = 7;
  p[at + 2] = 1;
  std::memcpy(p.data() + at + 3, mac, 6);
  return at + 9;
}

}  // namespace

Asked classify(const Request& request) {
  if (request[kOperation] != 1) return Asked::nothing;
  const auto* name = reinterpret_cast<const char*>(request.data() + kServerField);
  const std::size_t length = strnlen(name, kServerFieldSize);
  return std::string_view(name, length) == kServerName ? Asked::us : Asked::other_server;
}

Request answer(const Request& request, const CVX_LEASE& lease) {
  Request a = request;
  a[kOperation] = 2;
  put_address(a, kOffered, lease.board);
  std::memcpy(a.data() + kCookie, kMagic, 4);
  const std::uint8_t options[] = {kType, 1, kOffer, kMask, 4, 0, 0, 0, 0, kRouter, 4, 0, 0, 0, 0};
  std::memcpy(a.data() + kOptions, options, sizeof options);
  put_address(a, kOptions + 5, lease.mask);
  put_address(a, kOptions + 11, lease.board);
  a[kRequestSize - 1] = kEnd;
  return a;
}

Packet discover(std::uint32_t xid, const std::uint8_t (&mac)[6]) {
  Packet p = client_packet(xid, kDiscover, mac);
  p[10] = 0x80;  // answers come back as broadcasts: the board has no address yet
  p[put_client_id(p, kOptions + 3, mac)] = kEnd;
  return p;
}

void to_request(Packet& p, std::uint32_t offered, std::uint32_t server) {
  p[kOptions + 2] = kRequestType;
  std::size_t at = kOptions + 3 + 9;  // past the client identifier
  p[at++] = kAskedAddress;
  p[at++] = 4;
  put_address(p, at, offered);
  at += 4;
  p[at++] = kServer;
  p[at++] = 4;
  put_address(p, at, server);
  at += 4;
  p[at++] = kParameters;
  p[at++] = 1;
  p[at++] = kMask;
  p[at] = kEnd;
}

Packet release(std::uint32_t xid, const CVX_LEASE& lease) {
  Packet p = client_packet(xid, kRelease, lease.mac);
  put_address(p, kClientAddress, lease.board);
  std::size_t at = put_client_id(p, kOptions + 3, lease.mac);
  p[at++] = kServer;
  p[at++] = 4;
  put_address(p, at, lease.server);
  p[at + 4] = kEnd;
  return p;
}

bool is_reply(const std::uint8_t* data, std::size_t length) { return length > kOperation && data[kOperation] == 2; }

bool same_transaction(const std::uint8_t* data, std::size_t length, std::uint32_t xid) {
  if (length < kTransaction + 4) return false;
  Packet p{};
  put_transaction(p, xid);
  return std::memcmp(data + kTransaction, p.data() + kTransaction, 4) == 0;
}

Options read_options(const std::uint8_t* data, std::size_t length) {
  Options o;
  std::size_t at = kOptions;
  while (at < length) {
    const std::uint8_t code = data[at];
    if (code == kPad) {
      ++at;
      continue;
    }
    if (code == kEnd || at + 1 >= length) break;
    const std::size_t size = data[at + 1];
    if (size == 0) break;
    const std::size_t start = at + 2;
    // A value running past the datagram is taken as far as it goes.
    const std::size_t have = std::min(size, length - start);
    // Values longer than four bytes are cut, never copied whole.
    std::uint8_t value[4] = {};
    std::memcpy(value, data + start, std::min<std::size_t>(have, 4));
    if (code == kType)
      o.type = value[0];
    else if (code == kServer) {
      o.has_server = true;
      o.server = get_address(value);
    } else if (code == kMask) {
      o.has_mask = true;
      o.mask = get_address(value);
    }
    at = start + size;
  }
  return o;
}

CVX_STATUS take_offer(const std::uint8_t* data, std::size_t length, CVX_LEASE& lease) {
  lease.board = 0;
  lease.server = 0;
  lease.mask = kDefaultMask;
  const Options o = read_options(data, length);
  if (o.type != kOffer || !o.has_server || length < kOffered + 4) return CVX_FAILED;
  lease.server = o.server;
  lease.board = get_address(data + kOffered);
  return CVX_OK;
}

CVX_STATUS take_ack(const std::uint8_t* data, std::size_t length, CVX_LEASE& lease) {
  const Options o = read_options(data, length);
  if (o.type != kAck) return CVX_FAILED;
  if (o.has_mask) lease.mask = o.mask;
  return CVX_OK;
}

std::string dump(const Packet& packet) {
  std::string out;
  out.reserve(packet.size() * 3 + packet.size() / 16 + 4);
  char byte[4];
  for (std::size_t i = 0; i < packet.size(); ++i) {
    if (i % 16 == 0) out += '\n';
    std::snprintf(byte, sizeof byte, "%02X ", packet[i]);
    out += byte;
  }
  out += "\n\n";
  return out;
}

std::string dotted(std::uint32_t address) {
  std::uint8_t b[4];
  std::memcpy(b, &address, 4);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

}  // namespace corvex::dhcp
