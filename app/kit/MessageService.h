#pragma once
// Every message box of the application goes through one service, so tests
// can answer and record them without a modal loop.

#include "core/Prompter.h"

#include <QString>

class QWidget;

namespace kestrel {

class Prompt {
 public:
  virtual ~Prompt() = default;
  virtual MsgAnswer ask(const Message& message, QWidget* owner) = 0;
};

// The installed service (a modal QMessageBox unless replaced).
Prompt& prompt();
// Replaces the service; nullptr restores the message box. Not owned.
void installPrompt(Prompt* replacement);

// Shorthand for the common call.
MsgAnswer MsgBox(QWidget* owner, const QString& text, MsgIcon icon = MsgIcon::None, const QString& title = kTitle3J,
                 MsgButtons buttons = MsgButtons::Ok);

// A session's questions shown as message boxes over a window.
class WindowPrompter final : public Prompter {
 public:
  explicit WindowPrompter(QWidget* owner = nullptr) : owner_(owner) {}
  using Prompter::ask;
  MsgAnswer ask(const Message& message) override { return prompt().ask(message, owner_); }

 private:
  QWidget* owner_;
};

}  // namespace kestrel
