#include "core/TimedThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

namespace kestrel {

namespace {

using namespace std::chrono_literals;

// Long enough for a process's first mlockall to fault in every page it maps.
constexpr auto kStartLimit = 5s;
// A posted sequence that the thread has not taken up by then runs on its caller.
constexpr auto kClaimLimit = 1s;
// How far short of a timed write's deadline both runners stop sleeping and
// spin. A sleeping virtual processor can wake over 1.5 ms late on both at
// once; one already running rarely is: with 1.5 ms here, 2 in 10 runs of 200
// strobes had a p99 over 0.5 ms, with 4 ms none in 20.
constexpr auto kStepSpin = 4000us;

std::string reason(int error) { return std::strerror(error); }

// The stack the sequences will use, faulted in before the first of them.
void touchStack() {
  constexpr std::size_t kBytes = 128 * 1024;
  unsigned char pages[kBytes];
  volatile unsigned char* page = pages;
  for (std::size_t i = 0; i < kBytes; i += 4096) page[i] = 0;
}

}  // namespace

RealTimeCalls systemRealTime() {
  return {
      [] {
        sched_param p{};
        p.sched_priority = TimedThread::kPriority;
        return ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &p);
      },
      [] {
        if (::mlockall(MCL_CURRENT | MCL_FUTURE) == 0) return 0;
        const int error = errno;
        ::munlockall();  // nothing half locked is left behind
        return error;
      },
      [](int runner) {
        cpu_set_t allowed;
        if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return errno;
        if (CPU_COUNT(&allowed) < 2) return EINVAL;
        for (int cpu = 0, seen = 0; cpu < CPU_SETSIZE; ++cpu) {
          if (!CPU_ISSET(cpu, &allowed) || seen++ != runner) continue;
          cpu_set_t one;
          CPU_ZERO(&one);
          CPU_SET(cpu, &one);
          return ::pthread_setaffinity_np(::pthread_self(), sizeof one, &one);
        }
        return EINVAL;
      },
  };
}

void TimedThread::waitUntil(Clock::time_point deadline, const std::function<bool()>& done,
                            std::chrono::microseconds spin) {
  if (Clock::now() + spin < deadline) std::this_thread::sleep_until(deadline - spin);
  while (Clock::now() < deadline && !(done && done())) std::this_thread::yield();
}

TimedThread::TimedThread(RealTimeCalls calls) {
  const RealTimeCalls forPartner = calls;
  start(std::move(calls));
  if (realTime_ && pinned_) startPartner(forPartner);
}

TimedThread::~TimedThread() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  partnerWake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (partner_.joinable()) partner_.join();
}

void TimedThread::startPartner(const RealTimeCalls& calls) {
  try {
    partner_ = std::thread([this, schedule = calls.schedule, pin = calls.pin] {
      // Two runners on one processor would wait on each other at the same
      // priority: the second runs only on a processor of its own.
      const bool scheduled = schedule() == 0 && (!pin || pin(1) == 0);
      if (scheduled) touchStack();
      {
        std::lock_guard guard(lock_);
        if (partnerDecided_) return;  // given up on meanwhile
        partnerDecided_ = true;
        partnerReady_ = scheduled && !stopping_;
      }
      changed_.notify_all();
      if (scheduled) partner();
    });
  } catch (const std::system_error&) {
    return;  // one runner, as before
  }
  std::unique_lock guard(lock_);
  if (!changed_.wait_for(guard, kStartLimit, [this] { return partnerDecided_; })) partnerDecided_ = true;
}

void TimedThread::partner() {
  unsigned seen = 0;
  std::unique_lock guard(lock_);
  for (;;) {
    partnerWake_.wait(guard, [&] { return stopping_ || posted_ != seen; });
    if (stopping_) return;
    seen = posted_;
    const Clock::time_point deadline = deadline_;
    const std::function<void()>* step = step_;
    guard.unlock();
    waitUntil(deadline, [&] { return claimed_.load(std::memory_order_acquire) >= seen; }, kStepSpin);
    take(seen, step);
    guard.lock();
  }
}

bool TimedThread::take(unsigned generation, const std::function<void()>* step) {
  unsigned expected = generation - 1;
  if (!claimed_.compare_exchange_strong(expected, generation, std::memory_order_acq_rel)) return false;
  try {
    (*step)();
  } catch (...) {
    std::lock_guard guard(lock_);
    stepThrew_ = std::current_exception();
  }
  done_.store(generation, std::memory_order_release);
  done_.notify_all();
  return true;
}

void TimedThread::at(Clock::time_point deadline, const std::function<void()>& step) {
  if (!partnerReady_ || !onThread()) {
    waitUntil(deadline, {}, kStepSpin);
    step();
    return;
  }
  unsigned generation = 0;
  {
    std::lock_guard guard(lock_);
    generation = ++posted_;
    deadline_ = deadline;
    step_ = &step;
    stepThrew_ = nullptr;
  }
  partnerWake_.notify_one();
  waitUntil(deadline, [&] { return claimed_.load(std::memory_order_acquire) >= generation; }, kStepSpin);
  if (holdBack_) holdBack_();
  take(generation, &step);
  for (unsigned d = done_.load(std::memory_order_acquire); d < generation; d = done_.load(std::memory_order_acquire))
    done_.wait(d, std::memory_order_acquire);
  std::lock_guard guard(lock_);
  if (std::exception_ptr thrown = std::exchange(stepThrew_, nullptr)) std::rethrow_exception(thrown);
}

void TimedThread::start(RealTimeCalls calls) {
  try {
    thread_ = std::thread([this, calls = std::move(calls)] {
      const int scheduled = calls.schedule();
      const int locked = scheduled == 0 ? calls.lockMemory() : 0;
      const bool pinned = scheduled == 0 && (!calls.pin || calls.pin(0) == 0);
      if (scheduled == 0) {
        touchStack();
        (void)std::chrono::steady_clock::now();
      }
      {
        std::lock_guard guard(lock_);
        if (stopping_) return;  // given up on meanwhile
        started_ = true;
        realTime_ = scheduled == 0;
        pinned_ = pinned;
        granted_ = realTime_ && locked == 0;
        if (!realTime_)
          scheduling_ = "normal, on the calling thread: SCHED_FIFO refused: " + reason(scheduled);
        else
          scheduling_ = "SCHED_FIFO " + std::to_string(kPriority) +
                        (locked == 0 ? ", memory locked" : ", memory not locked: " + reason(locked));
      }
      changed_.notify_all();
      if (scheduled == 0) serve();
    });
  } catch (const std::system_error& e) {
    scheduling_ = std::string("normal, on the calling thread: no thread of its own: ") + e.what();
    return;
  }
  std::unique_lock guard(lock_);
  if (!changed_.wait_for(guard, kStartLimit, [this] { return started_; })) {
    stopping_ = true;
    scheduling_ = "normal, on the calling thread: its own thread did not start in time";
  }
}

void TimedThread::serve() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return stopping_ || state_ == State::Posted; });
    if (state_ != State::Posted) return;
    state_ = State::Running;
    const std::function<void()>* job = job_;
    guard.unlock();
    std::exception_ptr thrown;
    try {
      (*job)();
    } catch (...) {
      thrown = std::current_exception();
    }
    guard.lock();
    thrown_ = thrown;
    state_ = State::Done;
    changed_.notify_all();
  }
}

void TimedThread::run(const std::function<void()>& sequence) {
  if (!realTime_) {
    sequence();
    return;
  }
  std::lock_guard one(callers_);
  std::unique_lock guard(lock_);
  job_ = &sequence;
  thrown_ = nullptr;
  state_ = State::Posted;
  changed_.notify_all();
  if (!changed_.wait_for(guard, kClaimLimit, [this] { return state_ != State::Posted; })) {
    state_ = State::Idle;
    job_ = nullptr;
    guard.unlock();
    sequence();
    return;
  }
  // Taken up: it ends within its own waits and the board calls' time-outs.
  changed_.wait(guard, [this] { return state_ == State::Done; });
  state_ = State::Idle;
  job_ = nullptr;
  if (std::exception_ptr thrown = std::exchange(thrown_, nullptr)) std::rethrow_exception(thrown);
}

TimedThread& timedThread() {
  static TimedThread thread;
  return thread;
}

}  // namespace kestrel
