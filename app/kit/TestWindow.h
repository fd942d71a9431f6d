#pragma once
// What every test window is made of, serial or binary: its log grid, an
// optional entry panel and the CmdAction buttons, keys that cannot end a run,
// and one unload however the window is closed. Below the buttons: saving the
// log and a run's progress and time.

#include "kit/EntryPanel.h"
#include "kit/LogGrid.h"
#include "kit/TestWindows.h"
#include "kit/VerdictPanel.h"
#include "sessions/ModeProfile.h"

#include <QDateTime>
#include <QDialog>
#include <QJsonObject>
#include <QMap>
#include <QElapsedTimer>
#include <QList>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

class QBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

// The log-file dialogue both kinds of log share: nothing to save, the file
// name, overwrite, then the header line and `body`, whole or not at all.
void saveLogFile(QWidget* owner, bool hasLines, const std::function<QString()>& chooseName,
                 const std::function<bool(QIODevice&)>& body, LogTextFormat format = LogTextFormat::Cp932Crlf);

// The name ログ保存 proposes: the window's name and the time, in the folder
// a log was last saved to (the home folder at first).
QString proposedLogFile(const QString& window, const QDateTime& now);
// `name`, with ".log" added when it has no suffix.
QString withLogSuffix(const QString& name);
QString lastLogFolder();
// Keeps the folder of a saved log for the next proposal; false when the
// settings store could not be written.
bool rememberLogFolder(const QString& savedFile);

struct TestWindowSpec {
  QString name;           // the window's object name
  QString designCaption;  // until the window has loaded
  LogGridStyle log{};
  std::optional<EntryPanelSpec> panel{};
  std::vector<ButtonSpec> buttons{};
  // ログ保存 and the run's progress; off where a window saves its own log.
  bool logTools = true;
};

// How far a list run is: channels sent of the list's total, and whether the
// run still goes on (the last frame may still await its answer).
struct RunProgress {
  int sent = 0;
  int total = 0;
  bool running = false;

  bool operator==(const RunProgress&) const = default;
};

class TestWindow : public QDialog {
  Q_OBJECT
 public:
  EntryPanel* panel = nullptr;
  LogModel* log;
  LogGrid* FG1;
  // By index; nullptr where the window has no button of that index.
  QList<QPushButton*> CmdAction;
  QPushButton* CmdSaveLog = nullptr;
  QLabel* RunStatus = nullptr;
  // Says when the journal could not be made or written; hidden otherwise.
  QLabel* JournalStatus = nullptr;
  // Below everything documented: the last run's verdict and measurements.
  VerdictPanel* RunVerdict;
  // Beside the verdict: the operator's tag for the unit, kept between runs
  // and put in each run's record.
  QLineEdit* DutTag;
  // Asks where to save the log; a dialog unless a test puts in its own.
  std::function<QString()> chooseLogFile;

  // ログ保存: the lines since the last clear, after the saved log's header.
  void SaveLog();
  // How far the last list run is, as its session reported it. In every
  // test window CmdAction(0) starts a run and CmdAction(1) stops it: the
  // clock starts when a press of the first changes the run, and stops at the
  // second or when the run no longer goes on.
  RunProgress runProgress() const { return progress_.shown; }
  // How the last run ended; nothing while it goes on or before the first.
  std::optional<RunOutcome> runOutcome() const { return progress_.outcome; }
  bool clockRunning() const { return running_; }
  // What the window's session reports to: the log, then the run's progress.
  SessionEvents& sessionEvents() { return events_; }

 protected:
  TestWindow(QWidget* parent, const TestWindowSpec& spec);
  // Opened by the menu: the run records say which entry and port.
  TestWindow(const WindowContext& context, const TestWindowSpec& spec, const QString& port = {});

  // No default buttons, the code page, then the caption.
  void showLoaded(const QString& caption);
  virtual void CmdAction_Click(int index) = 0;
  // Runs once, when the window closes by any way.
  virtual void Unload() = 0;
  // Where a window puts controls of its own, below the buttons.
  QBoxLayout* extras() const { return extras_; }

  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;
  // A run that ended in error (the port or board lost) stops its clock too.
  void runStopped();

 private:
  void pressed(int index);
  void runStarted();
  void tick();
  void checkJournal();
  void showProgress(const RunProgress& p);

  // The run's progress from the session's events. A run without channels
  // (a schedule check) is no list run and shows none.
  struct ProgressEvents : SessionEvents {
    void AddLog(const QString&, LineKind) override {}
    void runStarted(const RunStarted& e) override;
    void progress(const Progress& p) override;
    void runFinished(const RunFinished& e) override;
    RunProgress shown;
    std::optional<RunOutcome> outcome;
  };

  // Each run that starts and ends becomes a record for the application's sink.
  struct RecordEvents : SessionEvents {
    void AddLog(const QString&, LineKind) override {}
    void runStarted(const RunStarted& e) override;
    void channelVerdict(const ChannelVerdict& e) override;
    void runFinished(const RunFinished& e) override;
    TestWindow* window = nullptr;
    bool open = false;
    QDateTime started;
    QList<qint64> channels;
    int total = 0;
    QMap<int, bool> outcomes;
  };
  void recordRun(const RecordEvents& run);

  SessionEventFan events_;
  ProgressEvents progress_;
  RecordEvents records_;
  int mode_ = -1;
  QString port_;
  QJsonObject variant_;
  QBoxLayout* extras_;
  QTimer clock_;
  QElapsedTimer runTime_;
  qint64 runMs_ = 0;
  bool running_ = false;
  bool loaded_ = false;
  bool unloaded_ = false;
};

}  // namespace kestrel
