#pragma once
// What every serial test window is made of: its port, its log grid, an
// optional entry panel and the CmdAction buttons; the window adds its session
// and a few lines of data.

#include "EntryPanel.h"
#include "LogGrid.h"
#include "PortSetup.h"

#include <QDialog>
#include <QList>
#include <optional>
#include <utility>
#include <vector>

class QBoxLayout;
class QPushButton;

namespace kestrel {

class Pause;
class SerialLink;
class SerialSession;

struct ButtonSpec {
  int index;  // CmdAction(index)
  QString caption;
  int row;
  int column;
};

struct SerialFormSpec {
  QString name;           // the window's object name
  QString designCaption;  // until the window has loaded
  PortProfile port;
  LogGridStyle log{};
  std::optional<EntryPanelSpec> panel{};
  std::vector<ButtonSpec> buttons{};
};

class SerialTestForm : public QDialog {
  Q_OBJECT
 public:
  ~SerialTestForm() override;

  SerialLink* PDQ_COM;
  EntryPanel* panel = nullptr;
  LogModel* log;
  LogGrid* FG1;
  // By index; nullptr where the window has no button of that index.
  QList<QPushButton*> CmdAction;

 protected:
  SerialTestForm(QWidget* parent, const SerialFormSpec& spec);

  // The load: caption, InitForm, then the port. Called by the window once
  // its session exists.
  void load(SerialSession& session, const QString& caption);
  // Puts the window into its initial state; windows add their own controls.
  virtual void InitForm();
  virtual void CmdAction_Click(int index) = 0;
  // The port's communication event; the session's handler unless a window
  // wraps it.
  virtual void PDQ_COM_OnComm(int event);
  // Where a window puts controls of its own, below the buttons.
  QBoxLayout* extras() const { return extras_; }

  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  PortProfile port_;
  SerialSession* session_ = nullptr;
  QBoxLayout* extras_;
  bool unloaded_ = false;
};

// A window and the session it drives, made right after the port and log it
// talks through.
template <class Session>
class SessionForm : public SerialTestForm {
 public:
  Session& session() { return session_; }

 protected:
  // `args` lead the session's own arguments (a variant, say).
  template <class... Args>
  SessionForm(QWidget* parent, const SerialFormSpec& spec, Pause& pause, Args&&... args)
      : SerialTestForm(parent, spec), session_(std::forward<Args>(args)..., *PDQ_COM, *log, pause) {}

  using SerialTestForm::load;
  void load(const QString& caption) { SerialTestForm::load(session_, caption); }

  Session session_;
};

}  // namespace kestrel
