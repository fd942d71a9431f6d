#pragma once
// Blocking waits and "let pending events run", behind one seam so that
// sessions and start-up can run in virtual time under test.

namespace kestrel {

class TimedThread;

class Pause {
 public:
  virtual ~Pause() = default;
  // Blocks the calling thread; no events are processed meanwhile.
  virtual void sleep(int ms) = 0;
  // Processes pending events once.
  virtual void doEvents() = 0;
  // Where line sequences whose waits a unit times run; none (the caller)
  // in virtual time.
  virtual TimedThread* timedThread() { return nullptr; }
};

// Real time on the calling thread.
Pause& realPause();

}  // namespace kestrel
