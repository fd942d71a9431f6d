#pragma once
// A thread of its own for line sequences whose waits a unit times by their
// width. Under SCHED_FIFO with the process's memory locked, neither the GUI
// thread, nor a page fault, nor other work on a busy machine stretches a
// strobe; where the process may not have that, sequences run on their caller.
//
// Even so, a virtual machine's processor can be taken away for a millisecond
// or ten at any moment. So a second runner at the same priority, on another
// processor, waits for each timed step too (at()), and whichever of the two
// is on time at the deadline takes the step: both are rarely gone at once.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kestrel {

// What the thread asks of the system as it starts, each on the calling
// thread: 0, or the errno that refused it.
struct RealTimeCalls {
  std::function<int()> schedule;    // SCHED_FIFO at TimedThread::kPriority
  std::function<int()> lockMemory;  // every page of the process, now and later
  // Keeps the calling thread to one processor, the runner-th of those the
  // process may use, so that the two runners never wait on each other
  // (EINVAL with fewer than two). Empty: the runners are not kept.
  std::function<int(int runner)> pin;
};
RealTimeCalls systemRealTime();

class TimedThread {
 public:
  using Clock = std::chrono::steady_clock;
  // Above ordinary threads, below what the kernel's own threads use.
  static constexpr int kPriority = 10;

  // Sleeps until `spin` short of `deadline` (a sleep may overrun by a
  // scheduler tick), then spins to it; returns early once `done` says so.
  static void waitUntil(Clock::time_point deadline, const std::function<bool()>& done = {},
                        std::chrono::microseconds spin = std::chrono::microseconds(1500));

  explicit TimedThread(RealTimeCalls calls = systemRealTime());
  ~TimedThread();
  TimedThread(const TimedThread&) = delete;
  TimedThread& operator=(const TimedThread&) = delete;

  // Runs `sequence` to its end and returns then, rethrowing what it threw.
  // Without real-time scheduling it runs here, on the caller.
  void run(const std::function<void()>& sequence);

  // Within a sequence: runs `step` at `deadline`, on whichever runner gets
  // there first, and returns once it has run, rethrowing what it threw.
  // Elsewhere, or with one runner, waits and runs it here.
  void at(Clock::time_point deadline, const std::function<void()>& step);
  bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // The second runner is there.
  bool racing() const { return partnerReady_; }

  // Tests: called by the thread on each step before it tries to take it.
  void holdBack(std::function<void()> hold) { holdBack_ = std::move(hold); }

  bool realTime() const { return realTime_; }
  // Both scheduling and the memory lock were had.
  bool granted() const { return granted_; }
  // What the sequences get, as one line: "SCHED_FIFO 10, memory locked", or
  // what was refused and why.
  const std::string& scheduling() const { return scheduling_; }

 private:
  enum class State { Idle, Posted, Running, Done };
  void start(RealTimeCalls calls);
  void serve();
  void startPartner(const RealTimeCalls& calls);
  void partner();
  // Takes step `generation` if nobody has; false when the other runner had.
  bool take(unsigned generation, const std::function<void()>* step);

  std::mutex callers_;  // one sequence at a time
  std::mutex lock_;
  std::condition_variable changed_;
  State state_ = State::Idle;
  bool stopping_ = false;
  bool started_ = false;
  const std::function<void()>* job_ = nullptr;
  std::exception_ptr thrown_;

  bool realTime_ = false;
  bool granted_ = false;
  std::string scheduling_;
  std::thread thread_;

  // The step both runners wait for, posted under lock_. A step is taken by
  // moving `claimed_` from its generation less one, and is over once `done_`
  // reaches its generation; the runner that lost touches nothing of it.
  std::atomic<unsigned> claimed_{0};
  std::atomic<unsigned> done_{0};
  unsigned posted_ = 0;
  Clock::time_point deadline_;
  const std::function<void()>* step_ = nullptr;
  std::exception_ptr stepThrew_;  // by the second runner
  bool pinned_ = false;  // to a processor of its own, or not asked to be
  bool partnerReady_ = false;
  bool partnerDecided_ = false;
  std::condition_variable partnerWake_;
  std::function<void()> holdBack_;
  std::thread partner_;
};

// The process's, started at its first use.
TimedThread& timedThread();

}  // namespace kestrel
