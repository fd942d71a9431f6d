#pragma once
// What every serial test window is made of: its port, its log grid, an
// optional entry panel and the CmdAction buttons; the window adds its session
// and a few lines of data.

#include "kit/PortSetup.h"
#include "kit/TestWindow.h"

#include <optional>
#include <utility>
#include <vector>

namespace kestrel {

class Pause;
class SerialLink;
class SerialSession;

struct SerialFormSpec {
  QString name;
  QString designCaption;
  PortProfile port;
  LogGridStyle log{};
  std::optional<EntryPanelSpec> panel{};
  std::vector<ButtonSpec> buttons{};
  bool logTools = true;

  TestWindowSpec window() const { return {name, designCaption, log, panel, buttons, logTools}; }
};

// A mode's window: named as the menu names it, with the mode's port, entry
// panel and buttons.
SerialFormSpec serialFormSpec(const ModeProfile& mode, const QString& designCaption);

class SerialTestForm : public TestWindow {
  Q_OBJECT
 public:
  ~SerialTestForm() override;

  SerialLink* PDQ_COM;
  // Below the documented buttons, shown only while the port is lost.
  QPushButton* CmdReopen;

  // Opens the lost port again as the load opened it, and logs how it went.
  void ReopenPort();

 protected:
  SerialTestForm(const WindowContext& context, const SerialFormSpec& spec);

  // The load: caption, InitForm, then the port. Called by the window once
  // its session exists.
  void load(SerialSession& session, const QString& caption);
  // Puts the window into its initial state; windows add their own controls.
  virtual void InitForm();
  // The port's communication event; the session's handler unless a window
  // wraps it.
  virtual void PDQ_COM_OnComm(int event);
  void Unload() override;

 private:
  PortProfile port_;
  int comPort_;
  SerialSession* session_ = nullptr;
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
  SessionForm(const WindowContext& context, const SerialFormSpec& spec, Pause& pause, Args&&... args)
      : SerialTestForm(context, spec), session_(std::forward<Args>(args)..., *PDQ_COM, sessionEvents(), pause) {}

  using SerialTestForm::load;
  void load(const QString& caption) { SerialTestForm::load(session_, caption); }

  Session session_;
};

}  // namespace kestrel
