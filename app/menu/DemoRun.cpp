#include "menu/DemoRun.h"

#include "kit/EntryPanel.h"
#include "kit/LogGrid.h"
#include "kit/TestWindow.h"
#include "kit/VerdictPanel.h"
#include "menu/FrmMenu.h"
#include "menu/FrmPass.h"
#include "sessions/ModeProfile.h"
#include "windows/customer/FenwickForms.h"
#include "windows/customer/FrmBrisk.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <array>

namespace kestrel {

namespace {

const QString kErrorTag = QStringLiteral("[エラー]");

// A binary unit takes one channel a timer tick at most, each after its
// strobes and the unit's playback: a whole automatic list (255 or 1000
// channels) takes minutes. The demo plays one channel for each data line
// instead, the last one with every line that can carry it.
const QStringList kEightLines{QStringLiteral("1"),  QStringLiteral("2"),  QStringLiteral("4"),
                              QStringLiteral("8"),  QStringLiteral("16"), QStringLiteral("32"),
                              QStringLiteral("64"), QStringLiteral("128"), QStringLiteral("250")};
const QStringList kTenLines = kEightLines.first(kEightLines.size() - 1) +
                              QStringList{QStringLiteral("256"), QStringLiteral("512"), QStringLiteral("1000")};

// Menu entries by the catalogue's order.
const std::array<DemoPlan, 13> kPlans{{
    {QStringLiteral("buffered"), 1, DemoStart::List, {}},
    {QStringLiteral("mode1"), 0, DemoStart::List, {}},
    {QStringLiteral("buffered1000"), 3, DemoStart::List, {}},
    {QStringLiteral("customer"), 11, DemoStart::List, {}},
    {QStringLiteral("hs4142"), 9, DemoStart::List, {}},
    {QStringLiteral("plx6"), 17, DemoStart::List, {}},
    {QStringLiteral("fenwick"), 7, DemoStart::Schedule, {}},
    {QStringLiteral("brisk"), 8, DemoStart::Frames, {}},
    {QStringLiteral("binary-A"), 16, DemoStart::Manual, kEightLines},
    {QStringLiteral("binary-B-positive"), 18, DemoStart::Manual, kTenLines},
    {QStringLiteral("binary-B-negative"), 19, DemoStart::Manual, kTenLines},
    {QStringLiteral("binary-C-positive"), 14, DemoStart::Manual, kEightLines},
    {QStringLiteral("binary-C-negative"), 15, DemoStart::Manual, kEightLines},
}};

QString lastLine(const LogModel& log) {
  const QStringList lines = log.lines();
  return lines.isEmpty() ? QStringLiteral("(empty)") : lines.last();
}

QString outcomeName(RunOutcome o) {
  switch (o) {
    case RunOutcome::Complete: return QStringLiteral("complete");
    case RunOutcome::Stopped: return QStringLiteral("stopped");
    case RunOutcome::Refused: return QStringLiteral("refused by the unit");
    case RunOutcome::NoAnswer: return QStringLiteral("without an answer");
    case RunOutcome::PortLost: return QStringLiteral("with the port lost");
    case RunOutcome::BoardLost: return QStringLiteral("with the board lost");
    case RunOutcome::BadReply: return QStringLiteral("on a bad reply");
  }
  return {};
}

}  // namespace

const DemoPlan* demoPlan(const QString& protocol) {
  for (const DemoPlan& p : kPlans)
    if (p.protocol == protocol) return &p;
  return nullptr;
}

DemoRun::DemoRun(FrmMenu& menu, QString picture, int limitMs, QObject* parent)
    : DemoRun(menu, kPlans[0], std::move(picture), limitMs, parent) {}

DemoRun::DemoRun(FrmMenu& menu, const DemoPlan& plan, QString picture, int limitMs, QObject* parent)
    : QObject(parent), menu_(menu), plan_(plan), picture_(std::move(picture)), limitMs_(limitMs) {
  connect(&timer_, &QTimer::timeout, this, &DemoRun::poll);
}

QString DemoRun::windowName() const { return modeProfile(plan_.menuEntry).entry->caption.trimmed(); }

void DemoRun::start() {
  clock_.start();
  // Started before 開始 is pressed: its click only returns once the window
  // has closed, and the timer runs on in the window's own event loop.
  timer_.start(kPollMs);
  QMetaObject::invokeMethod(this, &DemoRun::pressStart, Qt::QueuedConnection);
}

void DemoRun::pressStart() {
  menu_.ExecMode[plan_.menuEntry]->click();
  menu_.Command1[0]->click();
  if (step_ == Step::OpenWindow)
    fail(QStringLiteral("the window of %1 did not open from the menu").arg(windowName()));
  else if (step_ != Step::Over)
    fail(QStringLiteral("the window of %1 closed before its run had ended").arg(windowName()));
}

void DemoRun::poll() {
  if (step_ == Step::Over) return;
  QWidget* modal = QApplication::activeModalWidget();
  if (clock_.elapsed() > limitMs_) {
    if (!window_) {
      fail(QStringLiteral("the window of %1 did not open within %2 s").arg(windowName()).arg(limitMs_ / 1000));
    } else if (!testWindow_) {
      fail(QStringLiteral("the frames were not all sent within %1 s").arg(limitMs_ / 1000));
    } else {
      const RunProgress p = testWindow_->runProgress();
      fail(QStringLiteral("the run did not end within %1 s: %2 of %3 channels still to send, last log line %4")
               .arg(limitMs_ / 1000)
               .arg(p.total - p.sent)
               .arg(p.total)
               .arg(lastLine(*testWindow_->log)));
    }
    return;
  }
  switch (step_) {
    case Step::OpenWindow:
      // A message box in front (the port, say) shows up here as another
      // modal widget; the bound above ends the wait.
      if (auto* window = qobject_cast<TestWindow*>(modal))
        play(window);
      else if (auto* frames = qobject_cast<FrmBrisk*>(modal))
        sendFrames(frames);
      else if (qobject_cast<FrmPass*>(modal))
        enterAccessCode(static_cast<QDialog*>(modal));
      break;
    case Step::Playing:
      if (!window_) {
        fail(QStringLiteral("the window of %1 went away during its run").arg(windowName()));
      } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        // A notice that the run went well is acknowledged; any other box
        // stops the demo.
        if (box->icon() == QMessageBox::Information && box->standardButtons() == QMessageBox::Ok) {
          notices_.append(box->text());
          box->accept();
        } else {
          // Closed, so that the call that showed it returns and the run can end.
          const QString text = box->text();
          box->reject();
          fail(QStringLiteral("the run stopped with a message: %1").arg(text));
        }
      } else if (testWindow_) {
        checkRun();
      }
      break;
    case Step::Settling:
      if (++settled_ >= kSettlePolls) savePicture();
      break;
    case Step::Over: break;
  }
}

// The access code the gate asks for, typed as the operator would, once: a
// wrong one leaves the dialog up until the time limit.
void DemoRun::enterAccessCode(QDialog* dialog) {
  if (codeEntered_) return;
  codeEntered_ = true;
  auto* pass = static_cast<FrmPass*>(dialog);
  pass->TxtPass->setText(modeProfile(plan_.menuEntry).gate() == Gate::Access2 ? kAccessCode02 : kAccessCode01);
  QMetaObject::invokeMethod(pass->CmdExe[0], &QPushButton::click, Qt::QueuedConnection);
}

void DemoRun::play(TestWindow* window) {
  window_ = window;
  testWindow_ = window;
  for (QPushButton* b : window->CmdAction)
    if (b && b->text() == QStringLiteral("終了")) endButton_ = b;
  step_ = Step::Playing;
  playedAt_ = clock_.elapsed();
  if (auto* schedule = qobject_cast<FenwickForm*>(window)) {
    endButton_ = schedule->CmdEnd;
    schedule->TxtPath->setText(schedule_);
    if (!schedule->OptOutMode.isEmpty()) schedule->OptOutMode[0]->click();  // 全て
    schedule->CmdOutput->click();
    return;
  }
  if (plan_.start == DemoStart::Manual) {
    if (!window->panel || window->panel->OptMode.size() < 2 || window->panel->TxtNo.size() < plan_.channels.size()) {
      fail(QStringLiteral("the window of %1 has no room for %2 channels").arg(windowName()).arg(plan_.channels.size()));
      return;
    }
    window->panel->OptMode[1]->click();  // マニュアルモード
    for (int i = 0; i < window->panel->TxtNo.size(); ++i)
      window->panel->TxtNo[i]->setText(i < plan_.channels.size() ? plan_.channels[i] : QString());
  } else if (window->panel && !window->panel->OptMode.isEmpty()) {
    window->panel->OptMode[0]->click();  // オートモード
  }
  window->CmdAction[0]->click();  // 再生 (送信)
}

// The buttons are clicked from a queued call rather than from the poll: a
// box a click shows runs an event loop of its own, and a timer does not fire
// again while its own slot runs, so the poll must not be the caller.
void DemoRun::sendFrames(FrmBrisk* window) {
  window_ = window;
  endButton_ = window->Command1[7];
  step_ = Step::Playing;
  playedAt_ = clock_.elapsed();
  QMetaObject::invokeMethod(
      this, [this, editor = QPointer<FrmBrisk>(window)] { loadAndSend(editor); }, Qt::QueuedConnection);
}

// Frames go out inside the button's click, a pause after each; a message
// box on the way is seen by the poll that runs in its event loop.
void DemoRun::loadAndSend(FrmBrisk* window) {
  if (!window || step_ != Step::Playing) return;
  window->Command1[1]->click();  // データ読込
  if (step_ != Step::Playing) return;
  int frames = 0;
  for (int r = 1; r <= BriskSession::kRows; ++r)
    if (!window->session().Event[std::size_t(r)].isEmpty()) ++frames;
  if (frames == 0) {
    fail(QStringLiteral("no frames in %1").arg(window->dataFile()));
    return;
  }
  window->Command1[3]->click();  // 全フレーム送信
  if (step_ != Step::Playing) return;
  done_ = QStringLiteral("sent %1 frames from %2").arg(frames).arg(window->dataFile());
  step_ = Step::Settling;
}

// Over when the session reports the run complete: for a list, every
// channel of the automatic list sent and the unit's answer to the last
// frame in. A schedule read back is no list run: its verdict says it is over.
void DemoRun::checkRun() {
  TestWindow& w = *testWindow_;
  if (const QString last = lastLine(*w.log); last.startsWith(kErrorTag)) {
    fail(QStringLiteral("the run stopped: %1").arg(last));
    return;
  }
  const std::optional<Verdict>& verdict = w.RunVerdict->verdict();
  const QString verdictText = !verdict             ? QStringLiteral("no verdict")
                              : verdict->pass()   ? QStringLiteral("合格")
                                                  : QStringLiteral("不合格 (%1)").arg(reasonTextJa(*verdict));
  if (plan_.start == DemoStart::Schedule) {
    if (!verdict) return;
    verdict_ = verdict;
    if (!verdict->pass()) {
      fail(QStringLiteral("the schedule read back was judged %1; last log line %2").arg(verdictText, lastLine(*w.log)));
      return;
    }
    done_ = QStringLiteral("read back the schedule %1, %2").arg(schedule_, verdictText);
    step_ = Step::Settling;
    return;
  }
  const std::optional<RunOutcome> outcome = w.runOutcome();
  if (!outcome) return;
  outcome_ = outcome;
  verdict_ = verdict;
  if (*outcome != RunOutcome::Complete) {
    fail(QStringLiteral("the run ended %1, %2; last log line %3")
             .arg(outcomeName(*outcome), verdictText, lastLine(*w.log)));
    return;
  }
  const RunProgress p = w.runProgress();
  const bool manual = plan_.start == DemoStart::Manual;
  const int expected = manual ? int(plan_.channels.size()) : modeProfile(plan_.menuEntry).autoMax;
  if (p.total != expected || p.sent != p.total) {
    fail(QStringLiteral("the run ended after %1 of %2 channels, not the %3 list of %4")
             .arg(p.sent)
             .arg(p.total)
             .arg(manual ? QStringLiteral("manual") : QStringLiteral("automatic"))
             .arg(expected));
    return;
  }
  done_ = manual ? QStringLiteral("played channels %1, %2").arg(plan_.channels.join(u','), verdictText)
                 : QStringLiteral("played channels 1 to %1, %2").arg(expected).arg(verdictText);
  step_ = Step::Settling;
}

// The grid keeps its top row where the window puts it, which in some
// windows leaves the newest line alone above empty rows; the picture shows
// the run's lines instead, the last at the foot of the grid.
void DemoRun::showLastLines() {
  if (!testWindow_) return;
  LogGrid& grid = *testWindow_->FG1;
  const LogModel& log = *testWindow_->log;
  for (int row = log.rowCount() - 1; row >= 0; --row) {
    if (!grid.isRowHidden(row) && !log.lineText(row).isEmpty()) {
      grid.scrollTo(log.index(row, 0), QAbstractItemView::PositionAtBottom);
      return;
    }
  }
}

void DemoRun::savePicture() {
  const qint64 took = clock_.elapsed() - playedAt_;
  showLastLines();
  if (!window_->grab().save(picture_)) {
    fail(QStringLiteral("could not save the picture %1").arg(picture_));
    return;
  }
  finish(true, QStringLiteral("%1: %2 in %3 s").arg(windowName(), done_).arg(double(took) / 1000.0, 0, 'f', 1));
}

void DemoRun::fail(const QString& why) { finish(false, why); }

void DemoRun::finish(bool ok, const QString& message) {
  if (step_ == Step::Over) return;
  step_ = Step::Over;
  timer_.stop();
  // 終了, as the operator ends a window: the unit is told to stop and the
  // menu's 開始 click returns.
  if (endButton_) endButton_->click();
  else if (window_) window_->close();
  emit finished(ok, message);
}

}  // namespace kestrel
