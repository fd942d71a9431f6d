#include "lan_board.h"
#include "posix_fd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

namespace kestrel::sim {
namespace {

constexpr std::uint8_t kMagic[4] = {'N', 'C', 'V', 'X'};
constexpr std::uint32_t kProductArea = 7 * 4096;

bool has_magic(const std::uint8_t* p) { return std::memcmp(p, kMagic, 4) == 0; }

Bytes header(std::uint8_t type, const std::array<std::uint8_t, 3>& tail = {}) {
  return {kMagic[0], kMagic[1], kMagic[2], kMagic[3], type, tail[0], tail[1], tail[2]};
}

sockaddr_in socket_address(const std::string& address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
    errno = EINVAL;
    fail("board address");
  }
  return a;
}

// Binds a new socket; the port actually bound, or nullopt with errno set.
std::optional<std::uint16_t> bind_socket(int fd, const std::string& address, std::uint16_t port) {
  const sockaddr_in a = socket_address(address, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return std::nullopt;
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return std::nullopt;
  return ntohs(bound.sin_port);
}

// What the board sends as its product record: the current record of area 7,
// or the area's first slot as it reads when the area holds none.
Bytes product_record(const Board& board) {
  std::uint32_t at = kProductArea;
  for (int slot = 31; slot >= 0; --slot) {
    const std::uint32_t first = kProductArea + static_cast<std::uint32_t>(slot) * 128;
    if (board.flash(first) == 0 && board.flash(first + 1) == 0) {
      at = first;
      break;
    }
  }
  Bytes record(128);
  for (std::uint32_t i = 0; i < 128; ++i) record[i] = board.flash(at + i);
  return record;
}

std::array<std::uint8_t, 20> sha1(const Challenge& challenge, const Digest& digest) {
  sha1_ctx ctx;
  sha1_init(&ctx);
  sha1_update(&ctx, challenge.size(), challenge.data());
  sha1_update(&ctx, digest.size(), digest.data());
  std::array<std::uint8_t, 20> out{};
  sha1_digest(&ctx, out.size(), out.data());
  return out;
}

// One board's service: its listener, its discovery socket and at most one
// host connection at a time (further hosts wait in the listen queue).
class Service {
 public:
  Service(LanServer::Slot& slot, int wake) : s_(slot), f_(slot.config.faults), wake_(wake) {}
  ~Service() { end_connection(); }

  void run() {
    for (;;) {
      const bool asking = s_.ask >= 0;
      int timeout = -1;
      if (asking) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= next_request_) {
          send_address_request();
          const auto interval = std::max(s_.config.ask_address->interval, std::chrono::milliseconds(1));
          next_request_ += interval;
          if (next_request_ <= now) next_request_ = now + interval;  // the first, or after a stall
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next_request_ - now);
        timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
      }
      // While the board has no address its listener is left out: hosts wait
      // in the listen queue.
      const int tcp = conn_ >= 0 ? conn_ : (asking ? -1 : s_.listener);
      pollfd fds[4] = {{wake_, POLLIN, 0}, {s_.udp, POLLIN, 0}, {tcp, POLLIN, 0}, {s_.ask, POLLIN, 0}};
      const int ready = ::poll(fds, 4, timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (ready == 0) continue;
      if (fds[0].revents) return;
      if (fds[1].revents & POLLIN) discovery();
      if (fds[3].revents & POLLIN) address_answer();
      if (fds[2].revents == 0) continue;
      if (conn_ < 0)
        accept_host();
      else if (!take_input())
        end_connection();
    }
  }

 private:
  enum class State { request, response, relay, muted };

  // Waits, unless the server stops meanwhile.
  bool pause(std::chrono::milliseconds ms) {
    if (ms.count() <= 0) return true;
    pollfd fd{wake_, POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(ms.count())) == 0;
  }

  bool send_all(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
      const ssize_t sent = ::send(conn_, data, n, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      data += sent;
      n -= static_cast<std::size_t>(sent);
    }
    return true;
  }

  bool send_packet(const Bytes& bytes) { return pause(f_.delay) && send_all(bytes.data(), bytes.size()); }

  void discovery() {
    std::uint8_t buffer[1500];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(s_.udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < static_cast<ssize_t>(kLanHeader) || !has_magic(buffer) || buffer[4] != kDiscoveryRequest) return;
    Bytes answer = header(kDiscoveryReply);
    {
      std::lock_guard guard(s_.lock);
      ++s_.stats.discovery_requests;
      if (s_.config.discovery == DiscoveryAnswer::none) return;
      if (s_.config.discovery == DiscoveryAnswer::full) {
        const Bytes record = product_record(s_.board);
        answer.insert(answer.end(), record.begin(), record.end());
      }
    }
    ::sendto(s_.udp, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&from), length);
  }

  void send_address_request() {
    const AddressRequest& r = *s_.config.ask_address;
    Bytes packet(std::max(r.length, kAddressRequestMinimum), 0);
    packet[0] = 1;
    packet[1] = 1;
    packet[2] = 6;
    std::copy(s_.xid.begin(), s_.xid.end(), packet.begin() + 4);
    packet[10] = 0x80;  // broadcast flag: the board cannot take unicast yet
    std::copy(r.mac.begin(), r.mac.end(), packet.begin() + 28);
    const std::size_t name = std::min<std::size_t>(r.server_name.size(), 63);
    std::copy_n(r.server_name.begin(), name, packet.begin() + 44);
    const std::uint8_t tail[5] = {99, 130, 83, 99, 255};
    std::copy(std::begin(tail), std::end(tail), packet.begin() + 236);
    const sockaddr_in to = socket_address(r.target, r.target_port);
    if (::sendto(s_.ask, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
      return;
    std::lock_guard guard(s_.lock);
    ++s_.stats.address_requests;
  }

  // The socket may also hear the host's own DHCP traffic and our requests
  // looped back; only a reply to this board's request counts.
  void address_answer() {
    std::vector<std::uint8_t> buffer(65536);
    const ssize_t n = ::recv(s_.ask, buffer.data(), buffer.size(), 0);
    if (n < 34 || buffer[0] != 2 || !std::equal(s_.xid.begin(), s_.xid.end(), buffer.begin() + 4) ||
        !std::equal(s_.config.ask_address->mac.begin(), s_.config.ask_address->mac.end(), buffer.begin() + 28))
      return;
    buffer.resize(static_cast<std::size_t>(n));
    {
      std::lock_guard guard(s_.lock);
      s_.answer = std::move(buffer);
    }
    close_fd(s_.ask);
  }

  void accept_host() {
    conn_ = ::accept4(s_.listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn_ < 0) return;
    const int one = 1;
    ::setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    stamped_ = s_.config.stamp_on_receipt &&
               ::setsockopt(conn_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one) == 0;
    // The flash writer has no login: the host talks to the model at once.
    state_ = s_.config.board.flash_writer ? State::relay : State::request;
    input_.clear();
    replies_ = 0;
    std::lock_guard guard(s_.lock);
    const unsigned number = ++s_.stats.connections;
    session_ = {static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 8),
                static_cast<std::uint8_t>(number)};
  }

  void end_connection() {
    if (conn_ < 0) return;
    close_fd(conn_);
    std::lock_guard guard(s_.lock);
    s_.board.drop_replies();
  }

  // False when the connection is to end.
  bool take_input() {
    std::uint8_t buffer[65536];
    iovec piece{buffer, sizeof buffer};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = stamped_ ? control : nullptr;
    message.msg_controllen = stamped_ ? sizeof control : 0;
    const ssize_t n = ::recvmsg(conn_, &message, 0);
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    received_at_.reset();
    for (cmsghdr* c = stamped_ ? CMSG_FIRSTHDR(&message) : nullptr; c; c = CMSG_NXTHDR(&message, c))
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) received_at_ = arrival(c);
    if (state_ == State::relay) return relay(buffer, static_cast<std::size_t>(n));
    if (state_ == State::muted) return true;
    input_.insert(input_.end(), buffer, buffer + n);
    return login();
  }

  bool login() {
    if (state_ == State::request) {
      if (input_.size() < kLanHeader) return true;
      if (!has_magic(input_.data()) || input_[4] != kLoginRequest) return false;
      input_.erase(input_.begin(), input_.begin() + kLanHeader);
      if (f_.mute_login) {
        state_ = State::muted;
        return true;
      }
      if (s_.config.challenge) {
        challenge_ = *s_.config.challenge;
      } else {
        std::random_device random;
        for (auto& b : challenge_) b = static_cast<std::uint8_t>(random());
      }
      Bytes packet = header(kLoginChallenge, session_);
      packet.insert(packet.end(), challenge_.begin(), challenge_.end());
      if (!send_packet(packet)) return false;
      state_ = State::response;
    }
    if (input_.size() < kChallengePacket) return true;
    const auto expected = sha1(challenge_, s_.config.digest);
    const bool right = has_magic(input_.data()) && input_[4] == kLoginResponse &&
                       std::equal(session_.begin(), session_.end(), input_.begin() + 5) &&
                       std::equal(expected.begin(), expected.end(), input_.begin() + kLanHeader);
    const bool accepted = right && !f_.refuse_login;
    {
      std::lock_guard guard(s_.lock);
      ++(accepted ? s_.stats.logins : s_.stats.refusals);
    }
    if (!send_packet(header(accepted ? kLoginAccepted : kLoginRefused)) || !accepted) return false;
    state_ = State::relay;
    Bytes rest(input_.begin() + kChallengePacket, input_.end());
    input_.clear();
    return rest.empty() || relay(rest.data(), rest.size());
  }

  // Each piece read goes to the model as one write, as the host wrote it
  // with TCP_NODELAY; the model's break detection relies on that.
  bool relay(const std::uint8_t* data, std::size_t n) {
    Bytes reply;
    {
      std::lock_guard guard(s_.lock);
      if (received_at_) s_.board.set_clock([at = *received_at_] { return at; });
      s_.board.receive(data, n);
      if (received_at_) s_.board.set_clock({});
      reply.resize(s_.board.reply_waiting());
      s_.board.take_reply(reply.data(), reply.size());
    }
    if (reply.empty() || f_.mute_replies) return true;
    if (!pause(f_.delay)) return false;
    if (f_.close_mid_reply != 0 && ++replies_ == f_.close_mid_reply) {
      send_all(reply.data(), reply.size() / 2);
      return false;
    }
    const std::size_t piece = f_.split == 0 ? reply.size() : f_.split;
    for (std::size_t at = 0; at < reply.size(); at += piece) {
      if (at > 0 && !pause(f_.split_gap)) return false;
      if (!send_all(reply.data() + at, std::min(piece, reply.size() - at))) return false;
    }
    return true;
  }

  // The socket's time stamp (the system clock) on the steady clock.
  static std::chrono::steady_clock::time_point arrival(cmsghdr* c) {
    timespec at{}, now{};
    std::memcpy(&at, CMSG_DATA(c), sizeof at);
    const auto steady = std::chrono::steady_clock::now();
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto ago = std::chrono::seconds(now.tv_sec - at.tv_sec) + std::chrono::nanoseconds(now.tv_nsec - at.tv_nsec);
    return steady - std::chrono::duration_cast<std::chrono::steady_clock::duration>(ago);
  }

  LanServer::Slot& s_;
  const LanFaults f_;
  const int wake_;
  int conn_ = -1;
  State state_ = State::request;
  Bytes input_;
  Challenge challenge_{};
  std::array<std::uint8_t, 3> session_{};
  unsigned replies_ = 0;
  std::chrono::steady_clock::time_point next_request_{};
  bool stamped_ = false;
  std::optional<std::chrono::steady_clock::time_point> received_at_;
};

}  // namespace

Digest password_digest(std::string_view text) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
  Digest out{};
  sha256_digest(&ctx, out.size(), out.data());
  return out;
}

std::optional<Digest> parse_digest(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  Digest out{};
  for (std::size_t i = 0; i < 64; ++i) {
    const char c = hex[i];
    int v = 0;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      return std::nullopt;
    out[i / 2] = static_cast<std::uint8_t>(out[i / 2] << 4 | v);
  }
  return out;
}

namespace {

// The system starts stamping arrivals a moment after a socket first asks for
// it, and bytes that come before carry no stamp (a stream socket then gives
// none). Returns once a byte sent to itself over loopback TCP comes back
// stamped, or after about 200 tries.
void wait_for_arrival_stamps() {
  const int one = 1;
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof self;
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int sender = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int receiver = -1;
  if (listener >= 0 && sender >= 0 && ::bind(listener, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
      ::listen(listener, 1) == 0 && ::getsockname(listener, reinterpret_cast<sockaddr*>(&self), &length) == 0 &&
      ::connect(sender, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
      (receiver = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0 &&
      ::setsockopt(receiver, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one) == 0) {
    ::setsockopt(sender, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (int tries = 0; tries < 200; ++tries) {
      const char probe = 0;
      if (::send(sender, &probe, 1, MSG_NOSIGNAL) != 1) break;
      pollfd p{receiver, POLLIN, 0};
      if (::poll(&p, 1, 100) != 1) break;
      char byte;
      iovec piece{&byte, 1};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
      msghdr message{};
      message.msg_iov = &piece;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      if (::recvmsg(receiver, &message, 0) != 1) break;
      if (CMSG_FIRSTHDR(&message)) break;
      ::usleep(1000);
    }
  }
  for (const int fd : {receiver, sender, listener})
    if (fd >= 0) ::close(fd);
}

}  // namespace

// The maker's default digest is not known here, so a stand-in text serves.
std::string default_lan_password() { return "kestrel"; }

LanServer::LanServer(std::vector<LanBoardConfig> boards) {
  for (auto& b : boards) slots_.push_back(std::make_unique<Slot>(std::move(b)));
}

LanServer::~LanServer() { stop(); }

void LanServer::start() {
  if (!threads_.empty()) return;
  if (std::any_of(slots_.begin(), slots_.end(), [](const auto& s) { return s->config.stamp_on_receipt; }))
    wait_for_arrival_stamps();
  try {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) fail("pipe");
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];
    for (auto& slot : slots_) {
      Slot& s = *slot;
      const int one = 1;
      s.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (s.listener < 0) fail("tcp socket");
      ::setsockopt(s.listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      // Asked here as well as on each connection: stamping is on before
      // a host's first command (see wait_for_arrival_stamps).
      if (s.config.stamp_on_receipt) ::setsockopt(s.listener, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
      const auto tcp = bind_socket(s.listener, s.config.address, s.config.tcp_port);
      if (!tcp) fail("tcp bind");
      if (::listen(s.listener, 8) != 0) fail("listen");
      s.tcp_port = *tcp;
      s.udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (s.udp < 0) fail("udp socket");
      auto udp = bind_socket(s.udp, s.config.address, s.config.udp_port.value_or(s.tcp_port));
      if (!udp && errno == EADDRINUSE && !s.config.udp_port && s.config.tcp_port == 0)
        udp = bind_socket(s.udp, s.config.address, 0);
      if (!udp) fail("udp bind");
      s.udp_port = *udp;
      if (s.config.ask_address) {
        const AddressRequest& r = *s.config.ask_address;
        s.ask = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s.ask < 0) fail("address request socket");
        ::setsockopt(s.ask, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(s.ask, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        const auto own = bind_socket(s.ask, r.bind_address, r.own_port);
        if (!own) fail("address request bind");
        socket_address(r.target, r.target_port);  // a bad target fails here, not silently later
        s.ask_port = *own;
        std::lock_guard guard(s.lock);
        s.answer.reset();
        std::random_device random;
        for (auto& b : s.xid) b = static_cast<std::uint8_t>(random());
      }
    }
    for (auto& slot : slots_) {
      threads_.emplace_back([this, s = slot.get()] { Service(*s, wake_read_).run(); });
      slot->scheduling = "normal";
      if (const auto priority = slot->config.fifo_priority) {
        sched_param p{};
        p.sched_priority = *priority;
        const int error = ::pthread_setschedparam(threads_.back().native_handle(), SCHED_FIFO, &p);
        slot->scheduling = error == 0 ? "SCHED_FIFO " + std::to_string(*priority)
                                      : "normal: SCHED_FIFO " + std::to_string(*priority) +
                                            " refused: " + std::strerror(error);
      }
    }
  } catch (...) {
    stop();
    throw;
  }
}

void LanServer::stop() {
  if (wake_write_ >= 0) {
    const std::uint8_t byte = 1;
    while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
    }
  }
  for (auto& t : threads_) t.join();
  threads_.clear();
  for (auto& slot : slots_) {
    close_fd(slot->listener);
    close_fd(slot->udp);
    close_fd(slot->ask);
  }
  close_fd(wake_read_);
  close_fd(wake_write_);
}

std::uint16_t LanServer::tcp_port(std::size_t board) const { return slots_.at(board)->tcp_port; }
std::uint16_t LanServer::udp_port(std::size_t board) const { return slots_.at(board)->udp_port; }

LanStats LanServer::stats(std::size_t board) const {
  const Slot& s = *slots_.at(board);
  std::lock_guard guard(s.lock);
  return s.stats;
}

std::uint16_t LanServer::address_port(std::size_t board) const { return slots_.at(board)->ask_port; }

std::optional<Bytes> LanServer::address_answer(std::size_t board) const {
  const Slot& s = *slots_.at(board);
  std::lock_guard guard(s.lock);
  return s.answer;
}

std::string LanServer::scheduling(std::size_t board) const { return slots_.at(board)->scheduling; }

std::optional<std::string> LanServer::assigned_address(std::size_t board) const {
  const auto answer = address_answer(board);
  if (!answer) return std::nullopt;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, answer->data() + 16, text, sizeof text);
  return std::string(text);
}

}  // namespace kestrel::sim
