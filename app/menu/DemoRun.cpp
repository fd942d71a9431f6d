#include "menu/DemoRun.h"

#include "menu/FrmMenu.h"
#include "windows/serial/BufferedForms.h"
#include "kit/EntryPanel.h"
#include "kit/LogGrid.h"
#include "sessions/ModeProfile.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

namespace kestrel {

namespace {

const QString kStxLine = QStringLiteral("[送信]：STX(02h)");
const QString kErrorTag = QStringLiteral("[エラー]");

QString lastLine(const LogModel& log) {
  const QStringList lines = log.lines();
  return lines.isEmpty() ? QStringLiteral("(empty)") : lines.last();
}

}  // namespace

DemoRun::DemoRun(FrmMenu& menu, QString picture, int limitMs, QObject* parent)
    : QObject(parent), menu_(menu), picture_(std::move(picture)), limitMs_(limitMs) {
  connect(&timer_, &QTimer::timeout, this, &DemoRun::poll);
}

void DemoRun::start() {
  clock_.start();
  // Started before 開始 is pressed: its click only returns once the window
  // has closed, and the timer runs on in the window's own event loop.
  timer_.start(kPollMs);
  QMetaObject::invokeMethod(this, &DemoRun::pressStart, Qt::QueuedConnection);
}

void DemoRun::pressStart() {
  menu_.ExecMode[kMenuEntry]->click();
  menu_.Command1[0]->click();
  if (step_ == Step::OpenWindow)
    fail(QStringLiteral("the buffered window did not open from the menu"));
  else if (step_ != Step::Over)
    fail(QStringLiteral("the buffered window closed before its run had ended"));
}

void DemoRun::poll() {
  if (step_ == Step::Over) return;
  if (clock_.elapsed() > limitMs_) {
    if (!window_) {
      fail(QStringLiteral("the buffered window did not open within %1 s").arg(limitMs_ / 1000));
    } else {
      const RunProgress p = window_->runProgress();
      fail(QStringLiteral("the run did not end within %1 s: %2 of %3 channels still to send, last log line %4")
               .arg(limitMs_ / 1000)
               .arg(p.total - p.sent)
               .arg(p.total)
               .arg(lastLine(*window_->log)));
    }
    return;
  }
  switch (step_) {
    case Step::OpenWindow:
      // A message box in front (the port, say) shows up here as another
      // modal widget; the bound above ends the wait.
      if (auto* window = qobject_cast<FrmRS232CMode2*>(QApplication::activeModalWidget())) play(window);
      break;
    case Step::Playing:
      if (!window_) {
        fail(QStringLiteral("the buffered window went away during its run"));
      } else if (const QString last = lastLine(*window_->log); last.startsWith(kErrorTag)) {
        fail(QStringLiteral("the run stopped: %1").arg(last));
      } else if (runEnded()) {
        step_ = Step::Settling;
      }
      break;
    case Step::Settling:
      if (++settled_ >= kSettlePolls) savePicture();
      break;
    case Step::Over: break;
  }
}

void DemoRun::play(FrmRS232CMode2* window) {
  window_ = window;
  step_ = Step::Playing;
  window->panel->OptMode[0]->click();  // オートモード
  playedAt_ = clock_.elapsed();
  window->CmdAction[0]->click();  // 再生
}

// Over after the whole automatic list: every channel sent and the unit's
// answer to the last frame in, which completes the run.
bool DemoRun::runEnded() const {
  const RunProgress p = window_->runProgress();
  return window_->runOutcome() == RunOutcome::Complete && p.total == modeProfile(kMenuEntry).autoMax &&
         p.sent == p.total;
}

void DemoRun::savePicture() {
  const qint64 took = clock_.elapsed() - playedAt_;
  if (!window_->grab().save(picture_)) {
    fail(QStringLiteral("could not save the picture %1").arg(picture_));
    return;
  }
  const int frames = int(window_->log->lines().count(kStxLine));
  finish(true, QStringLiteral("played channels 1 to %1 in %2 frames in %3 s")
                   .arg(modeProfile(kMenuEntry).autoMax)
                   .arg(frames)
                   .arg(double(took) / 1000.0, 0, 'f', 1));
}

void DemoRun::fail(const QString& why) { finish(false, why); }

void DemoRun::finish(bool ok, const QString& message) {
  if (step_ == Step::Over) return;
  step_ = Step::Over;
  timer_.stop();
  // 終了, as the operator ends a window: the unit is told to stop and the
  // menu's 開始 click returns.
  if (window_) window_->CmdAction[6]->click();
  emit finished(ok, message);
}

}  // namespace kestrel
