#include "kit/FocusSelect.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace kestrel {

void SelectAllText() {
  QWidget* focused = QApplication::focusWidget();
  if (auto* line = qobject_cast<QLineEdit*>(focused)) {
    line->setSelection(0, int(line->text().size()));
  } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(focused)) {
    spin->selectAll();
  } else if (auto* text = qobject_cast<QTextEdit*>(focused)) {
    text->selectAll();
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(focused)) {
    plain->selectAll();
  }
}

namespace {
class SelectOnFocus final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::FocusIn) return false;
    // Let the box take the focus first; it would otherwise drop the selection.
    static_cast<QLineEdit*>(watched)->event(event);
    SelectAllText();
    return true;
  }
};
}  // namespace

void selectAllOnFocus(QLineEdit* box) { box->installEventFilter(new SelectOnFocus(box)); }

}  // namespace kestrel
