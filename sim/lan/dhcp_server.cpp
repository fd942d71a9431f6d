#include "dhcp_server.h"
#include "posix_fd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

namespace kestrel::sim {
namespace {

constexpr std::uint8_t kCookie[4] = {99, 130, 83, 99};
constexpr std::size_t kOptions = 240;

std::array<std::uint8_t, 4> ipv4(const std::string& text, const char* what) {
  std::array<std::uint8_t, 4> out{};
  if (inet_pton(AF_INET, text.c_str(), out.data()) != 1) {
    errno = EINVAL;
    fail(what);
  }
  return out;
}

sockaddr_in socket_address(const std::string& address, std::uint16_t port, const char* what) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  const auto bytes = ipv4(address, what);
  std::copy(bytes.begin(), bytes.end(), reinterpret_cast<std::uint8_t*>(&a.sin_addr));
  return a;
}

// Option 53's value; nullopt when it is missing or the list runs past the
// datagram, which a client would never send.
std::optional<std::uint8_t> message_type(const Bytes& d) {
  std::optional<std::uint8_t> type;
  std::size_t at = kOptions;
  while (at < d.size()) {
    const std::uint8_t code = d[at];
    if (code == 255) break;
    if (code == 0) {
      ++at;
      continue;
    }
    if (at + 1 >= d.size() || at + 2 + d[at + 1] > d.size()) return std::nullopt;
    if (code == 53 && d[at + 1] >= 1 && !type) type = d[at + 2];
    at += 2 + d[at + 1];
  }
  return type;
}

void option(Bytes& out, std::uint8_t code, const std::uint8_t* value, std::size_t length) {
  out.push_back(code);
  out.push_back(static_cast<std::uint8_t>(length));
  out.insert(out.end(), value, value + length);
}

}  // namespace

DhcpServer::DhcpServer(DhcpConfig config) : config_(std::move(config)) {}

DhcpServer::~DhcpServer() { stop(); }

void DhcpServer::start() {
  if (thread_.joinable()) return;
  try {
    offer_ = ipv4(config_.offer, "dhcp offer");
    server_id_ = ipv4(config_.server_id, "dhcp server id");
    mask_ = ipv4(config_.mask, "dhcp mask");
    reply_to_ = ipv4(config_.reply_target, "dhcp reply target");
    const sockaddr_in own = socket_address(config_.bind_address, config_.port, "dhcp address");
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) fail("pipe");
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) fail("dhcp socket");
    const int one = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) fail("dhcp bind");
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) fail("dhcp bind");
    port_ = ntohs(bound.sin_port);
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    stop();
    throw;
  }
}

void DhcpServer::stop() {
  if (wake_write_ >= 0) {
    const std::uint8_t byte = 1;
    while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
    }
  }
  if (thread_.joinable()) thread_.join();
  close_fd(socket_);
  close_fd(wake_read_);
  close_fd(wake_write_);
}

std::vector<DhcpSeen> DhcpServer::seen() const {
  std::lock_guard guard(lock_);
  return seen_;
}

void DhcpServer::run() {
  Bytes buffer(65536);
  for (;;) {
    pollfd fds[2] = {{wake_read_, POLLIN, 0}, {socket_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (!(fds[1].revents & POLLIN)) continue;
    const ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
    if (n > 0) take(Bytes(buffer.begin(), buffer.begin() + n));
  }
}

void DhcpServer::take(const Bytes& d) {
  if (d.size() < kOptions || d[0] != 1 || !std::equal(std::begin(kCookie), std::end(kCookie), d.begin() + 236)) return;
  const auto type = message_type(d);
  if (!type) return;
  {
    std::lock_guard guard(lock_);
    seen_.push_back({std::chrono::steady_clock::now(), *type, d});
  }
  if (config_.faults.silent) return;
  if (*type == kDhcpDiscover)
    answer(d, kDhcpOffer);
  else if (*type == kDhcpRequest)
    answer(d, config_.faults.nak ? kDhcpNak : kDhcpAck);
}

void DhcpServer::answer(const Bytes& request, std::uint8_t type) {
  Bytes out(kOptions, 0);
  out[0] = 2;
  out[1] = 1;
  out[2] = 6;
  std::copy_n(request.begin() + 4, 4, out.begin() + 4);
  std::copy_n(request.begin() + 10, 2, out.begin() + 10);
  if (type != kDhcpNak) std::copy(offer_.begin(), offer_.end(), out.begin() + 16);
  std::copy(server_id_.begin(), server_id_.end(), out.begin() + 20);
  std::copy_n(request.begin() + 28, 16, out.begin() + 28);
  std::copy(std::begin(kCookie), std::end(kCookie), out.begin() + 236);
  if (config_.faults.long_options) {
    static constexpr char kDomain[] = "benchtop.kestrel.lan";
    option(out, 15, reinterpret_cast<const std::uint8_t*>(kDomain), sizeof kDomain - 1);
    const std::uint8_t wide_mask[8] = {mask_[0], mask_[1], mask_[2], mask_[3], 0, 0, 0, 0};
    option(out, 1, wide_mask, sizeof wide_mask);
  }
  option(out, 53, &type, 1);
  if (!config_.faults.no_server_id) option(out, 54, server_id_.data(), 4);
  const std::uint32_t l = config_.lease_seconds;
  const std::uint8_t lease[4] = {static_cast<std::uint8_t>(l >> 24), static_cast<std::uint8_t>(l >> 16),
                                 static_cast<std::uint8_t>(l >> 8), static_cast<std::uint8_t>(l)};
  option(out, 51, lease, 4);
  option(out, 1, mask_.data(), 4);
  out.push_back(255);
  out.resize(kDhcpAnswer, 0);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(config_.reply_port);
  std::copy(reply_to_.begin(), reply_to_.end(), reinterpret_cast<std::uint8_t*>(&to.sin_addr));
  auto send = [&](const Bytes& bytes) {
    ::sendto(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  };
  if (config_.faults.wrong_xid_first) {
    Bytes wrong = out;
    for (std::size_t i = 4; i < 8; ++i) wrong[i] = static_cast<std::uint8_t>(~wrong[i]);
    send(wrong);
  }
  send(out);
}

}  // namespace kestrel::sim
