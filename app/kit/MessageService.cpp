#include "kit/MessageService.h"

#include <QMessageBox>

namespace kestrel {
namespace {

QMessageBox::Icon boxIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Critical: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons boxButtons(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case MsgButtons::Ok: break;
  }
  return QMessageBox::Ok;
}

MsgAnswer answerOf(int button) {
  switch (button) {
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Retry: return MsgAnswer::Retry;
    default: return MsgAnswer::Ok;
  }
}

class MessageBoxPrompt final : public Prompt {
 public:
  MsgAnswer ask(const Message& m, QWidget* owner) override {
    // Texts keep their Windows line breaks; the box shows them as plain breaks.
    QString text = m.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(boxIcon(m.icon), m.title, text, boxButtons(m.buttons), owner);
    return answerOf(box.exec());
  }
};

MessageBoxPrompt defaultPrompt;
Prompt* current = &defaultPrompt;

}  // namespace

Prompt& prompt() { return *current; }

void installPrompt(Prompt* replacement) { current = replacement ? replacement : &defaultPrompt; }

MsgAnswer MsgBox(QWidget* owner, const QString& text, MsgIcon icon, const QString& title, MsgButtons buttons) {
  return prompt().ask({title, text, icon, buttons}, owner);
}

}  // namespace kestrel
