#pragma once
// Test windows by name. Each window module registers its factory; the menu
// opens what is registered and nothing for a name that is not.

#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace kestrel {

using WindowFactory = std::function<QDialog*(QWidget* parent)>;

void registerTestWindow(const QString& name, WindowFactory factory);
void unregisterTestWindow(const QString& name);
WindowFactory testWindowFactory(const QString& name);

}  // namespace kestrel
