// An automatic 255-channel playback, eight channels per frame, through the
// real window and port against a simulated unit that answers at once. The
// baseline is the waits the protocol prescribes (20 ms before each read,
// four 3 ms pauses per frame), slept the same way in the same run.
#include "serial/BufferedForms.h"
#include "serial/LogGrid.h"
#include "serial/SerialLink.h"
#include "shell/FrmMenu.h"
#include "shell/Globals.h"
#include "shell/Pause.h"
#include "unit/UnitSimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

constexpr int kFrames = 32;  // 255 channels in frames of 8

double playbackMs() {
  FrmMenu::SubMode = 0;
  FrmRS232CMode2 form;
  if (!form.PDQ_COM->isOpen()) {
    std::fprintf(stderr, "could not open %s\n", qPrintable(form.PDQ_COM->device()));
    std::exit(1);
  }
  const auto framesDone = [&] { return form.log->lines().filter(QStringLiteral("[送信]：BCC(")).size() == kFrames; };
  QElapsedTimer clock;
  clock.start();
  form.CmdAction[0]->click();
  while (!framesDone()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  return double(clock.nsecsElapsed()) / 1e6;
}

double waitsMs() {
  Pause& pause = realPause();
  QElapsedTimer clock;
  clock.start();
  for (int f = 0; f < kFrames; ++f) {
    pause.sleep(BufferedSession::kReadWaitMs);
    for (int i = 0; i < 4; ++i) pause.sleep(BufferedSession::kFrameGapMs);
  }
  return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  sim::UnitSimulator unit({.answerDelay = 0ms});
  unit.start();
  qputenv("KESTREL_COM1", QByteArray::fromStdString(unit.slavePath()));
  ComPortNumber = 1;

  constexpr int kRuns = 5;
  std::vector<double> runs, baselines;
  for (int i = 0; i < kRuns; ++i) {
    baselines.push_back(waitsMs());
    runs.push_back(playbackMs());
    std::printf("run %d: playback %.1f ms, waits alone %.1f ms\n", i + 1, runs.back(), baselines.back());
  }
  const double wall = median(runs), floor = median(baselines);
  std::printf("playback (median of %d): %.1f ms\n", kRuns, wall);
  std::printf("documented waits (median of %d): %.1f ms (nominal %d ms)\n", kRuns, floor,
              kFrames * (BufferedSession::kReadWaitMs + 4 * BufferedSession::kFrameGapMs));
  std::printf("ratio: %.3f\n", wall / floor);
  return 0;
}
