// The frame editor through its real form, on a pseudo-terminal against a
// unit that records what it is sent.
#include "customer/FrmBrisk.h"
#include "serial/SerialLink.h"
#include "shell/Globals.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"
#include "unit/UnitSimulator.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

class BriskWindow : public ::testing::Test {
 protected:
  BriskWindow() { AppFolder = dir.path(); }
  ~BriskWindow() override { AppFolder.clear(); }
  QByteArray received() const {
    const sim::Bytes bytes = unit.received();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  }
  void type(int row, int column, const QString& text) {
    form.FlexGrid1->setCurrentCell(row, column);
    form.FlexGrid1->item(row, column)->setText(text);
  }

  QTemporaryDir dir;
  RecordingPrompt prompt;
  sim::UnitSimulator unit{{.silent = true}};
  // Started before the port is pointed at it and the window opens it.
  QString slave = (unit.start(), QString::fromStdString(unit.slavePath()));
  ComPortOverride com1{1, slave};
  FrmBrisk form;
};

}  // namespace

TEST_F(BriskWindow, TableSavedReloadedAndSentWithThePauses) {
  ASSERT_TRUE(form.PDQ_Comm->isOpen());
  EXPECT_EQ(form.PDQ_Comm->settings(), QStringLiteral("9600,E,7,1"));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("TARN5-NV制御（ORIS-9モード）"));
  type(0, 1, "1");
  type(0, 2, "5");
  type(1, 1, "16");
  type(1, 2, "123");
  type(2, 1, "11");
  type(2, 2, "42");
  form.Command1[4]->click();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("正常に保存されました    "));
  form.Command1[6]->click();  // clear all, then load it back
  form.Command1[1]->click();
  EXPECT_EQ(form.FlexGrid1->item(2, 2)->text(), QStringLiteral("42"));
  form.TxtIoTime->setText("100");
  form.Command1[3]->click();
  ASSERT_TRUE(unit.waitForBytes(18, 2000ms));
  EXPECT_EQ(received(), QByteArray("@0005\r@?123\r@:042\r"));
  const auto arrivals = unit.arrivals();
  ASSERT_EQ(arrivals.size(), 3u);
  for (std::size_t i = 1; i < arrivals.size(); ++i) EXPECT_GE(arrivals[i].at - arrivals[i - 1].at, 95ms);
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("3フレーム分送信完了しました　 "));
  EXPECT_EQ(form.FlexGrid1->currentRow(), 3);
}

TEST_F(BriskWindow, EnterMovesOnAndTheCurrentRowIsCyan) {
  form.show();
  QApplication::setActiveWindow(&form);
  form.FlexGrid1->setFocus();
  form.FlexGrid1->setCurrentCell(0, 1);
  QTest::keyClicks(form.FlexGrid1, "7");  // opens the cell for editing
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(form.session().Event[1], QStringLiteral("7"));
  EXPECT_EQ(form.FlexGrid1->currentColumn(), 2);
  QTest::keyClick(form.FlexGrid1, Qt::Key_Return);
  EXPECT_EQ(form.FlexGrid1->currentRow(), 1);
  EXPECT_EQ(form.FlexGrid1->currentColumn(), 1);
  EXPECT_EQ(form.FlexGrid1->item(1, 2)->background().color(), QColor(0x00, 0xFF, 0xFF));
  EXPECT_EQ(form.FlexGrid1->item(0, 2)->background().color(), QColor(Qt::white));
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(prompt.messages.empty());
  form.Option1[1]->click();
  form.Command1[0]->click();
  EXPECT_EQ(form.FlexGrid1->item(15, 2)->text(), QStringLiteral("1234"));
}
