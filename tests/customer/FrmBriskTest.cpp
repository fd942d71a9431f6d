// The frame editor through its real form, on a pseudo-terminal against a
// unit that records what it is sent.
#include "windows/customer/FrmBrisk.h"
#include "link/SerialLink.h"
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
  FrmBrisk form{folder(dir.path())};

  static WindowContext folder(const QString& path) {
    WindowContext context;
    context.AppFolder = path;
    return context;
  }
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
  // The simulated unit stamps a frame when its thread reads it, which a busy
  // machine delays by some milliseconds: a gap this long is the 100 ms pause,
  // one without a pause would be under a millisecond.
  for (std::size_t i = 1; i < arrivals.size(); ++i) EXPECT_GE(arrivals[i].at - arrivals[i - 1].at, 80ms);
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

TEST_F(BriskWindow, EnterMovesExactlyOneCellWithAndWithoutTyping) {
  form.resize(900, 900);  // every row in view, for the click below
  form.show();
  QApplication::setActiveWindow(&form);
  form.FlexGrid1->setFocus();
  form.FlexGrid1->setCurrentCell(4, 1);  // frame 5, event
  // The first key typed opens the cell, the rest go to its editor, and so
  // does Enter; what that leaves queued runs before the next key.
  const auto enter = [&](const char* typed) {
    for (const char* c = typed; *c; ++c) QTest::keyClick(QApplication::focusWidget(), *c);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), form.FlexGrid1) << "the cell was left open";
    return std::pair(form.FlexGrid1->currentRow(), form.FlexGrid1->currentColumn());
  };
  EXPECT_EQ(enter("7"), std::pair(4, 2));
  EXPECT_EQ(enter("31"), std::pair(5, 1));
  EXPECT_EQ(enter(""), std::pair(5, 2));
  EXPECT_EQ(enter(""), std::pair(6, 1));
  EXPECT_EQ(enter("8"), std::pair(6, 2));
  EXPECT_EQ(form.session().Event[5], QStringLiteral("7"));
  EXPECT_EQ(form.session().Unit[5], QStringLiteral("31"));
  EXPECT_EQ(form.session().Event[6], QString());
  EXPECT_EQ(form.session().Event[7], QStringLiteral("8"));

  // Leaving an open cell by a click keeps its text and stays where clicked.
  QTest::keyClick(form.FlexGrid1, '9');
  const QRect cell = form.FlexGrid1->visualItemRect(form.FlexGrid1->item(9, 1));
  QTest::mouseClick(form.FlexGrid1->viewport(), Qt::LeftButton, {}, cell.center());
  QCoreApplication::processEvents();
  EXPECT_EQ(std::pair(form.FlexGrid1->currentRow(), form.FlexGrid1->currentColumn()), std::pair(9, 1));
  EXPECT_EQ(form.session().Unit[7], QStringLiteral("9"));

  // The last cell has no next one: Enter closes it and stays.
  form.FlexGrid1->setCurrentCell(19, 2);
  EXPECT_EQ(enter("5"), std::pair(19, 2));
  EXPECT_EQ(form.session().Unit[20], QStringLiteral("5"));
  EXPECT_TRUE(prompt.messages.empty());
}
