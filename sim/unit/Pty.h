#pragma once
// The pseudo-terminal the simulated unit listens on.

#include <string>

namespace kestrel::sim {

// Owns a file descriptor; closes it when dropped.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();

  int get() const { return fd_; }
  int release();
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class Pty {
 public:
  // Master non-blocking, line raw. Throws std::system_error.
  static Pty open();

  int master() const { return master_.get(); }
  const std::string& slavePath() const { return slavePath_; }

 private:
  Fd master_;
  // Held open for the pty's lifetime: when the last other holder of the slave
  // closes it, the master would otherwise read EIO and see hang-ups until the
  // next open.
  Fd slave_;
  std::string slavePath_;
};

}  // namespace kestrel::sim
