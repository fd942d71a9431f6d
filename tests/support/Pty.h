#pragma once
// A bare pseudo-terminal: the test holds the master side. The simulated
// unit's own pseudo-terminal, with no unit behind it.

#include "unit/Pty.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <unistd.h>

namespace kestrel::test {

class Pty {
 public:
  Pty() : pty_(sim::Pty::open()), slave_(QString::fromStdString(pty_->slavePath())) {}

  const QString& slave() const { return slave_; }
  QByteArray readAvailable() {
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; pty_ && (n = ::read(pty_->master(), buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    return out;
  }
  // The far end goes away, as a unit's cable pulled out.
  void hangUp() { pty_.reset(); }
  void write(const QByteArray& bytes) {
    if (pty_) {
      [[maybe_unused]] auto n = ::write(pty_->master(), bytes.constData(), size_t(bytes.size()));
    }
  }

 private:
  std::optional<sim::Pty> pty_;
  QString slave_;
};

}  // namespace kestrel::test
