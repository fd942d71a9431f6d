#include "support/lan_client.h"

#include <arpa/inet.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::sim::test {
namespace {

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool readable(int fd, std::chrono::milliseconds timeout) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

}  // namespace

Client::Client(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in a = loopback(port);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Client::~Client() {
  if (fd_ >= 0) ::close(fd_);
}

void Client::send(const Bytes& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

Bytes Client::read(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Bytes out;
  while (out.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readable(fd_, left)) break;
    std::uint8_t buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - out.size()), 0);
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

Bytes Client::read_once(std::chrono::milliseconds timeout) {
  if (!readable(fd_, timeout)) return {};
  std::uint8_t buffer[4096];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  return n <= 0 ? Bytes{} : Bytes(buffer, buffer + n);
}

bool Client::closed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readable(fd_, left)) return false;
    std::uint8_t buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
}

Digest sha256_of(std::string_view text) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
  Digest out{};
  sha256_digest(&ctx, out.size(), out.data());
  return out;
}

std::array<std::uint8_t, 20> sha1_of(const Bytes& challenge, const Digest& digest) {
  Bytes message = challenge;
  message.insert(message.end(), digest.begin(), digest.end());
  sha1_ctx ctx;
  sha1_init(&ctx);
  sha1_update(&ctx, message.size(), message.data());
  std::array<std::uint8_t, 20> out{};
  sha1_digest(&ctx, out.size(), out.data());
  return out;
}

Bytes log_in(Client& client, const Digest& digest) {
  client.send({'N', 'C', 'V', 'X', 3, 0, 0, 0});
  const Bytes challenge = client.read(28);
  if (challenge.size() != 28) return {};
  Bytes response(challenge.begin(), challenge.begin() + 8);
  response[4] = 5;
  const auto answer = sha1_of(Bytes(challenge.begin() + 8, challenge.end()), digest);
  response.insert(response.end(), answer.begin(), answer.end());
  client.send(response);
  return client.read(8);
}

Bytes udp_exchange(std::uint16_t port, const Bytes& datagram, std::chrono::milliseconds timeout) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in any = loopback(0);
  ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
  const sockaddr_in to = loopback(port);
  ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  Bytes out;
  if (readable(fd, timeout)) {
    std::uint8_t buffer[2048];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) out.assign(buffer, buffer + n);
  }
  ::close(fd);
  return out;
}

}  // namespace kestrel::sim::test
