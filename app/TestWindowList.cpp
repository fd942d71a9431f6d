#include "TestWindowList.h"

#include "serial/BufferedForms.h"
#include "serial/FrmRS232CMode1.h"
#include "shell/TestWindows.h"

namespace kestrel {

void registerTestWindows() {
  registerTestWindow(QStringLiteral("FrmRS232CMode1"), [](QWidget* parent) { return new FrmRS232CMode1(parent); });
  registerTestWindow(QStringLiteral("FrmRS232CMode2"), [](QWidget* parent) { return new FrmRS232CMode2(parent); });
  registerTestWindow(QStringLiteral("FrmRS232CMode2_1000CH"),
                     [](QWidget* parent) { return new FrmRS232CMode2_1000CH(parent); });
  registerTestWindow(QStringLiteral("FrmTARN4RS1000CH"), [](QWidget* parent) { return new FrmTARN4RS1000CH(parent); });
}

}  // namespace kestrel
