#include "FocusSelect.h"

#include "ModString.h"

#include <QEvent>
#include <QLineEdit>

namespace kestrel {

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
