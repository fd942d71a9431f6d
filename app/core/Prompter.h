#pragma once
// A question or notice a session puts to whoever drives it. A window shows
// it as a message box; the runner answers it from its options. Sessions never
// open dialogs themselves.

#include <QString>

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

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual MsgAnswer ask(const Message& message) = 0;

  MsgAnswer ask(const QString& text, MsgIcon icon = MsgIcon::None, const QString& title = kTitle3J,
                MsgButtons buttons = MsgButtons::Ok) {
    return ask(Message{title, text, icon, buttons});
  }
};

}  // namespace kestrel
