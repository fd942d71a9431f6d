#pragma once

#include "sessions/BriskSession.h"

#include "kit/MessageService.h"
#include "kit/TestWindows.h"

#include <QDialog>
#include <QList>
#include <QTableWidget>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

class Pause;
class SerialLink;

// The frame table: Enter moves on to the next cell instead of pressing a
// button, and the current row shows in cyan.
class FrameGrid : public QTableWidget {
  Q_OBJECT
 public:
  explicit FrameGrid(QWidget* parent = nullptr);
  void moveToNextCell();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// Edits a table of short command frames and sends them to the unit.
class FrmBrisk : public QDialog {
  Q_OBJECT
 public:
  explicit FrmBrisk(const WindowContext& context = {});
  FrmBrisk(const WindowContext& context, Pause& pause);
  ~FrmBrisk() override;

  BriskSession& session() { return session_; }
  // "data.dat" in the application's folder.
  QString dataFile() const;

  SerialLink* PDQ_Comm;
  QList<QRadioButton*> Option1;
  QLineEdit* TxtIoTime;
  FrameGrid* FlexGrid1;
  QList<QPushButton*> Command1;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Command1_Click(int index);
  // The session's table and selection onto the grid.
  void showTable();
  void paintCurrentRow(int previous);

  QString appFolder_;  // where data.dat is kept
  int comPort_;
  SerialLink* link_;
  WindowPrompter prompter_{this};
  BriskSession session_;
  bool showing_ = false;
};

}  // namespace kestrel
