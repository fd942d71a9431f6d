#include "core/SessionTimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestrel;

// A window's time-outs are lower bounds on what the unit is given: none may
// fire before its time, as a coarse timer may by up to 5 %.
TEST(SessionTimer, NeverFiresEarly) {
  constexpr int kTimers = 24;
  std::vector<std::unique_ptr<FormTimer>> timers;
  std::vector<qint64> firedAfter(kTimers, -1);
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < kTimers; ++i) {
    timers.push_back(std::make_unique<FormTimer>([&, i] { firedAfter[std::size_t(i)] = clock.elapsed(); }));
    timers.back()->start(100 + 7 * i);
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::ranges::count(firedAfter, -1) == 0; }, 5000));
  for (int i = 0; i < kTimers; ++i) EXPECT_GE(firedAfter[std::size_t(i)], 100 + 7 * i) << i;
}
