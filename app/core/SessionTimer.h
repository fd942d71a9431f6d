#pragma once
// A window's timer as its session sees it, and the real one behind a form.

#include <QTimer>
#include <functional>
#include <utility>

namespace kestrel {

class SessionTimer {
 public:
  virtual ~SessionTimer() = default;
  virtual void start(int ms) = 0;
  virtual void stop() = 0;
};

class FormTimer : public SessionTimer {
 public:
  explicit FormTimer(std::function<void()> fired, bool singleShot = true) {
    timer_.setSingleShot(singleShot);
    // The waits a unit is given are lower bounds; a coarse timer may fire
    // up to 5 % early.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, std::move(fired));
  }
  void start(int ms) override { timer_.start(ms); }
  void stop() override { timer_.stop(); }
  bool isActive() const { return timer_.isActive(); }

 private:
  QTimer timer_;
};

}  // namespace kestrel
