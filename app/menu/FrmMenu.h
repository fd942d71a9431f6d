#pragma once

#include "sessions/ModeCatalogue.h"

#include <QList>
#include <QTimer>
#include <QWidget>
#include <memory>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kestrel {

struct BenchState;
class WexfordApi;
namespace results {
class Recorder;
}

// The main menu: the mode catalogue and the start, settings and exit buttons.
class FrmMenu : public QWidget {
  Q_OBJECT
 public:
  FrmMenu(BenchState& bench, WexfordApi& board, QWidget* parent = nullptr);
  explicit FrmMenu(BenchState& bench);
  ~FrmMenu() override;

  // Handed to a shared test window as it opens; an entry that sets none
  // leaves the last one.
  qint16 SubMode = 0;
  qint16 PositiveLogic = 0;

  // Trial open of the expansion board before a binary window opens.
  bool CheckBoardConnection();

  QList<QLabel*> LblTitle;
  QLabel* Label1;
  QLabel* Image1;
  QGroupBox* FrMenu;
  QList<QRadioButton*> ExecMode;
  QList<QPushButton*> Command1;
  // Below the documented menu: the results window, and how the recording of
  // run results stands (shown when something is pending or went wrong).
  QPushButton* CmdResults;
  QLabel* ResultsStatus;

  // Where run results go now: the location's text, and its recorder (none
  // when the location is not valid).
  QString resultsLocation() const { return resultsLocation_; }
  results::Recorder* recorder() const { return recorder_.get(); }
  // Reads the recorder's status into ResultsStatus; the timer calls it.
  void showRecorderStatus();
  // Starts recording to the chosen location, if it differs from the current one.
  void startRecorder();

  static constexpr int kStatusPollMs = 1000;

 private:
  void Command1_Click(int index);
  void startSelectedMode();
  bool passGate(Gate gate);

  BenchState& bench_;
  WexfordApi& board_;
  QButtonGroup* modes_;
  struct Sink;
  std::unique_ptr<Sink> sink_;
  std::unique_ptr<results::Recorder> recorder_;
  QString resultsLocation_;
  QString resultsProblem_;  // the location itself is not valid
  QTimer statusPoll_;
};

}  // namespace kestrel
