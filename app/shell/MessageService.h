#pragma once
// Every message box of the application goes through one service, so tests
// can answer and record them without a modal loop.

#include <QString>

class QWidget;

namespace kestrel {

inline const QString kTitle3J = QStringLiteral("Kestrel Tester 3J");
inline const QString kTitle = QStringLiteral("Kestrel Tester");

enum class MsgIcon { None, Information, Exclamation, Critical, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry };

struct Message {
  QString title;
  QString text;
  MsgIcon icon = MsgIcon::None;
  MsgButtons buttons = MsgButtons::Ok;
  bool operator==(const Message&) const = default;
};

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

}  // namespace kestrel
