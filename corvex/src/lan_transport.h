// Boards on the LAN: a TCP connection, its login, and the Transport over it.
#pragma once

#include <cstdint>
#include <memory>

#include "device_table.h"
#include "password.h"
#include "sockets.h"
#include "transport.h"

namespace corvex {

// A connected, non-blocking stream socket, closed when the last user lets go.
class LanSocket {
 public:
  explicit LanSocket(socket_t s) : s_(s) {}
  ~LanSocket();
  LanSocket(const LanSocket&) = delete;
  LanSocket& operator=(const LanSocket&) = delete;

  // Pieces of at most max_piece bytes; the time-out counts from the call.
  CVX_STATUS send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent, std::uint32_t timeout_ms,
                  std::uint32_t max_piece);
  CVX_STATUS receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received, std::uint32_t timeout_ms);
  CVX_STATUS waiting(std::uint32_t* count);
  CVX_STATUS purge(std::uint32_t mask);
  // Ends the connection: a transfer waiting on it returns at once, and so do later ones.
  void shut();

 private:
  socket_t s_;
};

// Takes ownership of a connected socket and makes it non-blocking; null (socket
// closed) when that fails.
std::shared_ptr<LanSocket> adopt_socket(socket_t s);

// Resolves name (IPv4) and connects with TCP_NODELAY: 2 when the name does not
// resolve, 0xFFFF0005 when the socket or the connection fails, or the peer has
// not taken the connection within the open's 5000 ms.
CVX_STATUS lan_connect(const char* name, std::int32_t port, std::shared_ptr<LanSocket>* out);

// The login exchange; 0xFFFF0006 when the board refuses the digest.
CVX_STATUS lan_login(LanSocket& socket, const Digest& digest, std::uint32_t max_piece);

// A LAN row's channel: its time-outs are read as each transfer starts.
class LanTransport final : public Transport {
 public:
  LanTransport(std::shared_ptr<LanSocket> socket, DeviceEntry& entry, std::uint32_t max_piece)
      : socket_(std::move(socket)), entry_(entry), max_piece_(max_piece) {}
  CVX_STATUS send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) override;
  CVX_STATUS receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) override;
  CVX_STATUS waiting(std::uint32_t* count) override { return socket_->waiting(count); }
  CVX_STATUS purge(std::uint32_t mask) override { return socket_->purge(mask); }
  CVX_STATUS set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) override;
  // Shutting the connection makes a waiting transfer return at once.
  void cut_short() override { socket_->shut(); }
  // Ends the connection (the socket itself is closed when the last user lets
  // go) and releases the lease it keeps.
  CVX_STATUS close() override;

  // The DHCP lease of a flash-writer board whose address this library
  // obtained: released at close. Under the table lock.
  void keep_lease(const CVX_LEASE& lease) { lease_ = std::make_unique<CVX_LEASE>(lease); }

 private:
  std::shared_ptr<LanSocket> socket_;
  DeviceEntry& entry_;
  std::uint32_t max_piece_;
  std::unique_ptr<CVX_LEASE> lease_;
};

// Takes a row for a connected socket, with its transport; 0 when the table is full.
CVX_HANDLE take_lan_row(std::shared_ptr<LanSocket> link, std::uint32_t if_type);

}  // namespace corvex
