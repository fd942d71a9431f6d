// A host's end of a simulated LAN board, on plain sockets, and the login
// arithmetic done independently of the board's own.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "lan_board.h"

namespace kestrel::sim::test {

using namespace std::chrono_literals;

class Client {
 public:
  explicit Client(std::uint16_t port);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return fd_ >= 0; }
  void send(const Bytes& bytes);
  // Whatever arrives until count bytes are in, the peer closes or timeout passes.
  Bytes read(std::size_t count, std::chrono::milliseconds timeout = 2000ms);
  // What a single receive returns once data is there (empty on close or time-out).
  Bytes read_once(std::chrono::milliseconds timeout = 2000ms);
  // True when the peer closed the connection (after draining what it sent).
  bool closed(std::chrono::milliseconds timeout = 2000ms);

 private:
  int fd_ = -1;
};

Digest sha256_of(std::string_view text);
std::array<std::uint8_t, 20> sha1_of(const Bytes& challenge, const Digest& digest);
// Sends the request, answers the challenge with `digest`; returns the final 8
// bytes (empty when the exchange broke off).
Bytes log_in(Client& client, const Digest& digest);

Bytes udp_exchange(std::uint16_t port, const Bytes& datagram, std::chrono::milliseconds timeout = 1000ms);

}  // namespace kestrel::sim::test
