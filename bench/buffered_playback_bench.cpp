// An automatic playback, eight channels per frame, through the real window
// and port against a simulated unit that answers at once: 255 channels by
// default, or 1000 with `1000` as the argument. The baseline is the waits the
// protocol prescribes (20 ms before each read, four 3 ms pauses per frame),
// slept the same way in the same run.
#include "serial/BufferedForms.h"
#include "serial/EntryPanel.h"
#include "serial/LogGrid.h"
#include "serial/SerialLink.h"
#include "shell/FrmMenu.h"
#include "shell/Globals.h"
#include "shell/Pause.h"
#include "unit/UnitSimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

constexpr int kUnit = 8;

double playbackMs(bool thousand, int frames) {
  FrmMenu::SubMode = 0;
  std::unique_ptr<BufferedForm> form;
  if (thousand)
    form = std::make_unique<FrmRS232CMode2_1000CH>();
  else
    form = std::make_unique<FrmRS232CMode2>();
  if (!form->PDQ_COM->isOpen()) {
    std::fprintf(stderr, "could not open %s\n", qPrintable(form->PDQ_COM->device()));
    std::exit(1);
  }
  form->panel->TxtCh->setText(QString::number(kUnit));
  const auto framesDone = [&] { return form->log->lines().filter(QStringLiteral("[送信]：BCC(")).size() == frames; };
  QElapsedTimer clock;
  clock.start();
  form->CmdAction[0]->click();
  while (!framesDone()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  return double(clock.nsecsElapsed()) / 1e6;
}

double waitsMs(int frames) {
  Pause& pause = realPause();
  QElapsedTimer clock;
  clock.start();
  for (int f = 0; f < frames; ++f) {
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
  const bool thousand = argc > 1 && std::strcmp(argv[1], "1000") == 0;
  const int channels = thousand ? 1000 : 255;
  const int frames = (channels + kUnit - 1) / kUnit;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  sim::UnitSimulator unit({.protocol = thousand ? "buffered1000" : "buffered", .answerDelay = 0ms});
  unit.start();
  qputenv("KESTREL_COM1", QByteArray::fromStdString(unit.slavePath()));
  ComPortNumber = 1;

  std::printf("automatic playback of %d channels in %d frames\n", channels, frames);
  constexpr int kRuns = 5;
  std::vector<double> runs, baselines;
  for (int i = 0; i < kRuns; ++i) {
    baselines.push_back(waitsMs(frames));
    runs.push_back(playbackMs(thousand, frames));
    std::printf("run %d: playback %.1f ms, waits alone %.1f ms\n", i + 1, runs.back(), baselines.back());
  }
  const double wall = median(runs), floor = median(baselines);
  std::printf("playback (median of %d): %.1f ms\n", kRuns, wall);
  std::printf("documented waits (median of %d): %.1f ms (nominal %d ms)\n", kRuns, floor,
              frames * (BufferedSession::kReadWaitMs + 4 * BufferedSession::kFrameGapMs));
  std::printf("ratio: %.3f\n", wall / floor);
  return 0;
}
