// The schedule read-back windows through their real forms.
#include "windows/customer/FenwickForms.h"
#include "link/SerialLink.h"
#include "core/ModString.h"
#include "support/WindowFixture.h"
#include "unit/UnitSimulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace kestrel;
using namespace kestrel::test;
using namespace std::chrono_literals;

namespace {

class FenwickWindow : public WindowFixture {
 protected:
  FenwickWindow() {
    QFile file(schedule());
    file.open(QIODevice::WriteOnly);
    file.write("#2\r\n1,a,b,c,d,e\r\n");
  }
  QString schedule() const { return dir.filePath(QStringLiteral("card.wmj")); }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(FenwickWindow, ChecksBeforeTheEnquiry) {
  FrmFenwick form(nullptr, pause);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("交通局向け自動放送用シリアル通信"));
  EXPECT_TRUE(form.PDQ_COM->isOpen());
  EXPECT_EQ(form.PDQ_COM->settings(), QStringLiteral("19200,E,8,1"));
  EXPECT_FALSE(form.TxtCh->isEnabled());
  form.CmdOutput->click();
  form.TxtPath->setText(schedule());
  form.OptOutMode[1]->click();
  for (const char* text : {"", "x", "256"}) {
    form.TxtCh->setText(text);
    form.CmdOutput->click();
  }
  EXPECT_EQ(prompt.texts(),
            (std::vector<QString>{"スケジュールファイルの存在するカードデータフォルダを指定して下さい。",
                                  "送信するＣＨ番号を指定して下さい。", "ＣＨ番号の値が不正です。確認して下さい。",
                                  "ＣＨ番号は１～２５５までの数値を入力して下さい。"}));
  settle();
  EXPECT_TRUE(pty.readAvailable().isEmpty());
  form.TxtCh->setText("1");
  form.CmdOutput->click();
  settle();
  EXPECT_EQ(pty.readAvailable(), QByteArray("\x05"));
  EXPECT_EQ(form.log->TextMatrix(0), QStringLiteral("【送信】：応答要求(05h)"));

  FrmFenwick1000CH wide(nullptr, pause);
  wide.TxtPath->setText(schedule());
  wide.TextStartCH->setText("1");
  wide.TextEndCH->setText("1001");
  wide.CmdOutput->click();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("ＣＨ番号は1～1000までの数値を入力して下さい。"));
}

TEST_F(FenwickWindow, LogFileWithItsHeaderLine) {
  FrmFenwick form(nullptr, pause);
  const QString name = dir.filePath(QStringLiteral("out.log"));
  form.chooseLogFile = [&] { return name; };
  form.CmdLog->click();
  EXPECT_EQ(prompt.texts().back(), QStringLiteral("一覧に履歴が存在しません。"));
  form.log->AddLog(QStringLiteral("【OK】：001,a"));
  form.CmdLog->click();
  QFile file(name);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = fromCp932(file.readAll()).split(QStringLiteral("\r\n"));
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("****** KestrelTester2J ")));
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" ******")));
  EXPECT_EQ(lines[1], QStringLiteral("【OK】：001,a"));
  EXPECT_EQ(lines.size(), 1 + 17 + 1);  // every row of the grid, the empty ones too
  prompt.answers = {MsgAnswer::No};
  form.CmdLog->click();
  EXPECT_EQ(prompt.messages.back().text, QStringLiteral("指定のファイルは既に存在します。上書きしてよろしいですか？"));
  EXPECT_EQ(prompt.messages.back().icon, MsgIcon::Question);

  // A fault nobody foresaw is named, not fatal.
  form.chooseLogFile = []() -> QString { throw std::runtime_error("disk gone"); };
  form.CmdLog->click();
  EXPECT_EQ(prompt.messages.back(),
            (Message{kTitle3J,
                     QStringLiteral("システムエラー発生\r\nモジュール  ： CmdLog_Click\r\nエラー内容 ： disk gone　　"),
                     MsgIcon::Critical, MsgButtons::Ok}));
}

// The documented messages stand; the path they are about follows on a line
// of its own.
TEST_F(FenwickWindow, FailuresNameTheFileOrFolderTheyAreAbout) {
  TempRegistry registry;
  FrmFenwick form(nullptr, pause);
  const QString missing = dir.filePath(QStringLiteral("missing.wmj"));
  form.TxtPath->setText(missing);
  form.CmdOutput->click();
  const QString bad = dir.filePath(QStringLiteral("bad.wmj"));
  QFile file(bad);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("#2\r\n1,too,few,commas\r\n");
  file.close();
  form.TxtPath->setText(bad);
  form.CmdOutput->click();

  QTemporaryDir empty;
  ModalDriver driver([&](QWidget* w) {
    auto* dialog = static_cast<QFileDialog*>(w);
    dialog->setDirectory(empty.path());
    static_cast<QDialog*>(dialog)->accept();
  });
  form.CmdPath->click();
  EXPECT_EQ(prompt.texts(),
            (std::vector<QString>{
                QStringLiteral("スケジュールファイルの存在するカードデータフォルダを指定して下さい。\r\n") + missing,
                QStringLiteral("スケジュールファイルの取得に失敗しました。\r\n") + bad,
                QStringLiteral("指定フォルダにＷＭＪファイルが見つかりません。\r\n") + empty.path()}));
  EXPECT_EQ(prompt.messages[1].icon, MsgIcon::Critical);
  settle();
  EXPECT_TRUE(pty.readAvailable().isEmpty());  // nothing was asked of the unit
}

TEST_F(FenwickWindow, BrowseStartsFromTheLastFolderChosen) {
  TempRegistry registry;
  QTemporaryDir cards;
  const QString chosen = cards.filePath(QStringLiteral("カード"));
  ASSERT_TRUE(QDir().mkpath(chosen));
  QFile(QDir(chosen).filePath(QStringLiteral("bus.wmj"))).open(QIODevice::WriteOnly);
  // The folder dialog: note where it opens, then pick `pick` (or cancel).
  QStringList opened;
  QString pick = chosen;
  ModalDriver driver([&](QWidget* w) {
    auto* dialog = static_cast<QFileDialog*>(w);
    opened.append(dialog->directory().absolutePath());
    if (pick.isEmpty()) return dialog->reject();
    dialog->setDirectory(pick);
    static_cast<QDialog*>(dialog)->accept();
  });
  const QString file = QDir::toNativeSeparators(QDir(chosen).filePath(QStringLiteral("bus.wmj")));
  {
    FrmFenwick form(nullptr, pause);
    form.CmdPath->click();
    form.CmdPath->click();
    EXPECT_EQ(form.TxtPath->text(), file);
  }
  EXPECT_EQ(opened, (QStringList{QDir::homePath(), chosen}));
  // A new window, reading the settings store afresh, starts there too; a
  // cancelled browse changes nothing.
  FileRegistryStore reopened(registry.store.path());
  installRegistryStore(&reopened);
  FrmFenwick1000CH wide(nullptr, pause);
  pick.clear();
  wide.CmdPath->click();
  EXPECT_EQ(wide.TxtPath->text(), QString());
  pick = chosen;
  wide.CmdPath->click();
  EXPECT_EQ(opened.mid(2), (QStringList{chosen, chosen}));
  EXPECT_EQ(wide.TxtPath->text(), file);
  // A folder since removed is no start.
  ASSERT_TRUE(QDir(chosen).removeRecursively());
  pick.clear();
  wide.CmdPath->click();
  EXPECT_EQ(opened.last(), QDir::homePath());
  EXPECT_TRUE(prompt.messages.empty());
}

// The file dialog the window opens leaves the overwrite question to the window.
TEST_F(FenwickWindow, OverwritingALogFileIsAskedOnceInTheWindowsWords) {
  FrmFenwick form(nullptr, pause);
  form.log->AddLog(QStringLiteral("【OK】：001,a"));
  const QString name = dir.filePath(QStringLiteral("out.log"));
  QFile old(name);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("old\r\n");
  old.close();
  bool dialogLeavesTheQuestion = false;
  int dialogQuestions = 0;
  ModalDriver driver([&](QWidget* w) {
    if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
      dialogLeavesTheQuestion = dialog->testOption(QFileDialog::DontConfirmOverwrite);
      dialog->selectFile(name);
      // As its own button does; later, so that a question it asks reaches this driver.
      QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
    } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
      ++dialogQuestions;
      box->button(QMessageBox::Yes)->click();
    }
  });
  prompt.answers = {MsgAnswer::Yes};
  form.CmdLog->click();
  EXPECT_TRUE(dialogLeavesTheQuestion);
  EXPECT_EQ(dialogQuestions, 0);
  EXPECT_EQ(prompt.texts(), (std::vector<QString>{"指定のファイルは既に存在します。上書きしてよろしいですか？",
                                                  "正常に出力されました。"}));
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_TRUE(old.readAll().startsWith("****** KestrelTester2J "));
}

// Read back from the simulated unit holding the same schedule file.
TEST(FenwickEndToEnd, ScheduleReadBackJudgedAndLogged) {
  QTemporaryDir dir;
  const QString schedule = dir.filePath(QStringLiteral("card.wmj"));
  QFile file(schedule);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(toCp932(QStringLiteral("#2\r\n1,駅,b,c,d,e\r\n3,f,g,h,i,j\r\n#3\r\n1,案内\r\n")));
  file.close();
  for (const bool changed : {false, true}) {
    RecordingPrompt prompt;
    sim::Options options{.protocol = "fenwick", .answerDelay = 0ms, .schedule = schedule.toStdString()};
    if (changed) options.changeFields = {{3, 2, "G"}};
    sim::UnitSimulator unit(options);
    unit.start();
    ComPortOverride com1(1, QString::fromStdString(unit.slavePath()));
    FrmFenwick1000CH form;
    form.TxtPath->setText(schedule);
    form.TextStartCH->setText("1");
    form.TextEndCH->setText("3");
    form.CmdOutput->click();
    QElapsedTimer clock;
    clock.start();
    while (prompt.messages.empty() && clock.elapsed() < 15000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const QStringList lines = form.log->lines();
    const QStringList judged = lines.filter(QRegularExpression(QStringLiteral("^【(OK|NG)】")));
    EXPECT_EQ(judged, (QStringList{"【OK】：001,駅,b,c,d,e", "【OK】：CH番号 002 取得できませんでした。",
                                   changed ? "【NG】：003,f,G,h,i,j" : "【OK】：003,f,g,h,i,j"}));
    EXPECT_EQ(prompt.texts(), std::vector<QString>{changed ? "受信データに異常があります。確認して下さい。"
                                                           : "正常にデータを受信しました。"});
    EXPECT_TRUE(form.isEnabled());
    const QString log = dir.filePath(QStringLiteral("read.log"));
    form.chooseLogFile = [&] { return log; };
    prompt.answers = {MsgAnswer::Yes};
    form.CmdLog->click();
    QFile saved(log);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QString text = fromCp932(saved.readAll());
    for (const QString& line : judged) EXPECT_TRUE(text.contains(line + QStringLiteral("\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("【送信】：00010003\r\n")));
  }
}
