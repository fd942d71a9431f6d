// A UDP socket for the broadcast exchanges (discovery, address assignment),
// closed with the object.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "sockets.h"

namespace corvex {

inline constexpr std::uint32_t kEveryone = 0xFFFFFFFF;  // the limited broadcast

class UdpSocket {
 public:
  UdpSocket() = default;
  UdpSocket(UdpSocket&& o) noexcept : s_(std::exchange(o.s_, kNoSocket)) {}
  UdpSocket& operator=(UdpSocket&&) = delete;
  ~UdpSocket() {
    if (s_ != kNoSocket) close_socket(s_);
  }

  bool open() { return (s_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) != kNoSocket; }
  socket_t get() const { return s_; }

  bool broadcast() { return set(SO_BROADCAST); }
  bool reuse_address() { return set(SO_REUSEADDR); }
  // Binds to the wildcard address.
  bool bind_any(std::uint16_t port) {
    const sockaddr_in a = ipv4_address(htonl(INADDR_ANY), port);
    return ::bind(s_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  }

  long send_to(const std::uint8_t* data, std::size_t length, std::uint32_t address, std::uint16_t port) {
    const sockaddr_in to = ipv4_address(address, port);
    return ::sendto(s_, reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  // A datagram longer than the buffer is cut to it, which is no failure.
  long receive(std::uint8_t* data, std::size_t length) { return receive_datagram(s_, data, length); }

 private:
  bool set(int option) {
    const int one = 1;
    return ::setsockopt(s_, SOL_SOCKET, option, reinterpret_cast<const char*>(&one), sizeof one) == 0;
  }

  socket_t s_ = kNoSocket;
};

// What is left until deadline, in the whole milliseconds a poll takes; never negative.
inline int ms_left(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

}  // namespace corvex
