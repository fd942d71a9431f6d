// The baseline of the LAN benchmarks: a plain blocking TCP connection to a
// simulated LAN board, logged in by hand, that moves bytes the way the library
// cuts them and nothing more.
#pragma once

#include <arpa/inet.h>
#include <nettle/sha1.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "corvex.h"
#include "lan_board.h"
#include "settings.h"

namespace bench {

// The largest piece the library hands to one socket send: its settings file
// read with its own reader, so an installed Corvex.ini changes both sides alike.
inline std::uint32_t library_piece_size() {
  return static_cast<std::uint32_t>(std::max(corvex::load_settings().max_data_size, 1));
}

// One simulated board on 127.0.0.1 that the library and the plain socket both
// reach, with the library set to its port and password.
struct SimulatedLanBoard {
  SimulatedLanBoard() : server({kestrel::sim::LanBoardConfig{}}) {
    server.start();
    port = server.tcp_port(0);
    const std::string password = kestrel::sim::default_lan_password();
    digest = kestrel::sim::password_digest(password);
    // Set, not assumed: a Corvex.ini may name another default password or port.
    CVX_SetPassword(password.c_str());
    CVX_SetNetworkPort(port);
    piece = library_piece_size();
  }
  kestrel::sim::LanServer server;
  std::uint16_t port = 0;
  kestrel::sim::Digest digest{};
  std::uint32_t piece = 0;
};

class RawLanLink {
 public:
  RawLanLink(std::uint16_t port, const kestrel::sim::Digest& digest) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return;
    const int one = 1;
    // A stream that goes out of step must fail the run, not hang it.
    const timeval limit{5, 0};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || !log_in(digest)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawLanLink() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawLanLink(const RawLanLink&) = delete;
  RawLanLink& operator=(const RawLanLink&) = delete;

  bool ok() const { return fd_ >= 0; }

  // One send per piece of at most `piece` bytes, as the library does.
  bool send(const std::uint8_t* data, std::size_t length, std::size_t piece) {
    for (std::size_t at = 0; at < length;) {
      const ssize_t n = ::send(fd_, data + at, std::min(piece, length - at), MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool receive(std::uint8_t* data, std::size_t length) {
    for (std::size_t at = 0; at < length;) {
      const ssize_t n = ::recv(fd_, data + at, length - at, 0);
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  bool log_in(const kestrel::sim::Digest& digest) {
    using namespace kestrel::sim;
    const std::uint8_t request[kLanHeader] = {'N', 'C', 'V', 'X', kLoginRequest, 0, 0, 0};
    std::uint8_t packet[kChallengePacket];
    if (!send(request, sizeof request, sizeof request) || !receive(packet, sizeof packet)) return false;
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, kChallengePacket - kLanHeader, packet + kLanHeader);
    sha1_update(&ctx, digest.size(), digest.data());
    sha1_digest(&ctx, kChallengePacket - kLanHeader, packet + kLanHeader);
    packet[4] = kLoginResponse;
    std::uint8_t verdict[kLanHeader];
    if (!send(packet, sizeof packet, sizeof packet) || !receive(verdict, sizeof verdict)) return false;
    return verdict[4] == kLoginAccepted;
  }

  int fd_ = -1;
};

}  // namespace bench
