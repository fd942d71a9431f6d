#include "core/Pause.h"

#include "core/TimedThread.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>

namespace kestrel {

namespace {
class RealPause final : public Pause {
 public:
  // These waits time what a unit reads off its lines.
  void sleep(int ms) override {
    if (ms > 0) TimedThread::waitUntil(TimedThread::Clock::now() + std::chrono::milliseconds(ms));
  }
  void stepAfter(TimedThread::Clock::time_point since, int ms, const std::function<void()>& step) override {
    kestrel::timedThread().at(since + std::chrono::milliseconds(std::max(ms, 0)), step);
  }
  void doEvents() override { QCoreApplication::processEvents(); }
  TimedThread* timedThread() override { return &kestrel::timedThread(); }
};
}  // namespace

Pause& realPause() {
  static RealPause pause;
  return pause;
}

}  // namespace kestrel
