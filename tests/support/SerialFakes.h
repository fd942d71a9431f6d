#pragma once
// A port and a log in memory, for driving protocol sessions.

#include "kit/LogGrid.h"
#include "link/SerialLink.h"

#include <QByteArray>
#include <QStringList>
#include <vector>

namespace kestrel::test {

// A channel frame as the unit must see it, folded here independently of the code.
inline QByteArray expectedFrame(const QByteArray& digits) {
  char bcc = 0x03;
  for (char c : digits) bcc ^= c;
  return QByteArray("\x02") + digits + QByteArray("\x03") + QByteArray(1, bcc);
}

// Points COM<n> at a device and makes it the port windows open, for one test.
class ComPortOverride {
 public:
  ComPortOverride(int number, const QString& device)
      : variable_(QByteArray("KESTREL_COM") + QByteArray::number(number)) {
    point(device);
  }
  ~ComPortOverride() { qunsetenv(variable_.constData()); }
  ComPortOverride(const ComPortOverride&) = delete;
  ComPortOverride& operator=(const ComPortOverride&) = delete;
  void point(const QString& device) { qputenv(variable_.constData(), device.toLocal8Bit()); }

 private:
  QByteArray variable_;
};

class FakeLink : public LinkPort {
 public:
  bool isOpen() const override { return open; }
  int InBufferCount() const override { return int(incoming.size()); }
  QByteArray read() override {
    const QByteArray out = incoming.left(rawProfile ? incoming.size() : 1);
    incoming.remove(0, out.size());
    return out;
  }
  bool write(const QByteArray& bytes) override {
    if (!open || failWrites) return false;
    written += bytes;
    writes.push_back(bytes);
    return true;
  }
  // Everything written since the last call.
  QByteArray take() {
    const QByteArray out = written;
    written.clear();
    return out;
  }
  bool open = true;
  bool failWrites = false;  // open, but nothing can be handed over
  bool rawProfile = false;  // a read takes everything waiting
  QByteArray incoming;
  QByteArray written;
  std::vector<QByteArray> writes;
};

class FakeLog : public SessionEvents {
 public:
  void AddLog(const QString& text, LineKind kind) override {
    lines.append(text);
    kinds.push_back(kind);
  }
  QStringList take() {
    const QStringList out = lines;
    lines.clear();
    return out;
  }
  QStringList lines;
  std::vector<LineKind> kinds;
};

}  // namespace kestrel::test
