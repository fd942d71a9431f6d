#include "TestWindowList.h"

#include "binary/BinaryForms.h"
#include "customer/FenwickForms.h"
#include "customer/FrmBrisk.h"
#include "serial/BufferedForms.h"
#include "serial/FrmPLX6.h"
#include "serial/FrmRS232CMode1.h"
#include "serial/FrmRS232CMode5.h"
#include "serial/Mode34Forms.h"
#include "shell/TestWindows.h"

namespace kestrel {

void registerTestWindows() {
  registerTestWindow(QStringLiteral("FrmRS232CMode1"), [](QWidget* parent) { return new FrmRS232CMode1(parent); });
  registerTestWindow(QStringLiteral("FrmRS232CMode2"), [](QWidget* parent) { return new FrmRS232CMode2(parent); });
  registerTestWindow(QStringLiteral("FrmRS232CMode2_1000CH"),
                     [](QWidget* parent) { return new FrmRS232CMode2_1000CH(parent); });
  registerTestWindow(QStringLiteral("FrmTARN4RS1000CH"), [](QWidget* parent) { return new FrmTARN4RS1000CH(parent); });
  registerTestWindow(QStringLiteral("FrmRS232CMode3"), [](QWidget* parent) { return new FrmRS232CMode3(parent); });
  registerTestWindow(QStringLiteral("FrmRS232CMode4"), [](QWidget* parent) { return new FrmRS232CMode4(parent); });
  registerTestWindow(QStringLiteral("FrmRS232CMode5"), [](QWidget* parent) { return new FrmRS232CMode5(parent); });
  registerTestWindow(QStringLiteral("FrmPLX6"), [](QWidget* parent) { return new FrmPLX6(parent); });
  registerTestWindow(QStringLiteral("FrmBrisk"), [](QWidget* parent) { return new FrmBrisk(parent); });
  registerTestWindow(QStringLiteral("FrmFenwick"), [](QWidget* parent) { return new FrmFenwick(parent); });
  registerTestWindow(QStringLiteral("FrmFenwick1000CH"), [](QWidget* parent) { return new FrmFenwick1000CH(parent); });
  registerTestWindow(QStringLiteral("FrmBiMode7Q"), [](QWidget* parent) { return new FrmBiMode7Q(parent); });
  registerTestWindow(QStringLiteral("FrmBiMode1000CH"), [](QWidget* parent) { return new FrmBiMode1000CH(parent); });
  registerTestWindow(QStringLiteral("FrmBinaryMode2"), [](QWidget* parent) { return new FrmBinaryMode2(parent); });
}

}  // namespace kestrel
