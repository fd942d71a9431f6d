// A small DHCP server: one fixed offer for whoever asks, with faults that a
// client has to survive. One UDP socket, one service thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board.h"

namespace kestrel::sim {

struct DhcpFaults {
  bool silent = false;           // never answers
  bool wrong_xid_first = false;  // before each answer, the same answer with the transaction ID changed
  bool no_server_id = false;     // answers without option 54
  bool nak = false;              // a request is answered with a NAK (53 = 6)
  // Answers carry option 15 with a 20-byte domain and option 1 given as 8
  // bytes ahead of the usual options.
  bool long_options = false;
};

struct DhcpConfig {
  std::string bind_address = "0.0.0.0";
  std::uint16_t port = 67;  // 0: any free port
  std::string reply_target = "255.255.255.255";
  std::uint16_t reply_port = 68;
  std::string server_id = "10.77.0.2";
  std::string offer = "10.77.0.50";
  std::string mask = "255.255.255.0";
  std::uint32_t lease_seconds = 3600;
  DhcpFaults faults;
};

// Message types, the values of option 53.
enum DhcpType : std::uint8_t {
  kDhcpDiscover = 1,
  kDhcpOffer = 2,
  kDhcpRequest = 3,
  kDhcpAck = 5,
  kDhcpNak = 6,
  kDhcpRelease = 7,
};

inline constexpr std::size_t kDhcpAnswer = 300;

struct DhcpSeen {
  std::chrono::steady_clock::time_point at;
  std::uint8_t type;  // option 53
  Bytes bytes;
};

class DhcpServer {
 public:
  explicit DhcpServer(DhcpConfig config = {});
  ~DhcpServer();
  DhcpServer(const DhcpServer&) = delete;
  DhcpServer& operator=(const DhcpServer&) = delete;

  // Throws std::system_error when the socket cannot be set up or an address
  // is not dotted IPv4; nothing is left running then.
  void start();
  // Idempotent; the destructor calls it.
  void stop();

  // The bound port, valid after start().
  std::uint16_t port() const { return port_; }
  // Every client message taken (malformed and foreign datagrams are not), in order.
  std::vector<DhcpSeen> seen() const;

 private:
  void run();
  void take(const Bytes& datagram);
  void answer(const Bytes& request, std::uint8_t type);

  const DhcpConfig config_;
  std::array<std::uint8_t, 4> offer_{}, server_id_{}, mask_{}, reply_to_{};
  int socket_ = -1, wake_read_ = -1, wake_write_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex lock_;  // guards seen_
  std::vector<DhcpSeen> seen_;
};

}  // namespace kestrel::sim
