#include "kit/EntryPanel.h"
#include "windows/serial/BufferedForms.h"
#include "windows/serial/Mode34Forms.h"
#include "kit/LogGrid.h"
#include "kit/PortSetup.h"
#include "link/PortHolder.h"
#include "link/SerialLink.h"
#include "kit/AppEnd.h"
#include "sessions/ModeCatalogue.h"
#include "core/ModString.h"
#include "support/MenuContext.h"
#include "support/Pty.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"
#include "support/WindowFixture.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class Mode2Window : public WindowFixture {
 protected:
  std::unique_ptr<FrmRS232CMode2> open(int subMode) {
    return std::make_unique<FrmRS232CMode2>(menuContext(subMode), pause);
  }
};

}  // namespace

TEST_F(Mode2Window, EachSubModeSetsCaptionLimitsAndButtons) {
  const char* captions[] = {"バッファ機能付RS232C制御(MAX255CH 9600,N,8,1)",
                            "バッファ機能付RS232C制御(MAX250CH 9600,N,8,1)", "TARN5-KLV制御"};
  for (int subMode = 0; subMode < 3; ++subMode) {
    auto form = open(subMode);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(captions[subMode]));
    EXPECT_TRUE(form->PDQ_COM->isOpen()) << subMode;  // parity on a pty does not stop the open
    EXPECT_EQ(form->PDQ_COM->settings(), subMode == 2 ? QStringLiteral("19200,E,8,1") : QStringLiteral("9600,N,8,1"));
    EXPECT_EQ(form->session().MaxChannel, subMode == 1 ? 250 : 255);
    for (int i = 2; i <= 4; ++i) EXPECT_EQ(form->CmdAction[i]->isEnabled(), subMode == 1);
    EXPECT_EQ(form->panel->OptMode[0]->text(), subMode == 1 ? QStringLiteral("オートモード（１～２５０まで自動再生）")
                                                            : QStringLiteral("オートモード（１～２５５まで自動再生）"));
    EXPECT_EQ(form->log->Rows(), 13);
  }
  const QString texts[7] = {"再生",       "停止", "音量減衰（-6dB）", "音量減衰（-14dB）", "音量減衰（ﾃﾞﾌｫﾙﾄ）",
                            "一覧クリア", "終了"};
  auto form = open(0);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(form->CmdAction[i]->text(), texts[i]);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(ends, 0);
}

TEST_F(Mode2Window, BadInputSendsNothing) {
  auto form = open(1);
  pty.readAvailable();
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[0]->setText("251");
  form->CmdAction[0]->click();
  settle();
  EXPECT_EQ(prompt.texts(),
            std::vector<QString>{QStringLiteral("チャンネル番号は１～２５０までの範囲で入力して下さい。")});
  EXPECT_TRUE(pty.readAvailable().isEmpty());
  EXPECT_TRUE(form->log->lines().isEmpty());
}

TEST_F(Mode2Window, ButtonsWriteToThePortAndClosingSendsFF) {
  auto form = open(2);
  form->CmdAction[0]->click();
  form->CmdAction[1]->click();
  settle();
  EXPECT_EQ(pty.readAvailable(), QByteArray("\x05\x02\xFF\x03\xFC", 5));
  EXPECT_EQ(form->log->lines(), (QStringList{"[送信]：ENQ(05h)", "[送信]：STOP(02hFFh03hFCh)"}));
  form->CmdAction[5]->click();
  EXPECT_TRUE(form->log->lines().isEmpty());
  form->show();
  form->CmdAction[6]->click();
  settle();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(pty.readAvailable(), QByteArray("\xFF", 1));
  EXPECT_TRUE(form->log->lines().isEmpty());
}

TEST_F(Mode2Window, ReceivedBytesDriveTheSession) {
  auto form = open(0);
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[0]->setText("1");
  form->panel->TxtNo[1]->setText("15");
  form->panel->TxtNo[2]->setText("145");
  form->CmdAction[0]->click();
  settle();
  pty.readAvailable();
  pty.write("\x06");
  settle();
  EXPECT_EQ(pty.readAvailable(), QByteArray("\x02"
                                            "001015145"
                                            "\x03\x36"));
  EXPECT_EQ(form->log->lines().mid(1), (QStringList{"[受信]：ACK(06h)", "[送信]：STX(02h)", "[送信]：001,015,145",
                                                    "[送信]：ETX(03h)", "[送信]：BCC(36h)"}));
}

TEST_F(Mode2Window, ProgressAndTimeOfARunTheSavedLogAndCopiedLines) {
  auto form = open(0);
  EXPECT_EQ(form->RunStatus->text(), QString());
  EXPECT_EQ(form->CmdSaveLog->text(), QStringLiteral("ログ保存"));
  form->panel->OptMode[1]->click();
  form->panel->TxtNo[0]->setText("7");
  form->panel->TxtNo[1]->setText("8");
  form->CmdAction[0]->click();
  EXPECT_EQ(form->RunStatus->text(), QStringLiteral("送信 0 / 2 CH　経過 00:00:00"));
  pty.write("\x06");
  settle();
  QTest::qWait(300);  // the window's clock
  EXPECT_EQ(form->RunStatus->text(), QStringLiteral("送信 2 / 2 CH　経過 00:00:00"));
  pty.write("\x06");  // the last frame taken: the run is over
  settle();

  QTemporaryDir dir;
  const QString name = dir.filePath(QStringLiteral("run.log"));
  form->chooseLogFile = [&] { return name; };
  form->CmdSaveLog->click();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("正常に出力されました。"));
  QFile file(name);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QStringList saved = fromCp932(file.readAll()).split(QStringLiteral("\r\n"));
  EXPECT_TRUE(saved.takeFirst().startsWith(QStringLiteral("****** KestrelTester2J ")));
  EXPECT_EQ(saved.takeLast(), QString());
  for (QString& line : saved) line = line.mid(24);  // "yyyy/MM/dd HH:mm:ss.zzz "
  EXPECT_EQ(saved, form->log->lines());
  EXPECT_EQ(saved.size(), 7);

  form->FG1->selectionModel()->select(form->log->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  form->FG1->selectionModel()->select(form->log->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  form->FG1->copySelection();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("[送信]：ENQ(05h)\n[送信]：STX(02h)\n"));

  form->CmdAction[5]->click();  // 一覧クリア: nothing left to save
  form->CmdSaveLog->click();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("一覧に履歴が存在しません。"));
}

TEST_F(Mode2Window, PortLostEndsTheRunAndItsClock) {
  auto form = open(0);
  form->CmdAction[0]->click();
  EXPECT_TRUE(form->clockRunning());
  pty.hangUp();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->PDQ_COM->isOpen(); }, 3000));
  EXPECT_FALSE(form->clockRunning());
}

// Assistive technology ticks a box without a click, and reads what the
// status labels say, not only what they are.
TEST_F(Mode2Window, RepeatFollowsTheBoxAndStatusLabelsExposeTheirText) {
  auto form = open(0);
  form->panel->OptMode[1]->click();
  form->panel->chk_Repeat->setChecked(true);
  EXPECT_EQ(form->session().RepeatOn, 1);
  form->panel->chk_Repeat->setChecked(false);
  EXPECT_EQ(form->session().RepeatOn, 0);

  form->panel->TxtNo[0]->setText("7");
  form->CmdAction[0]->click();
  QAccessibleInterface* status = QAccessible::queryAccessibleInterface(form->RunStatus);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("進行状況"));
  EXPECT_EQ(status->text(QAccessible::Description), QStringLiteral("送信 0 / 1 CH　経過 00:00:00"));
}

TEST_F(Mode2Window, WithoutItsJournalTheWindowSaysSoAndSavesWhatTheGridHolds) {
  QTemporaryDir dir;
  const QString notAFolder = dir.filePath(QStringLiteral("file"));
  QFile(notAFolder).open(QIODevice::WriteOnly);
  qputenv("KESTREL_LOG_DIR", notAFolder.toLocal8Bit());
  auto form = open(0);
  qunsetenv("KESTREL_LOG_DIR");
  EXPECT_EQ(form->JournalStatus->text(), QStringLiteral("ログの記録ファイルを作れません：") + notAFolder);
  EXPECT_FALSE(form->JournalStatus->isHidden());

  form->CmdAction[0]->click();
  const QString name = dir.filePath(QStringLiteral("run.log"));
  form->chooseLogFile = [&] { return name; };
  form->CmdSaveLog->click();
  QFile file(name);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList saved = fromCp932(file.readAll()).split(QStringLiteral("\r\n"));
  ASSERT_EQ(saved.size(), 3);
  EXPECT_EQ(saved[1].mid(24), QStringLiteral("[送信]：ENQ(05h)"));
}

// The settings screen's choice of UTF-8 with LF reaches the journal and the
// saved log, header included; without it both stay CP932 with CRLF.
TEST_F(Mode2Window, SavedLogAndJournalAreWrittenInTheChosenTextFormat) {
  TempRegistry registry;
  struct Case {
    bool utf8;
    QByteArray end;
  };
  for (const Case& c : {Case{false, "\r\n"}, Case{true, "\n"}}) {
    if (c.utf8) {
      ASSERT_TRUE(setLogTextFormat(LogTextFormat::Utf8Lf));
    }
    QTemporaryDir dir;
    qputenv("KESTREL_LOG_DIR", dir.filePath(QStringLiteral("journals")).toLocal8Bit());
    auto form = open(0);
    qunsetenv("KESTREL_LOG_DIR");
    ASSERT_NE(form->log->journal(), nullptr);
    form->CmdAction[0]->click();
    const QString name = dir.filePath(QStringLiteral("run.log"));
    form->chooseLogFile = [&] { return name; };
    form->CmdSaveLog->click();
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QByteArray line =
        c.utf8 ? QStringLiteral("[送信]：ENQ(05h)").toUtf8() : toCp932(QStringLiteral("[送信]：ENQ(05h)"));
    const qsizetype headerEnd = bytes.indexOf(c.end);
    ASSERT_GT(headerEnd, 0) << c.utf8;
    EXPECT_TRUE(bytes.startsWith("****** KestrelTester2J ")) << c.utf8;
    EXPECT_EQ(bytes.mid(headerEnd + c.end.size() + 24), line + c.end) << c.utf8;
    EXPECT_EQ(bytes.count('\r'), c.utf8 ? 0 : 2);

    form->log->journal()->flush();
    QFile journal(form->log->journal()->path());
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    EXPECT_EQ(journal.readAll().mid(24), line + c.end) << c.utf8;
  }
}

TEST_F(Mode2Window, PlayStopAndSaveHaveKeysTheirTooltipsName) {
  auto form = open(0);
  EXPECT_EQ(form->CmdAction[0]->shortcut(), QKeySequence(Qt::Key_F5));
  EXPECT_EQ(form->CmdAction[0]->toolTip(), QStringLiteral("再生 (F5)"));
  EXPECT_EQ(form->CmdAction[1]->shortcut(), QKeySequence(Qt::Key_F6));
  EXPECT_EQ(form->CmdAction[1]->toolTip(), QStringLiteral("停止 (F6)"));
  EXPECT_EQ(form->CmdSaveLog->shortcut(), QKeySequence(QKeySequence::Save));
  EXPECT_EQ(form->CmdSaveLog->toolTip(),
            QStringLiteral("ログ保存 (%1)").arg(QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText)));
  for (int i = 2; i < 7; ++i) EXPECT_TRUE(form->CmdAction[i]->shortcut().isEmpty()) << i;
  // A window whose first buttons are not 再生 and 停止 takes no keys for them.
  form.reset();
  FrmRS232CMode3 other(menuContext(0), pause);
  EXPECT_EQ(other.CmdAction[0]->text(), QStringLiteral("送信"));
  EXPECT_TRUE(other.CmdAction[0]->shortcut().isEmpty());
  EXPECT_TRUE(other.CmdAction[1]->shortcut().isEmpty());
}

TEST_F(Mode2Window, SaveLogProposesANameInTheLastFolderAndAddsTheSuffix) {
  TempRegistry registry;
  const QDateTime at(QDate(2026, 12, 9), QTime(7, 15, 42));
  EXPECT_EQ(proposedLogFile(QStringLiteral("FrmRS232CMode2"), at),
            QDir::home().filePath(QStringLiteral("FrmRS232CMode2_20261209-0715.log")));
  auto form = open(0);
  form->CmdAction[0]->click();
  QTemporaryDir dir;
  form->chooseLogFile = [&] { return dir.filePath(QStringLiteral("run")); };
  form->CmdSaveLog->click();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("正常に出力されました。"));
  EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("run.log"))));
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("run"))));
  EXPECT_EQ(proposedLogFile(form->objectName(), at), dir.filePath(QStringLiteral("FrmRS232CMode2_20261209-0715.log")));
  EXPECT_EQ(withLogSuffix(QStringLiteral("/a/b.txt")), QStringLiteral("/a/b.txt"));
}

TEST_F(Mode2Window, PortHeldByAnotherProgramEndsTheApplication) {
  QProcess holder;
  holder.start(QStringLiteral(KESTREL_BIN_DIR "/hold-port"), {pty.slave()});
  ASSERT_TRUE(holder.waitForReadyRead(5000));
  ASSERT_EQ(holder.readLine().trimmed(), QByteArray("held"));

  auto form = open(0);
  // The documented text, then the holder: its PID, name and lock file.
  const PortHolder held = findPortHolder(pty.slave());
  EXPECT_EQ(held.pid, holder.processId());
  EXPECT_EQ(held.name, QStringLiteral("hold-port"));
  EXPECT_TRUE(held.lockFile.endsWith(QStringLiteral("/LCK..") + pty.slave().mid(5).replace(u'/', u'_')))
      << held.lockFile.toStdString();
  const QString busy = QStringLiteral("通信ポートをオープンできませんでした。\r\nアプリケーションを終了します。\r\n") +
                       QStringLiteral("使用中：PID %1（hold-port）, %2").arg(holder.processId()).arg(held.lockFile);
  EXPECT_EQ(prompt.messages, (std::vector<Message>{{kTitle, busy, MsgIcon::Exclamation, MsgButtons::Ok}}));
  EXPECT_TRUE(form->PDQ_COM->errorString().endsWith(
      QStringLiteral("（使用中：PID %1（hold-port）, %2）").arg(holder.processId()).arg(held.lockFile)))
      << form->PDQ_COM->errorString().toStdString();
  EXPECT_EQ(ends, 1);
  EXPECT_FALSE(form->PDQ_COM->isOpen());
  holder.closeWriteChannel();
  holder.waitForFinished();
}

TEST_F(Mode2Window, OtherOpenFailuresLeaveTheWindowOpenWithThePortClosed) {
  com1.point(QStringLiteral("/nonexistent/tty"));
  auto form = open(0);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(ends, 0);
  EXPECT_FALSE(form->PDQ_COM->isOpen());
  ASSERT_EQ(form->log->lines().size(), 1);
  EXPECT_TRUE(form->log->lines()[0].startsWith(QStringLiteral("[エラー]：COM1（/nonexistent/tty）を開けませんでした")));
  form->CmdAction[0]->click();
  EXPECT_EQ(form->log->lines().last(), kPortNotOpenLog);
}

TEST(LineSettings, ParsesTheFourFields) {
  const auto s = LineSettings::parse(QStringLiteral("19200,E,7,2"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->baud, 19200);
  EXPECT_EQ(s->parity, QSerialPort::EvenParity);
  EXPECT_EQ(s->dataBits, QSerialPort::Data7);
  EXPECT_EQ(s->stopBits, QSerialPort::TwoStop);
  for (const char* bad :
       {"", "9600", "9600,N,8", "9600,X,8,1", "fast,N,8,1", "9600,N,9,1", "9600,N,8,3", "9600,N,8,1,1", "-1,N,8,1"})
    EXPECT_FALSE(LineSettings::parse(QString::fromLatin1(bad))) << bad;
  SerialLink link;
  EXPECT_FALSE(link.setSettings(QStringLiteral("9600;N;8;1")));
  EXPECT_EQ(link.settings(), QStringLiteral("9600,N,8,1"));
}
