// What measuring a run and judging it costs per frame: whole 255-channel runs
// of the buffered session, its lines going to a window's log model and
// journal, every other run with a RunMeter and the verdict at its end. The
// port is a stand-in that answers at once and the protocol's waits are left
// out, so a frame costs the least it can: a real port and the unit only add
// time both arms share. The ratio is of the arms' median run times.
#include "buffered_runs.h"
#include "core/RunMeter.h"
#include "kit/LogGrid.h"
#include "sessions/BufferedSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <functional>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kestrel;

namespace {

using bench::AckLink;
using bench::kFramesARun;
using bench::NoWait;

// The meter, and whether this run has one: both arms share the session, the
// port and the log, so that they differ in nothing else.
struct Switched : SessionEvents {
  void AddLog(const QString&, LineKind) override {}
  void runStarted(const RunStarted& e) override {
    if (on) meter.runStarted(e);
  }
  void frameSent(const FrameSent& e) override {
    if (on) meter.frameSent(e);
  }
  void answer(const Answer& e) override {
    if (on) meter.answer(e);
  }
  void refusal(const Refusal& e) override {
    if (on) meter.refusal(e);
  }
  void channelVerdict(const ChannelVerdict& e) override {
    if (on) meter.channelVerdict(e);
  }
  void runFinished(const RunFinished& e) override {
    if (!on) return;
    meter.runFinished(e);
    // The verdict is part of what is measured.
    const Verdict v = judge(meter.measurements(), {});
    if (!v.pass() || meter.measurements().frames != kFramesARun) {
      std::fprintf(stderr, "a run did not pass: %s, %d frames\n", qPrintable(reasonText(v)),
                   meter.measurements().frames);
      std::exit(1);
    }
  }
  RunMeter meter;
  bool on = false;
};

using bench::median_of;

// `runs` whole runs of 255 channels, every other one measured and judged;
// `wait` returns once the run has ended. Prints the figures and returns the
// ratio of the arms' median run times.
double compare(const char* what, int runs, BufferedSession& session, Switched& arm, const std::function<void()>& wait) {
  QList<qint64> channels;
  for (int c = 1; c <= 255; ++c) channels.append(c);
  std::vector<double> plain, measured;
  for (int r = 0; r < runs + 2; ++r) {
    arm.on = r % 2 == 1;
    QElapsedTimer clock;
    clock.start();
    session.Play(channels, 8);
    wait();
    const double ns = double(clock.nsecsElapsed()) / kFramesARun;
    if (r >= 2) (arm.on ? measured : plain).push_back(ns);  // the first two warm up
  }
  const double ratio = median_of(measured) / median_of(plain);
  std::printf("%s: %d runs, %.0f ns a frame plain, %.0f ns measured and judged, ratio %.4f\n", what, runs,
              median_of(plain), median_of(measured), ratio);
  return ratio;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const bool brief = qEnvironmentVariableIsSet("KESTREL_BENCH_SHORT");
  QTemporaryDir logs;
  qputenv("KESTREL_LOG_DIR", logs.path().toLocal8Bit());
  NoWait pause;

  AckLink link;
  LogModel log;
  log.setJournal(LogJournal::open(QStringLiteral("verdict_cost_bench")));
  Switched arm;
  SessionEventFan events;
  events.attach(log);
  events.attach(arm);
  BufferedSession session(0, link, events, pause);
  const double ratio = compare("255-channel runs", brief ? 200 : 4000, session, arm, [&] {
    while (link.InBufferCount() > 0) session.OnComm(LinkPort::kEventReceive);
  });

  std::printf("ratio: %.4f\n", ratio);
  return 0;
}
