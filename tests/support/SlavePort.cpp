#include "support/SlavePort.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace kestrel::sim {

void PrintTo(const Item& item, std::ostream* out) {
  const auto after = item.afterPlaying ? std::optional<Bytes>(joined(*item.afterPlaying)) : std::nullopt;
  *out << describe(item, item.reply.empty() ? std::nullopt : std::optional<Bytes>(joined(item.reply)), after);
  if (item.whilePlaying) *out << " (while playing " << hex(*item.whilePlaying) << ')';
}

}  // namespace kestrel::sim

namespace kestrel::sim::test {

SlavePort::SlavePort(const std::string& path, bool raw)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  if (!fd_) throw std::system_error(errno, std::generic_category(), "open " + path);
  if (!raw) return;
  termios tio{};
  ::tcgetattr(fd_.get(), &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd_.get(), TCSANOW, &tio);
}

void SlavePort::write(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd_.get(), POLLOUT, 0};
      if (::poll(&p, 1, 2000) <= 0) throw std::runtime_error("slave write stalled");
    } else if (n < 0 && errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "write");
    }
  }
}

Bytes SlavePort::read(std::size_t count, std::chrono::milliseconds timeout) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    std::uint8_t buffer[256];
    const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

Bytes SlavePort::drain(std::chrono::milliseconds window) { return read(static_cast<std::size_t>(-1), window); }

Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace kestrel::sim::test
