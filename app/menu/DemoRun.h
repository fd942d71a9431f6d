#pragma once
// The headless demo's run: from the menu, as an operator would, a whole run
// of the window a protocol's unit is tested in, against whatever answers on
// the port (or the expansion board), then a picture of the window with its
// log.

#include "core/RunMeter.h"
#include "core/SessionEvents.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

class QDialog;
class QPushButton;

namespace kestrel {

class FrmBrisk;
class FrmMenu;
class TestWindow;

// How a window's run is started.
enum class DemoStart {
  List,      // オートモード, then 再生 (送信): the whole automatic list
  Manual,    // マニュアルモード, the plan's channels in the boxes, then 再生
  Schedule,  // the schedule file, then 送信: the whole schedule read back
  Frames,    // データ読込, then 全フレーム送信
};

struct DemoPlan {
  QString protocol;
  int menuEntry;
  DemoStart start;
  QStringList channels;  // DemoStart::Manual: the boxes, in order
};

// The demo's protocols: buffered, mode1, buffered1000, customer, hs4142,
// plx6, fenwick, brisk, and binary-A, binary-B-positive, binary-B-negative,
// binary-C-positive, binary-C-negative for the board's binary unit.
const DemoPlan* demoPlan(const QString& protocol);

class DemoRun : public QObject {
  Q_OBJECT
 public:
  static constexpr int kPollMs = 50;
  // Polls after the run before the picture: the grid follows its top row
  // on a later pass of the event loop.
  static constexpr int kSettlePolls = 4;
  static constexpr int kDefaultLimitMs = 60000;

  // `limitMs` bounds everything from start() to the picture. Without a plan:
  // the standard buffered window.
  DemoRun(FrmMenu& menu, QString picture, int limitMs = kDefaultLimitMs, QObject* parent = nullptr);
  DemoRun(FrmMenu& menu, const DemoPlan& plan, QString picture, int limitMs = kDefaultLimitMs,
          QObject* parent = nullptr);

  // The schedule file the schedule window reads back (DemoStart::Schedule).
  void setScheduleFile(const QString& path) { schedule_ = path; }

  // Sets the steps going and returns at once: the window opens modally from
  // a queued call, and a timer drives it from inside its event loop.
  void start();

  // How the window's session reported the run's end; nothing before it, and
  // for the frame editor, whose session reports no runs.
  std::optional<RunOutcome> runOutcome() const { return outcome_; }
  // The window's verdict on the run; nothing for the frame editor.
  const std::optional<Verdict>& verdict() const { return verdict_; }
  // The notices the run showed and the demo acknowledged, as an operator
  // presses OK on them.
  const QStringList& notices() const { return notices_; }

 signals:
  // Once, with the window closed again (unless a message box kept it open):
  // on success what was played and how long it took, else why it failed.
  void finished(bool ok, const QString& message);

 private:
  enum class Step { OpenWindow, Playing, Settling, Over };

  void poll();
  void pressStart();
  void enterAccessCode(QDialog* dialog);
  void play(TestWindow* window);
  void sendFrames(FrmBrisk* window);
  void loadAndSend(FrmBrisk* window);
  void checkRun();
  void showLastLines();
  void savePicture();
  void fail(const QString& why);
  void finish(bool ok, const QString& message);
  QString windowName() const;

  FrmMenu& menu_;
  DemoPlan plan_;
  QString picture_;
  QString schedule_;
  int limitMs_;
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 playedAt_ = 0;
  Step step_ = Step::OpenWindow;
  int settled_ = 0;
  bool codeEntered_ = false;
  QString done_;  // what the run did, for the report
  std::optional<RunOutcome> outcome_;
  std::optional<Verdict> verdict_;
  QStringList notices_;
  QPointer<QDialog> window_;
  QPointer<TestWindow> testWindow_;
  QPointer<QPushButton> endButton_;
};

}  // namespace kestrel
