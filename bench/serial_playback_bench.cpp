// A whole automatic playback, eight channels per frame, through the real
// window and port against a simulated unit that answers at once:
//   255   the buffered window, 255 channels (the default)
//   1000  the 1000-channel buffered window
//   plx6  the PLX6 window, 255 channels paced by "Ready"
// The baseline is the waits the protocol prescribes, slept the same way in
// the same run: buffered, 20 ms before each read and four 3 ms pauses per
// frame; PLX6, 20 ms before each read, one read per "Ready".
#include "windows/serial/BufferedForms.h"
#include "kit/EntryPanel.h"
#include "windows/serial/FrmPLX6.h"
#include "kit/LogGrid.h"
#include "link/SerialLink.h"
#include "core/Pause.h"
#include "unit/UnitSimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

constexpr int kUnit = 8;
constexpr int kFrameGapMs = 3;

struct Bench {
  const char* name;
  const char* protocol;
  int channels;
  std::function<SerialTestForm*()> open;
  int waitsPerFrameMs;  // besides the 20 ms before the read that releases it
};

const Bench kBenches[] = {
    {"255", "buffered", 255, [] { return new FrmRS232CMode2(); }, 4 * kFrameGapMs},
    {"1000", "buffered1000", 1000, [] { return new FrmRS232CMode2_1000CH(); }, 4 * kFrameGapMs},
    {"plx6", "plx6", 255, [] { return new FrmPLX6(); }, 0},
};

int framesOf(const Bench& b) { return (b.channels + kUnit - 1) / kUnit; }

double playbackMs(const Bench& b) {
  std::unique_ptr<SerialTestForm> form(b.open());
  if (!form->PDQ_COM->isOpen()) {
    std::fprintf(stderr, "could not open %s\n", qPrintable(form->PDQ_COM->device()));
    std::exit(1);
  }
  form->panel->TxtCh->setText(QString::number(kUnit));
  const int frames = framesOf(b);
  const auto framesDone = [&] { return form->log->lines().filter(QStringLiteral("[送信]：BCC(")).size() == frames; };
  QElapsedTimer clock;
  clock.start();
  form->CmdAction[0]->click();
  while (!framesDone()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (clock.elapsed() > 10000) {
      std::fprintf(stderr, "the run stalled; its log:\n%s\n", qPrintable(form->log->lines().join(u'\n')));
      std::exit(1);
    }
  }
  const double ms = double(clock.nsecsElapsed()) / 1e6;
  // The unit's answer to the last frame belongs to this run, not the next.
  QElapsedTimer drain;
  drain.start();
  while (drain.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return ms;
}

double waitsMs(const Bench& b) {
  Pause& pause = realPause();
  QElapsedTimer clock;
  clock.start();
  for (int f = 0; f < framesOf(b); ++f) {
    pause.sleep(SerialSession::kReadWaitMs);
    for (int i = 0; i < b.waitsPerFrameMs / kFrameGapMs; ++i) pause.sleep(kFrameGapMs);
  }
  return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
  const char* which = argc > 1 ? argv[1] : "255";
  const Bench* bench = nullptr;
  for (const Bench& b : kBenches)
    if (std::strcmp(b.name, which) == 0) bench = &b;
  if (!bench) {
    std::fprintf(stderr, "usage: %s [255|1000|plx6]\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  sim::UnitSimulator unit({.protocol = bench->protocol, .answerDelay = 0ms});
  unit.start();
  qputenv("KESTREL_COM1", QByteArray::fromStdString(unit.slavePath()));

  const int frames = framesOf(*bench);
  std::printf("automatic playback (%s) of %d channels in %d frames\n", bench->name, bench->channels, frames);
  // One run for the test command's smoke run.
  const bool short_run = !qEnvironmentVariableIsEmpty("KESTREL_BENCH_SHORT") && qgetenv("KESTREL_BENCH_SHORT") != "0";
  const int runs_wanted = short_run ? 1 : 5;
  std::vector<double> runs, baselines;
  for (int i = 0; i < runs_wanted; ++i) {
    baselines.push_back(waitsMs(*bench));
    runs.push_back(playbackMs(*bench));
    std::printf("run %d: playback %.1f ms, waits alone %.1f ms\n", i + 1, runs.back(), baselines.back());
  }
  const double wall = median(runs), floor = median(baselines);
  std::printf("playback (median of %d): %.1f ms\n", runs_wanted, wall);
  std::printf("prescribed waits (median of %d): %.1f ms (nominal %d ms)\n", runs_wanted, floor,
              frames * (SerialSession::kReadWaitMs + bench->waitsPerFrameMs));
  std::printf("ratio: %.3f\n", wall / floor);
  return 0;
}
