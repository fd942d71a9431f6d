#include "kit/TestWindow.h"

#include "core/AtomicSave.h"
#include "core/StoredSetting.h"
#include "kit/Look.h"
#include "kit/MessageService.h"
#include "kit/RunRecords.h"
#include "sessions/ModeCatalogue.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

namespace {

// Also when the journal's buffer is written out.
constexpr int kClockMs = 250;

// A record keeps at most this many of a run's channels and outcomes: the
// largest window takes 1000, a schedule as many.
constexpr int kRecordedChannels = 10000;
constexpr int kDutTagLength = 64;

// The menu entry a window opened outside the menu stands for: the one entry
// naming it with these variant values, if only one does.
int modeOf(const QString& window, const WindowContext& context) {
  int found = -1;
  for (int i = 0; i < kModeCount; ++i) {
    const ModeEntry& e = kModeCatalogue[std::size_t(i)];
    if (!e.window || window != QLatin1String(e.window)) continue;
    if (e.subMode >= 0 && e.subMode != context.SubMode) continue;
    if (e.positiveLogic >= 0 && e.positiveLogic != context.PositiveLogic) continue;
    if (found >= 0) return -1;
    found = i;
  }
  return found;
}

QString clockText(qint64 ms) {
  const qint64 s = ms / 1000;
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600, 2, 10, QLatin1Char('0'))
      .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString withLogSuffix(const QString& name) {
  return QFileInfo(name).suffix().isEmpty() ? name + QStringLiteral(".log") : name;
}

QString lastLogFolder() {
  const QString kept = readStoredSetting(QStringLiteral("Log"), QStringLiteral("LastFolder"));
  return !kept.isEmpty() && QFileInfo(kept).isDir() ? kept : QDir::homePath();
}

bool rememberLogFolder(const QString& savedFile) {
  const QString folder = QFileInfo(savedFile).absolutePath();
  if (readStoredSetting(QStringLiteral("Log"), QStringLiteral("LastFolder")) == folder) return true;
  return writeStoredSetting(QStringLiteral("Log"), QStringLiteral("LastFolder"), folder);
}

QString proposedLogFile(const QString& window, const QDateTime& now) {
  return QDir(lastLogFolder())
      .filePath(window + now.toString(QStringLiteral("_yyyyMMdd-HHmm")) + QStringLiteral(".log"));
}

void saveLogFile(QWidget* owner, bool hasLines, const std::function<QString()>& chooseName,
                 const std::function<bool(QIODevice&)>& body, LogTextFormat format) {
  if (!hasLines) {
    MsgBox(owner, QStringLiteral("一覧に履歴が存在しません。"), MsgIcon::Information);
    return;
  }
  const QString name = chooseName();
  if (name.isEmpty()) return;
  if (QFileInfo::exists(name) &&
      MsgBox(owner, QStringLiteral("指定のファイルは既に存在します。上書きしてよろしいですか？"), MsgIcon::Question,
             kTitle3J, MsgButtons::YesNo) != MsgAnswer::Yes)
    return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Written whole or not at all: a failure leaves the previous file as it was.
  const bool ok = saveAtomically(name, [&body, format](QIODevice& out) {
                    const QByteArray header = logFileHeader(QDateTime::currentDateTime(), format);
                    return out.write(header) == header.size() && body(out);
                  }).ok;
  QApplication::restoreOverrideCursor();
  if (ok)
    MsgBox(owner, QStringLiteral("正常に出力されました。"), MsgIcon::Information);
  else
    MsgBox(owner, QStringLiteral("ログファイル出力に失敗しました。"), MsgIcon::Critical);
}

TestWindow::TestWindow(const WindowContext& context, const TestWindowSpec& spec, const QString& port)
    : TestWindow(context.parent, spec) {
  mode_ = context.Mode >= 0 ? context.Mode : modeOf(spec.name, context);
  port_ = port;
  variant_ = {{QStringLiteral("window"), spec.name},
              {QStringLiteral("subMode"), context.SubMode},
              {QStringLiteral("positiveLogic"), context.PositiveLogic}};
}

TestWindow::TestWindow(QWidget* parent, const TestWindowSpec& spec) : QDialog(parent) {
  setObjectName(spec.name);
  setWindowTitle(spec.designCaption);
  setFont(japaneseFont(kGothic));

  log = new LogModel(spec.log, this);
  events_.attach(*log);
  events_.attach(progress_);
  RunVerdict = new VerdictPanel;
  events_.attach(RunVerdict->events());
  // After the verdict: a run's record carries the verdict the panel shows.
  records_.window = this;
  events_.attach(records_);
  FG1 = new LogGrid(log);
  if (spec.panel) panel = new EntryPanel(*spec.panel);

  auto* buttons = new QGridLayout;
  for (const ButtonSpec& b : spec.buttons) {
    auto* button = new QPushButton(b.caption);
    button->setObjectName(QStringLiteral("CmdAction(%1)").arg(b.index));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i = b.index] { pressed(i); });
    if (CmdAction.size() <= b.index) CmdAction.resize(b.index + 1);
    CmdAction[b.index] = button;
    buttons->addWidget(button, b.row, b.column);
    // Play and stop from the keyboard, where the window has them.
    if ((b.index == 0 && b.caption == QStringLiteral("再生")) ||
        (b.index == 1 && b.caption == QStringLiteral("停止"))) {
      const QKeySequence key(b.index == 0 ? Qt::Key_F5 : Qt::Key_F6);
      button->setShortcut(key);
      button->setToolTip(QStringLiteral("%1 (%2)").arg(b.caption, key.toString(QKeySequence::NativeText)));
    }
  }
  auto* side = new QVBoxLayout;
  side->addLayout(buttons);
  extras_ = new QVBoxLayout;
  side->addLayout(extras_);
  side->addStretch(1);

  // The window asks before it overwrites, in its own words: the dialog must not ask too.
  chooseLogFile = [this] {
    return QFileDialog::getSaveFileName(this, {}, proposedLogFile(objectName(), QDateTime::currentDateTime()),
                                        QStringLiteral("*.log"), nullptr, QFileDialog::DontConfirmOverwrite);
  };
  if (spec.logTools) {
    // One format for the window's life: the journal is copied into saved logs.
    log->setTextFormat(logTextFormat());
    log->setJournal(LogJournal::open(spec.name, log->textFormat()));
    CmdSaveLog = new QPushButton(QStringLiteral("ログ保存"));
    CmdSaveLog->setObjectName(QStringLiteral("CmdSaveLog"));
    CmdSaveLog->setAutoDefault(false);
    connect(CmdSaveLog, &QPushButton::clicked, this, &TestWindow::SaveLog);
    CmdSaveLog->setShortcut(QKeySequence::Save);
    CmdSaveLog->setToolTip(
        QStringLiteral("ログ保存 (%1)").arg(CmdSaveLog->shortcut().toString(QKeySequence::NativeText)));
    auto* save = new QAction(QStringLiteral("ログ保存..."), FG1);
    connect(save, &QAction::triggered, this, &TestWindow::SaveLog);
    FG1->addAction(save);
    RunStatus = new QLabel;
    RunStatus->setObjectName(QStringLiteral("RunStatus"));
    RunStatus->setAccessibleName(QStringLiteral("進行状況"));
    JournalStatus = new QLabel;
    JournalStatus->setObjectName(QStringLiteral("JournalStatus"));
    JournalStatus->setAccessibleName(QStringLiteral("ログの記録"));
    JournalStatus->setWordWrap(true);
    side->addWidget(CmdSaveLog);
    side->addWidget(RunStatus);
    side->addWidget(JournalStatus);
    checkJournal();
    clock_.setInterval(kClockMs);
    connect(&clock_, &QTimer::timeout, this, &TestWindow::tick);
    clock_.start();
  }

  auto* top = new QHBoxLayout;
  if (panel) top->addWidget(panel, 1);
  top->addLayout(side);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(FG1, 1);
  DutTag = new QLineEdit;
  DutTag->setObjectName(QStringLiteral("DutTag"));
  DutTag->setAccessibleName(QStringLiteral("DUT"));
  DutTag->setMaxLength(kDutTagLength);
  auto* dutLabel = new QLabel(QStringLiteral("DUT"));
  dutLabel->setBuddy(DutTag);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(RunVerdict, 1);
  bottom->addWidget(dutLabel, 0, Qt::AlignTop);
  bottom->addWidget(DutTag, 0, Qt::AlignTop);
  layout->addLayout(bottom);
}

void TestWindow::RecordEvents::runStarted(const RunStarted& e) {
  open = true;
  started = QDateTime::currentDateTimeUtc();
  channels = e.channels.mid(0, kRecordedChannels);
  total = e.total;
  outcomes.clear();
}

void TestWindow::RecordEvents::channelVerdict(const ChannelVerdict& e) {
  if (!open) return;
  auto at = outcomes.find(e.channel);
  if (at != outcomes.end())
    *at = *at && e.ok;  // judged twice: NG once stays NG
  else if (outcomes.size() < kRecordedChannels)
    outcomes.insert(e.channel, e.ok);
}

void TestWindow::RecordEvents::runFinished(const RunFinished&) {
  // A port lost between runs ends no run of the operator's.
  if (!open) return;
  open = false;
  window->recordRun(*this);
}

void TestWindow::recordRun(const RecordEvents& run) {
  RunRecordSink* sink = runRecordSink();
  if (!sink) return;
  const Measurements& m = RunVerdict->measurements();
  const Verdict v = RunVerdict->verdict().value_or(judge(m, {}));
  results::Record r;
  r.id = results::newRecordId();
  r.station = results::stationName();
  r.dut = DutTag->text().trimmed();
  r.mode = mode_;
  r.port = port_;
  QJsonObject options = variant_;
  if (options.isEmpty()) options.insert(QStringLiteral("window"), objectName());
  QJsonArray channels;
  for (qint64 c : run.channels) channels.append(c);
  options.insert(QStringLiteral("channels"), channels);
  options.insert(QStringLiteral("total"), run.total);
  r.options = options;
  r.started = run.started;
  r.ended = QDateTime::currentDateTimeUtc();
  r.pass = v.pass();
  r.failure = v.failure;
  r.reason = v.pass() ? QString() : reasonText(v);
  r.measured = m;
  for (auto it = run.outcomes.cbegin(); it != run.outcomes.cend(); ++it) r.channels.append({it.key(), it.value()});
  if (LogJournal* journal = log->journal()) {
    // The record points at the run's lines: have them on disk.
    if (!journal->flush() && JournalStatus) checkJournal();
    r.journal = journal->path();
  }
  sink->record(std::move(r));
}

void TestWindow::ProgressEvents::runStarted(const RunStarted& e) {
  if (e.total == 0) return;
  shown = {0, e.total, true};
  outcome.reset();
}

void TestWindow::ProgressEvents::progress(const Progress& p) {
  if (!shown.running) return;
  shown.sent = p.sent;
  shown.total = p.total;
}

void TestWindow::ProgressEvents::runFinished(const RunFinished& e) {
  if (!shown.running) return;
  shown.running = false;
  outcome = e.outcome;
}

void TestWindow::showLoaded(const QString& caption) {
  loaded_ = true;
  // Whatever a window adds, no button of a test window is a default button:
  // Return in an entry box must not press one.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
  setShiftJisCharset(this);
  setWindowTitle(caption);
}

void TestWindow::SaveLog() {
  const auto choose = [this] {
    const QString name = chooseLogFile();
    if (name.isEmpty()) return name;
    const QString full = withLogSuffix(name);
    if (!rememberLogFolder(full)) qWarning("the folder of the saved log could not be kept in the settings");
    return full;
  };
  saveLogFile(
      this, log->linesSinceClear() > 0, choose, [this](QIODevice& out) { return log->writeSinceClear(out); },
      log->textFormat());
}

void TestWindow::pressed(int index) {
  const RunProgress before = runProgress();
  CmdAction_Click(index);
  // Input the window refused leaves a run going on as it was.
  if (index == 0 && runProgress() != before) runStarted();
  if (index == 1) runStopped();
}

void TestWindow::runStarted() {
  const RunProgress p = runProgress();
  if (!RunStatus || !p.running) return;
  running_ = true;
  runTime_.start();
  runMs_ = 0;
  showProgress(p);
}

void TestWindow::runStopped() {
  if (!running_) return;
  running_ = false;
  runMs_ = runTime_.elapsed();
  showProgress(runProgress());
}

void TestWindow::checkJournal() {
  // Without its journal the window still logs and saves, but only the lines
  // the grid holds: the operator is told.
  QString why;
  if (!log->journal())
    why = QStringLiteral("ログの記録ファイルを作れません：%1").arg(QDir::toNativeSeparators(LogJournal::folder()));
  else if (log->journal()->failed())
    why = QStringLiteral("ログの記録ファイルに書き込めません：%1").arg(QDir::toNativeSeparators(log->journal()->path()));
  setStatus(JournalStatus, why);
  JournalStatus->setVisible(!why.isEmpty());
}

void TestWindow::tick() {
  if (log->journal()) {
    log->journal()->flush();
    if (log->journal()->failed() && JournalStatus->isHidden()) checkJournal();
  }
  if (!running_) return;
  const RunProgress p = runProgress();
  if (!p.running) {
    runStopped();
    return;
  }
  runMs_ = runTime_.elapsed();
  showProgress(p);
}

void TestWindow::showProgress(const RunProgress& p) {
  setStatus(RunStatus, QStringLiteral("送信 %1 / %2 CH　経過 %3").arg(p.sent).arg(p.total).arg(clockText(runMs_)));
}

void TestWindow::done(int result) {
  if (loaded_ && !unloaded_) {
    unloaded_ = true;
    Unload();
    clock_.stop();
    if (log->journal()) log->journal()->flush();
  }
  QDialog::done(result);
}

void TestWindow::keyPressEvent(QKeyEvent* event) {
  // Escape would close the window and end the unit's run; Return would press
  // a default button. Only 終了 and the title bar close a test window.
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: event->accept(); return;
    default: QDialog::keyPressEvent(event);
  }
}

}  // namespace kestrel
