#include "kit/TestWindows.h"

#include <QHash>

namespace kestrel {

namespace {
QHash<QString, WindowFactory>& factories() {
  static QHash<QString, WindowFactory> table;
  return table;
}
}  // namespace

void registerTestWindow(const QString& name, WindowFactory factory) { factories().insert(name, std::move(factory)); }

void unregisterTestWindow(const QString& name) { factories().remove(name); }

WindowFactory testWindowFactory(const QString& name) { return factories().value(name); }

}  // namespace kestrel
