#pragma once
// A port and a log in memory, for driving protocol sessions: what the
// application's tests and the fuzz targets feed sessions through.

#include "core/LinkPort.h"
#include "core/SessionEvents.h"

#include <QByteArray>
#include <QStringList>
#include <vector>

namespace kestrel::test {

class FakeLink : public LinkPort {
 public:
  bool isOpen() const override { return open; }
  int InBufferCount() const override { return int(incoming.size()); }
  QByteArray read() override {
    const QByteArray out = incoming.left(rawProfile ? incoming.size() : 1);
    incoming.remove(0, out.size());
    taken += out;
    return out;
  }
  bool write(const QByteArray& bytes) override {
    if (!open || failWrites) return false;
    written += bytes;
    writes.push_back(bytes);
    // A port that fails part-way through a frame: the parts already handed
    // over have left, the rest is refused.
    if (breakAfter > 0 && --breakAfter == 0) {
      open = false;
      broke = true;
    }
    return true;
  }
  // Everything written since the last call.
  QByteArray take() {
    const QByteArray out = written;
    written.clear();
    return out;
  }
  // Starts a step of a driven run: what was read and written, and a break,
  // are counted afresh.
  void beginStep() {
    taken.clear();
    written.clear();
    writes.clear();
    broke = false;
  }
  bool open = true;
  bool failWrites = false;  // open, but nothing can be handed over
  bool rawProfile = false;  // a read takes everything waiting
  int breakAfter = 0;       // > 0: the port closes after that many more writes
  bool broke = false;       // it did so
  QByteArray incoming;      // arrived, not yet read
  QByteArray late;          // lands while the session waits before its read
  QByteArray taken;         // read by the session
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
