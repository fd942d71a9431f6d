#include "lan_transport.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>

#include "dhcp_client.h"
#include "sockets.h"
#include "state.h"

namespace corvex {
namespace {

using Clock = std::chrono::steady_clock;

// Bounds each step of an open: the connect and every login transfer.
constexpr std::uint32_t kOpenTimeoutMs = 5000;
constexpr std::size_t kHeader = 8;
constexpr std::uint8_t kLoginRequest = 3;
constexpr std::uint8_t kLoginResponse = 5;
constexpr std::uint8_t kLoginAccepted = 6;
constexpr std::uint32_t kPurgePiece = 1024;

Clock::time_point deadline_after(std::uint32_t ms) { return Clock::now() + std::chrono::milliseconds(ms); }

// Connects a non-blocking socket, waiting at most timeout_ms for the peer.
bool connect_within(socket_t s, const sockaddr* to, std::size_t to_length, std::uint32_t timeout_ms) {
  if (::connect(s, to, static_cast<address_length_t>(to_length)) == 0) return true;
  if (!connect_pending()) return false;
  const auto deadline = deadline_after(timeout_ms);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int ready = wait_connected(s, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (ready > 0) break;
    if (ready < 0 && !interrupted()) return false;
  }
  int error = 0;
  address_length_t length = sizeof error;
  return ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

// Waits until the socket is ready or the deadline passes.
CVX_STATUS wait_for(socket_t s, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return CVX_TIMEOUT;
    const int ready = poll_one(s, events, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (ready > 0) return CVX_OK;  // an error or hang-up shows in the call that follows
    if (ready < 0 && !interrupted()) return CVX_SOCKET_ERROR;
  }
}

// Whole-length transfer: a short count is a time-out.
CVX_STATUS whole(CVX_STATUS status, std::uint32_t moved, std::uint32_t length) {
  if (status != CVX_OK) return status;
  return moved < length ? CVX_TIMEOUT : CVX_OK;
}

}  // namespace

LanSocket::~LanSocket() { close_socket(s_); }

void LanSocket::shut() { shut_down(s_); }

CVX_STATUS LanSocket::send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent,
                           std::uint32_t timeout_ms, std::uint32_t max_piece) {
  *sent = 0;
  const auto deadline = deadline_after(timeout_ms);
  max_piece = std::max<std::uint32_t>(max_piece, 1);
  while (*sent < length) {
    const long n = send_some(s_, data + *sent, std::min(length - *sent, max_piece));
    if (n > 0) {
      *sent += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && interrupted()) continue;
    if (n < 0 && !would_block()) return CVX_SOCKET_ERROR;
    if (CVX_STATUS s = wait_for(s_, kWritable, deadline); s != CVX_OK) return s;
  }
  return CVX_OK;
}

CVX_STATUS LanSocket::receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received,
                              std::uint32_t timeout_ms) {
  *received = 0;
  const auto deadline = deadline_after(timeout_ms);
  // A reply is seldom there the moment its request has gone: waiting first
  // spares a receive that would fail. What the wait says is left to the receive.
  if (length > 0) poll_one(s_, kReadable, static_cast<int>(std::min<std::uint32_t>(timeout_ms, INT_MAX)));
  while (*received < length) {
    const long n = receive_some(s_, data + *received, length - *received);
    if (n > 0) {
      *received += static_cast<std::uint32_t>(n);
      continue;
    }
    // The board closed the connection: nothing more will come, so do not wait for it.
    if (n == 0) return CVX_SOCKET_ERROR;
    if (interrupted()) continue;
    if (!would_block()) return CVX_SOCKET_ERROR;
    if (CVX_STATUS s = wait_for(s_, kReadable, deadline); s != CVX_OK) return s;
  }
  return CVX_OK;
}

CVX_STATUS LanSocket::waiting(std::uint32_t* count) {
  if (bytes_waiting(s_, count)) return CVX_OK;
  *count = 0;
  return CVX_SOCKET_ERROR;
}

CVX_STATUS LanSocket::purge(std::uint32_t mask) {
  if (!(mask & CVX_PURGE_RX)) return CVX_OK;
  std::uint8_t sink[kPurgePiece];
  for (;;) {
    std::uint32_t count = 0;
    if (!bytes_waiting(s_, &count)) return CVX_SOCKET_ERROR;
    if (count == 0) return CVX_OK;
    const long n = receive_some(s_, sink, std::min(count, kPurgePiece));
    if (n < 0 && !interrupted() && !would_block()) return CVX_SOCKET_ERROR;
    if (n == 0) return CVX_OK;
  }
}

std::shared_ptr<LanSocket> adopt_socket(socket_t s) {
  if (!set_non_blocking(s)) {
    close_socket(s);
    return nullptr;
  }
  return std::make_shared<LanSocket>(s);
}

CVX_STATUS lan_connect(const char* name, std::int32_t port, std::shared_ptr<LanSocket>* out) {
  out->reset();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, std::to_string(port).c_str(), &hints, &found) != 0 || !found) return CVX_DEVICE_NOT_FOUND;
  // decltype keeps the calling convention: freeaddrinfo is stdcall on Windows.
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> hold(found, ::freeaddrinfo);
  const socket_t s = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (s == kNoSocket) return CVX_SOCKET_ERROR;
  int one = 1;
  bool ready = ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one) == 0;
#ifdef SO_NOSIGPIPE
  ready = ready && ::setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one) == 0;
#endif
  // The system's own connect time-out runs to minutes against a peer that
  // drops our SYNs (a full accept queue): the open's time-out bounds it.
  if (!ready || !set_non_blocking(s) || !connect_within(s, found->ai_addr, found->ai_addrlen, kOpenTimeoutMs)) {
    close_socket(s);
    return CVX_SOCKET_ERROR;
  }
  *out = adopt_socket(s);
  return *out ? CVX_OK : CVX_SOCKET_ERROR;
}

CVX_STATUS lan_login(LanSocket& socket, const Digest& digest, std::uint32_t max_piece) {
  std::uint32_t moved = 0;
  const std::uint8_t request[kHeader] = {'N', 'C', 'V', 'X', kLoginRequest, 0, 0, 0};
  CVX_STATUS s = socket.send(request, kHeader, &moved, kOpenTimeoutMs, max_piece);
  if (s = whole(s, moved, kHeader); s != CVX_OK) return s;

  // The challenge's header is taken as it comes; the board checks the copy it gets back.
  std::uint8_t packet[kHeader + Challenge{}.size()];
  s = socket.receive(packet, sizeof packet, &moved, kOpenTimeoutMs);
  if (s = whole(s, moved, sizeof packet); s != CVX_OK) return s;
  Challenge challenge{};
  std::memcpy(challenge.data(), packet + kHeader, challenge.size());
  const LoginAnswer answer = login_answer(challenge, digest);
  packet[4] = kLoginResponse;
  std::memcpy(packet + kHeader, answer.data(), answer.size());
  s = socket.send(packet, sizeof packet, &moved, kOpenTimeoutMs, max_piece);
  if (s = whole(s, moved, sizeof packet); s != CVX_OK) return s;

  std::uint8_t verdict[kHeader] = {};
  s = socket.receive(verdict, kHeader, &moved, kOpenTimeoutMs);
  if (s = whole(s, moved, kHeader); s != CVX_OK) return s;
  return verdict[4] == kLoginAccepted ? CVX_OK : CVX_PASSWORD_REFUSED;
}

CVX_STATUS LanTransport::send(const std::uint8_t* data, std::uint32_t length, std::uint32_t* sent) {
  return socket_->send(data, length, sent, entry_.write_timeout.load(std::memory_order_relaxed), max_piece_);
}

CVX_STATUS LanTransport::receive(std::uint8_t* data, std::uint32_t length, std::uint32_t* received) {
  return socket_->receive(data, length, received, entry_.read_timeout.load(std::memory_order_relaxed));
}

CVX_STATUS LanTransport::set_timeouts(std::uint32_t read_ms, std::uint32_t write_ms) {
  constexpr std::uint32_t kLongest = 0xF0000000;
  entry_.read_timeout.store(std::min(read_ms, kLongest), std::memory_order_relaxed);
  entry_.write_timeout.store(std::min(write_ms, kLongest), std::memory_order_relaxed);
  return CVX_OK;
}

CVX_STATUS LanTransport::close() {
  socket_->shut();
  if (const auto lease = std::move(lease_)) release_address(*lease);
  return CVX_OK;
}

CVX_HANDLE take_lan_row(std::shared_ptr<LanSocket> link, std::uint32_t if_type) {
  State& s = state();
  // The channel word only marks the row as used; the transport keeps the socket itself.
  const auto marker = reinterpret_cast<std::uintptr_t>(link.get());
  return s.table.take(marker, if_type, [&](DeviceEntry& entry) {
    return std::make_shared<LanTransport>(std::move(link), entry, s.max_send_size());
  });
}

}  // namespace corvex
