#pragma once
// The two schedule read-back windows: one form over FenwickSession, told
// apart by their variant.

#include "sessions/FenwickSession.h"
#include "kit/MessageService.h"
#include "kit/SerialTestForm.h"

#include <QTimer>
#include <functional>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

// Timer1: a single-shot Qt timer behind the session's interface.
class FenwickForm : public SessionForm<FenwickSession> {
  Q_OBJECT
 public:
  QLineEdit* TxtPath;
  QPushButton* CmdPath;
  QList<QRadioButton*> OptOutMode;   // FrmFenwick only
  QLineEdit* TxtCh = nullptr;        // FrmFenwick only
  QLineEdit* TextStartCH = nullptr;  // FrmFenwick1000CH only
  QLineEdit* TextEndCH = nullptr;    // FrmFenwick1000CH only
  QPushButton* CmdOutput;
  QPushButton* CmdLog;
  QPushButton* CmdClear;
  QPushButton* CmdEnd;
  FormTimer Timer1;

  void CmdPath_Click();
  void CmdOutput_Click();
  void CmdLog_Click();

 protected:
  FenwickForm(const WindowContext& context, Pause& pause, const FenwickVariant& variant, const QString& name);
  void CmdAction_Click(int) override {}
  void PDQ_COM_OnComm(int event) override;

 private:
  // Runs a handler; a fault nobody foresaw is shown with the handler's name.
  // Returns false after such a fault.
  bool guarded(const QString& procedure, const std::function<void()>& handler);
  // The checked request, or nothing after the check's message.
  std::optional<FenwickSession::Request> request();

  WindowPrompter prompter_{this};
};

class FrmFenwick : public FenwickForm {
  Q_OBJECT
 public:
  explicit FrmFenwick(const WindowContext& context = {});
  FrmFenwick(const WindowContext& context, Pause& pause);
};

class FrmFenwick1000CH : public FenwickForm {
  Q_OBJECT
 public:
  explicit FrmFenwick1000CH(const WindowContext& context = {});
  FrmFenwick1000CH(const WindowContext& context, Pause& pause);
};

}  // namespace kestrel
