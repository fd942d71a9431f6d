#pragma once
// Blocking waits and "let pending events run", behind one seam so that
// sessions and start-up can run in virtual time under test.

namespace kestrel {

class Pause {
 public:
  virtual ~Pause() = default;
  // Blocks the calling thread; no events are processed meanwhile.
  virtual void sleep(int ms) = 0;
  // Processes pending events once.
  virtual void doEvents() = 0;
};

// Real time on the calling thread.
Pause& realPause();

}  // namespace kestrel
