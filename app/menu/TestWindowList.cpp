#include "menu/TestWindowList.h"

#include "windows/binary/BinaryForms.h"
#include "windows/customer/FenwickForms.h"
#include "windows/customer/FrmBrisk.h"
#include "windows/serial/BufferedForms.h"
#include "windows/serial/FrmPLX6.h"
#include "windows/serial/FrmRS232CMode1.h"
#include "windows/serial/FrmRS232CMode5.h"
#include "windows/serial/Mode34Forms.h"
#include "kit/TestWindows.h"

namespace kestrel {

namespace {
template <class Window>
void add(const char* name) {
  registerTestWindow(QString::fromLatin1(name), [](const WindowContext& context) { return new Window(context); });
}
}  // namespace

void registerTestWindows() {
  add<FrmRS232CMode1>("FrmRS232CMode1");
  add<FrmRS232CMode2>("FrmRS232CMode2");
  add<FrmRS232CMode2_1000CH>("FrmRS232CMode2_1000CH");
  add<FrmTARN4RS1000CH>("FrmTARN4RS1000CH");
  add<FrmRS232CMode3>("FrmRS232CMode3");
  add<FrmRS232CMode4>("FrmRS232CMode4");
  add<FrmRS232CMode5>("FrmRS232CMode5");
  add<FrmPLX6>("FrmPLX6");
  add<FrmBrisk>("FrmBrisk");
  add<FrmFenwick>("FrmFenwick");
  add<FrmFenwick1000CH>("FrmFenwick1000CH");
  add<FrmBiMode7Q>("FrmBiMode7Q");
  add<FrmBiMode1000CH>("FrmBiMode1000CH");
  add<FrmBinaryMode2>("FrmBinaryMode2");
}

}  // namespace kestrel
