#pragma once
// A thread of its own for line sequences whose waits a unit times by their
// width. Under SCHED_FIFO with the process's memory locked, neither the GUI
// thread, nor a page fault, nor other work on a busy machine stretches a
// strobe; where the process may not have that, sequences run on their caller.

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
};
RealTimeCalls systemRealTime();

class TimedThread {
 public:
  // Above ordinary threads, below what the kernel's own threads use.
  static constexpr int kPriority = 10;

  explicit TimedThread(RealTimeCalls calls = systemRealTime());
  ~TimedThread();
  TimedThread(const TimedThread&) = delete;
  TimedThread& operator=(const TimedThread&) = delete;

  // Runs `sequence` to its end and returns then, rethrowing what it threw.
  // Without real-time scheduling it runs here, on the caller.
  void run(const std::function<void()>& sequence);

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
};

// The process's, started at its first use.
TimedThread& timedThread();

}  // namespace kestrel
