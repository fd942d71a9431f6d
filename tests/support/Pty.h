#pragma once
// A bare pseudo-terminal: the test holds the master side.

#include <QByteArray>
#include <QString>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace kestrel::test {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      slave_ = QString::fromLocal8Bit(ptsname(master_));
      termios t{};
      tcgetattr(master_, &t);
      cfmakeraw(&t);
      tcsetattr(master_, TCSANOW, &t);
      fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
  }
  ~Pty() { hangUp(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const QString& slave() const { return slave_; }
  QByteArray readAvailable() {
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    return out;
  }
  // The far end goes away, as a unit's cable pulled out.
  void hangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void write(const QByteArray& bytes) {
    [[maybe_unused]] auto n = ::write(master_, bytes.constData(), size_t(bytes.size()));
  }

 private:
  int master_ = -1;
  QString slave_;
};

}  // namespace kestrel::test
