#pragma once
// Blocking waits and "let pending events run", behind one seam so that
// sessions and start-up can run in virtual time under test.

#include <chrono>
#include <functional>

namespace kestrel {

class TimedThread;

class Pause {
 public:
  virtual ~Pause() = default;
  // Blocks the calling thread; no events are processed meanwhile.
  virtual void sleep(int ms) = 0;
  // Runs `step` `ms` after `since`: on a timed thread, on whichever of its
  // runners is on time (TimedThread::at). In virtual time, `ms` from now.
  virtual void stepAfter(std::chrono::steady_clock::time_point since, int ms, const std::function<void()>& step) {
    (void)since;
    sleep(ms);
    step();
  }
  // Processes pending events once.
  virtual void doEvents() = 0;
  // Where line sequences whose waits a unit times run; none (the caller)
  // in virtual time.
  virtual TimedThread* timedThread() { return nullptr; }
};

// Real time on the calling thread.
Pause& realPause();

}  // namespace kestrel
