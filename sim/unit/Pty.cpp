#include "unit/Pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace kestrel::sim {

namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Pty Pty::open() {
  Pty pty;
  pty.master_ = Fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.master_) fail("posix_openpt");
  const int master = pty.master_.get();
  if (::grantpt(master) != 0) fail("grantpt");
  if (::unlockpt(master) != 0) fail("unlockpt");
  const char* name = ::ptsname(master);
  if (name == nullptr) fail("ptsname");
  pty.slavePath_ = name;

  pty.slave_ = Fd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.slave_) fail("open slave");
  // Raw from the start, so control bytes pass unchanged even to a reader
  // that never sets the line up itself.
  termios tio{};
  if (::tcgetattr(pty.slave_.get(), &tio) != 0) fail("tcgetattr");
  ::cfmakeraw(&tio);
  if (::tcsetattr(pty.slave_.get(), TCSANOW, &tio) != 0) fail("tcsetattr");

  const int flags = ::fcntl(master, F_GETFL);
  if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");
  return pty;
}

}  // namespace kestrel::sim
