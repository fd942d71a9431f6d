#include "kit/AppEnd.h"

#include <QApplication>
#include <QWidget>

namespace kestrel {

namespace {
std::function<void()>& handler() {
  static std::function<void()> h;
  return h;
}
}  // namespace

void EndApplication() {
  if (handler()) {
    handler()();
    return;
  }
  for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
  QCoreApplication::exit(0);
}

void installApplicationEnd(std::function<void()> h) { handler() = std::move(h); }

}  // namespace kestrel
