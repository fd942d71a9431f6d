#pragma once
// What every test window is made of, serial or binary: its log grid, an
// optional entry panel and the CmdAction buttons, keys that cannot end a run,
// and one unload however the window is closed.

#include "EntryPanel.h"
#include "LogGrid.h"

#include <QDialog>
#include <QList>
#include <optional>
#include <vector>

class QBoxLayout;
class QPushButton;

namespace kestrel {

struct ButtonSpec {
  int index;  // CmdAction(index)
  QString caption;
  int row;
  int column;
};

struct TestWindowSpec {
  QString name;           // the window's object name
  QString designCaption;  // until the window has loaded
  LogGridStyle log{};
  std::optional<EntryPanelSpec> panel{};
  std::vector<ButtonSpec> buttons{};
};

class TestWindow : public QDialog {
  Q_OBJECT
 public:
  EntryPanel* panel = nullptr;
  LogModel* log;
  LogGrid* FG1;
  // By index; nullptr where the window has no button of that index.
  QList<QPushButton*> CmdAction;

 protected:
  TestWindow(QWidget* parent, const TestWindowSpec& spec);

  // No default buttons, the code page, then the caption.
  void showLoaded(const QString& caption);
  virtual void CmdAction_Click(int index) = 0;
  // Runs once, when the window closes by any way.
  virtual void Unload() = 0;
  // Where a window puts controls of its own, below the buttons.
  QBoxLayout* extras() const { return extras_; }

  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QBoxLayout* extras_;
  bool loaded_ = false;
  bool unloaded_ = false;
};

}  // namespace kestrel
