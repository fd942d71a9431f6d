#include "TestWindowList.h"

#include "serial/FrmRS232CMode2.h"
#include "shell/TestWindows.h"

namespace kestrel {

void registerTestWindows() {
  registerTestWindow(QStringLiteral("FrmRS232CMode2"), [](QWidget* parent) { return new FrmRS232CMode2(parent); });
}

}  // namespace kestrel
