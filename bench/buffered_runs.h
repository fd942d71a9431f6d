// Whole 255-channel runs of the buffered session at the least cost a frame
// can have: a port stand-in that answers at once and no protocol waits. What
// the benchmarks then add to a run is all that differs between their arms.
#pragma once

#include "core/LinkPort.h"
#include "core/Pause.h"

#include <QByteArray>
#include <QCoreApplication>
#include <algorithm>
#include <vector>

namespace bench {

constexpr int kFramesARun = 33;  // ENQ and 32 frames of eight channels

// Answers ENQ and every frame's BCC with ACK, as an idle unit does.
class AckLink : public kestrel::LinkPort {
 public:
  bool isOpen() const override { return true; }
  int InBufferCount() const override { return pending_; }
  QByteArray read() override {
    if (pending_ == 0) return {};
    --pending_;
    return QByteArray(1, '\x06');
  }
  bool write(const QByteArray& bytes) override {
    if (bytes == "\x05" || afterEtx_) ++pending_;
    afterEtx_ = bytes == "\x03";
    return true;
  }

 private:
  int pending_ = 0;
  bool afterEtx_ = false;
};

class NoWait : public kestrel::Pause {
 public:
  void sleep(int) override {}
  void doEvents() override { QCoreApplication::processEvents(); }
};

inline double median_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace bench
