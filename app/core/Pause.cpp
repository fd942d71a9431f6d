#include "core/Pause.h"

#include "core/TimedThread.h"

#include <QCoreApplication>
#include <chrono>
#include <thread>

namespace kestrel {

namespace {
class RealPause final : public Pause {
 public:
  // A plain sleep may overrun by a scheduler tick, and these waits time what
  // a unit reads off its lines: sleep short of the deadline, then spin to it.
  void sleep(int ms) override {
    using namespace std::chrono;
    if (ms <= 0) return;
    const auto deadline = steady_clock::now() + milliseconds(ms);
    constexpr auto kSpin = microseconds(1500);
    if (milliseconds(ms) > kSpin) std::this_thread::sleep_until(deadline - kSpin);
    while (steady_clock::now() < deadline) std::this_thread::yield();
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
