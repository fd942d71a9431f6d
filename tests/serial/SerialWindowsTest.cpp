// What every serial test window shares, tried on each window as an operator
// (or a screen reader) meets it.
#include "windows/serial/BufferedForms.h"
#include "windows/serial/FrmPLX6.h"
#include "windows/serial/FrmRS232CMode1.h"
#include "windows/serial/FrmRS232CMode5.h"
#include "windows/serial/Mode34Forms.h"
#include "link/PortHolder.h"
#include "link/SerialLink.h"
#include "kit/AppEnd.h"
#include "sessions/ModeCatalogue.h"
#include "support/MenuContext.h"
#include "support/Pty.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"
#include "support/WindowFixture.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct Window {
  const char* name;
  std::function<SerialTestForm*(Pause&)> open;
  QString caption;
  QString settings;
  std::vector<int> buttons;
};

const std::vector<Window>& windows() {
  static const std::vector<Window> all{
      {"FrmRS232CMode1",
       [](Pause& p) { return new FrmRS232CMode1(nullptr, p); },
       "RS232C制御モード1",
       "9600,N,8,1",
       {0, 1, 5, 6}},
      {"FrmRS232CMode2",
       [](Pause& p) {
         return new FrmRS232CMode2(menuContext(1), p);
       },
       "バッファ機能付RS232C制御(MAX250CH 9600,N,8,1)",
       "9600,N,8,1",
       {0, 1, 2, 3, 4, 5, 6}},
      {"FrmRS232CMode2_1000CH",
       [](Pause& p) { return new FrmRS232CMode2_1000CH(nullptr, p); },
       "バッファ機能付RS232C制御(MAX1000CH 19200,E,8,1)",
       "19200,E,8,1",
       {0, 1, 5, 6}},
      {"FrmTARN4RS1000CH",
       [](Pause& p) { return new FrmTARN4RS1000CH(nullptr, p); },
       "バッファ機能付RS232C制御 TARN4B用 LAN対応版(MAX1000CH 19200,N,8,1)",
       "19200,N,8,1",
       {0, 1, 5, 6}},
      {"FrmRS232CMode3",
       [](Pause& p) { return new FrmRS232CMode3(nullptr, p); },
       "Kestrel Tester - HS-41/42-A ｼﾘｱﾙ制御ﾓｰﾄﾞ",
       "19200,N,8,1",
       {0, 1, 2, 3, 4, 5, 6, 7}},
      {"FrmRS232CMode4",
       [](Pause& p) { return new FrmRS232CMode4(nullptr, p); },
       "Kestrel Tester - HS-41/42-B ｼﾘｱﾙ制御ﾓｰﾄﾞ",
       "19200,N,8,1",
       {0, 1, 2, 3, 4, 6, 7}},
      {"FrmRS232CMode5",
       [](Pause& p) { return new FrmRS232CMode5(nullptr, p); },
       "Kestrel Tester - ミルダ仕様ｼﾘｱﾙ制御ﾓｰﾄﾞ",
       "9600,E,8,1",
       {0, 1, 2, 3, 6, 7}},
      {"FrmPLX6", [](Pause& p) { return new FrmPLX6(nullptr, p); }, "PLX6制御モード", "4800,E,8,1", {0, 1, 2, 3}},
  };
  return all;
}

QString accessibleName(QWidget* w) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
  return a ? a->text(QAccessible::Name) : QString();
}

class SerialWindows : public WindowFixture {
 protected:
  std::unique_ptr<SerialTestForm> open(const Window& w) {
    std::unique_ptr<SerialTestForm> form(w.open(pause));
    form->show();
    QApplication::setActiveWindow(form.get());
    return form;
  }
};

}  // namespace

TEST_F(SerialWindows, CaptionPortButtonsAndAccessibleNames) {
  for (const Window& w : windows()) {
    auto form = open(w);
    EXPECT_EQ(form->objectName(), QString::fromLatin1(w.name));
    EXPECT_EQ(form->windowTitle(), w.caption) << w.name;
    EXPECT_TRUE(form->PDQ_COM->isOpen()) << w.name;
    EXPECT_EQ(form->PDQ_COM->settings(), w.settings) << w.name;
    std::vector<int> buttons;
    for (int i = 0; i < form->CmdAction.size(); ++i)
      if (form->CmdAction[i]) buttons.push_back(i);
    EXPECT_EQ(buttons, w.buttons) << w.name;

    QSet<QString> boxNames;
    for (QWidget* control : form->findChildren<QWidget*>()) {
      const bool operable =
          qobject_cast<QLineEdit*>(control) || qobject_cast<QAbstractButton*>(control) || control == form->FG1;
      if (!operable || form->FG1->isAncestorOf(control)) continue;  // the grid's own parts are the grid
      EXPECT_FALSE(accessibleName(control).isEmpty()) << w.name << " " << qPrintable(control->objectName());
      if (qobject_cast<QLineEdit*>(control)) boxNames.insert(accessibleName(control));
    }
    // The panel's boxes and the DUT tag below the verdict.
    const qsizetype boxes = form->panel->TxtNo.size() + (form->panel->TxtCh ? 1 : 0) + 1;
    EXPECT_EQ(boxNames.size(), boxes) << w.name;  // every box told apart
    EXPECT_TRUE(boxNames.contains(QStringLiteral("DUT"))) << w.name;
    EXPECT_EQ(accessibleName(form->panel->TxtNo[19]), QStringLiteral("再生番号 20"));
    EXPECT_EQ(accessibleName(form->FG1), QStringLiteral("テスト状況"));
    for (QPushButton* button : form->findChildren<QPushButton*>()) EXPECT_FALSE(button->autoDefault());
  }
  EXPECT_TRUE(prompt.messages.empty());
}

// Return in a box must not press a button (リセット emptied the list), and
// Escape must not close the window and end the unit's run.
TEST_F(SerialWindows, ReturnAndEscapeLeaveTheWindowAsItIs) {
  for (const Window& w : windows()) {
    auto form = open(w);
    form->panel->OptMode[1]->click();
    form->panel->TxtNo[0]->setFocus();
    QTest::keyClicks(form->panel->TxtNo[0], QStringLiteral("12"));
    QTest::keyClick(form->panel->TxtNo[0], Qt::Key_Return);
    QTest::keyClick(form->panel->TxtNo[0], Qt::Key_Enter);
    QTest::keyClick(form->panel->TxtNo[0], Qt::Key_Escape);
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_EQ(form->panel->TxtNo[0]->text(), QStringLiteral("12")) << w.name;
    EXPECT_TRUE(form->isVisible()) << w.name;
    QCoreApplication::processEvents();
    EXPECT_TRUE(pty.readAvailable().isEmpty()) << w.name;
    EXPECT_TRUE(form->log->lines().isEmpty()) << w.name;
  }
}

TEST_F(SerialWindows, ModeOneChecksItsOwnWayAndLogsOneRowLower) {
  auto form = open(windows()[0]);
  form->panel->OptMode[1]->click();
  form->CmdAction[0]->click();
  EXPECT_EQ(prompt.messages,
            (std::vector<Message>{{kTitle3J, kPlayNumberRequired, MsgIcon::Exclamation, MsgButtons::Ok}}));
  EXPECT_TRUE(form->panel->TxtNo[0]->hasFocus());
  form->panel->TxtNo[3]->setText("0");  // no range check: 0 goes out as 000
  form->CmdAction[0]->click();
  EXPECT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(form->panel->TxtNo[0]->text(), QStringLiteral("0"));
  EXPECT_EQ(form->log->TextMatrix(1), QStringLiteral("[送信]：STS(53h54h53h) + CR(0Dh)"));
  EXPECT_EQ(form->log->LogRow(), 1);  // the next line goes into row LogRow + 1
  QCoreApplication::processEvents();
  EXPECT_EQ(pty.readAvailable(), QByteArray("sts\r"));
  form->CmdAction[5]->click();
  EXPECT_EQ(form->log->LogRow(), 0);
}

TEST_F(SerialWindows, ModeOneBusyPortIsAPlainBoxTitled3J) {
  QProcess holder;
  holder.start(QStringLiteral(KESTREL_BIN_DIR "/hold-port"), {pty.slave()});
  ASSERT_TRUE(holder.waitForReadyRead(5000));
  auto form = open(windows()[0]);
  EXPECT_EQ(prompt.messages, (std::vector<Message>{{kTitle3J,
                                                    QStringLiteral("通信ポートをオープンできませんでした。\r\n"
                                                                   "アプリケーションを終了します。\r\n"
                                                                   "使用中：PID %1（hold-port）, %2")
                                                        .arg(holder.processId())
                                                        .arg(findPortHolder(pty.slave()).lockFile),
                                                    MsgIcon::None, MsgButtons::Ok}}));
  EXPECT_EQ(ends, 1);
  holder.closeWriteChannel();
  holder.waitForFinished();
}

TEST_F(SerialWindows, ThousandChannelWindowsTakeFourDigitsAndTheirLineNumber) {
  auto form = open(windows()[3]);
  auto& tarn4 = static_cast<FrmTARN4RS1000CH&>(*form);
  ASSERT_EQ(tarn4.OptSp.size(), 9);
  EXPECT_TRUE(tarn4.OptSp[0]->isChecked());
  EXPECT_EQ(tarn4.OptSp[8]->text(), QStringLiteral("9"));
  EXPECT_EQ(form->panel->TxtCh->text(), QStringLiteral("08"));
  EXPECT_EQ(form->panel->TxtNo[0]->maxLength(), 4);
  EXPECT_EQ(form->panel->OptMode[0]->text(), QStringLiteral("オートモード（１～１０００まで自動再生）"));
  EXPECT_EQ(form->panel->LblHelp->text(), QStringLiteral("【入力例　1CH→1　15CH→15　145CH→145　1000CH→1000】"));
  form->panel->OptMode[1]->click();
  for (const char* bad : {"1001", "0"}) {
    form->panel->TxtNo[0]->setText(bad);
    form->CmdAction[0]->click();
  }
  EXPECT_EQ(prompt.texts(),
            std::vector<QString>(2, QStringLiteral("チャンネル番号は１～１０００までの範囲で入力して下さい。")));
  EXPECT_EQ(open(windows()[2])->panel->TxtCh->text(), QStringLiteral("10"));
}

TEST_F(SerialWindows, RawProfileWindowsTheirOwnControls) {
  auto form = open(windows()[5]);
  auto& mode4 = static_cast<FrmRS232CMode4&>(*form);
  ASSERT_EQ(mode4.SheetCmd.size(), 16);
  mode4.SheetCmd[15]->click();
  EXPECT_EQ(form->log->lines(), QStringList{"[送信]：シートNo送信 16"});
  settle();
  EXPECT_EQ(pty.readAvailable(), QByteArray("\x02\xD7\x03\xD4"));
  form.reset();
  EXPECT_TRUE(pty.readAvailable().isEmpty());  // closing sends nothing

  form = open(windows()[6]);
  auto& mode5 = static_cast<FrmRS232CMode5&>(*form);
  EXPECT_TRUE(mode5.Option1[0]->isChecked());
  mode5.Option1[2]->click();
  EXPECT_EQ(mode5.session().EndAnswer, Mode5Session::EndSilent);
  EXPECT_EQ(form->panel->TxtNo.size(), 40);
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[39]->setText("256");
  form->CmdAction[0]->click();
  form.reset();

  form = open(windows()[7]);
  EXPECT_EQ(form->panel->Label1->text(), QStringLiteral("チャンネル単位で送信する "));
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[0]->setText(" 5");
  form->CmdAction[0]->click();
  form->panel->TxtNo[0]->clear();
  form->CmdAction[0]->click();
  EXPECT_EQ(prompt.messages,
            (std::vector<Message>{{kTitle, QStringLiteral("チャンネル番号は１～２５５までの範囲で入力して下さい。"),
                                   MsgIcon::Exclamation},
                                  {kTitle, kNotNumeric, MsgIcon::Exclamation},
                                  {kTitle3J, kPlayNumberRequired, MsgIcon::Exclamation}}));
  form->panel->TxtNo[0]->setText("0");
  form->CmdAction[0]->click();
  settle();
  EXPECT_EQ(pty.readAvailable(), QByteArray("\x10\x05"));
  EXPECT_EQ(form->log->CellBackColor(1), QColor(0xFF, 0xFF, 0xFF));
}

// The progress line follows the session's run: it goes on until the unit
// has answered the last frame, and a run begun again after 停止 restarts
// the clock even when nothing of the first had gone out.
TEST_F(SerialWindows, ProgressLastsUntilTheLastAnswerAndRestartsAfterAStop) {
  auto form = open(windows()[4]);  // HS-41/42-A: ENQ, then a frame per ACK
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[0]->setText("7");
  form->CmdAction[0]->click();
  EXPECT_EQ(form->runProgress(), (RunProgress{0, 1, true}));
  pty.write("\x06");
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->runProgress().sent == 1; }, 3000));
  EXPECT_EQ(form->runProgress(), (RunProgress{1, 1, true})) << "the frame still awaits its answer";
  EXPECT_TRUE(form->clockRunning());
  EXPECT_EQ(form->runOutcome(), std::nullopt);
  pty.write("\x06");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->runProgress().running; }, 3000));
  EXPECT_EQ(form->runProgress(), (RunProgress{1, 1, false}));
  EXPECT_EQ(form->runOutcome(), RunOutcome::Complete);
  form.reset();

  form = open(windows()[1]);
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[0]->setText("7");
  form->CmdAction[0]->click();
  form->CmdAction[1]->click();
  EXPECT_EQ(form->runProgress(), (RunProgress{0, 1, false}));
  EXPECT_EQ(form->runOutcome(), RunOutcome::Stopped);
  EXPECT_FALSE(form->clockRunning());
  form->CmdAction[0]->click();
  EXPECT_TRUE(form->clockRunning());
  EXPECT_EQ(form->runProgress(), (RunProgress{0, 1, true}));
}
