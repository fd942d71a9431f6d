// The schedule read-back windows through their real forms.
#include "customer/FenwickForms.h"
#include "serial/SerialLink.h"
#include "shell/ModString.h"
#include "support/WindowFixture.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

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
}
