#include "menu/FrmPass.h"
#include "sessions/ModeCatalogue.h"
#include "menu/BenchState.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <gtest/gtest.h>
#include <memory>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const Message kEmpty{kTitle, QStringLiteral("パスワードを入力して下さい。"), MsgIcon::Information, MsgButtons::Ok};
const Message kWrong{kTitle, QStringLiteral("パスワードが違います。確認して下さい。"), MsgIcon::Exclamation,
                     MsgButtons::Ok};

class Pass : public ::testing::Test {
 protected:
  Pass() {
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
  }
  void submit(const QString& text) {
    dialog->TxtPass->setText(text);
    dialog->CmdExe[0]->click();
  }
  bool stillOpen() const { return dialog->isVisible() && dialog->result() == 0; }
  RecordingPrompt prompt;
  BenchState bench;
  std::unique_ptr<FrmPass> dialog{FrmPass::FrmPass01(bench)};
};

}  // namespace

TEST_F(Pass, CodesAndControls) {
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-z0-9]{8}$")).match(kAccessCode01).hasMatch());
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-z0-9]{5}$")).match(kAccessCode02).hasMatch());
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("パスワードを入力してください。"));
  EXPECT_EQ(dialog->Label2->text(), QStringLiteral("パスワード入力 ："));
  EXPECT_EQ(dialog->CmdExe[0]->text(), QStringLiteral("OK"));
  EXPECT_EQ(dialog->CmdExe[1]->text(), QStringLiteral("キャンセル"));
  EXPECT_TRUE(dialog->CmdExe[0]->isDefault());
  EXPECT_EQ(dialog->TxtPass->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog->TxtPass->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, dialog->TxtPass), '*');
  EXPECT_EQ(dialog->TxtPass->maxLength(), 14);
}

TEST_F(Pass, EmptyEntryAsksForTheCodeAndStaysOpen) {
  submit(QString());
  EXPECT_EQ(prompt.messages, std::vector<Message>{kEmpty});
  EXPECT_TRUE(stillOpen());
  EXPECT_EQ(bench.Pass01Granted, 0);
}

TEST_F(Pass, SpacesOnlyAreComparedAndWrong) {
  submit(QStringLiteral("   "));
  EXPECT_EQ(prompt.messages, std::vector<Message>{kWrong});
  EXPECT_TRUE(stillOpen());
}

TEST_F(Pass, WrongCodeStaysInTheBoxSelectedForRetyping) {
  submit(QStringLiteral("k7mq2xw"));
  EXPECT_EQ(prompt.messages, std::vector<Message>{kWrong});
  EXPECT_EQ(dialog->TxtPass->text(), QStringLiteral("k7mq2xw"));
  EXPECT_EQ(dialog->TxtPass->selectedText(), QStringLiteral("k7mq2xw"));
  EXPECT_EQ(dialog->TxtPass->selectionStart(), 0);
  EXPECT_TRUE(dialog->TxtPass->hasFocus());
}

TEST_F(Pass, FocusSelectsTheWholeEntry) {
  dialog->TxtPass->setText(QStringLiteral("abc"));
  dialog->CmdExe[1]->setFocus();
  dialog->TxtPass->deselect();
  dialog->TxtPass->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(dialog->TxtPass->selectedText(), QStringLiteral("abc"));
}

TEST_F(Pass, UpperCaseIsWrong) {
  submit(kAccessCode01.toUpper());
  EXPECT_EQ(prompt.messages, std::vector<Message>{kWrong});
  EXPECT_EQ(bench.Pass01Granted, 0);
}

TEST_F(Pass, SurroundingSpacesAreIgnored) {
  submit(QStringLiteral("  ") + kAccessCode01 + QStringLiteral(" "));
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(dialog->result(), int(QDialog::Accepted));
  EXPECT_EQ(bench.Pass01Granted, -1);
  EXPECT_EQ(bench.Pass02Granted, 0);
}

TEST_F(Pass, CancelAfterWrongEntryLeavesFlagUnset) {
  submit(QStringLiteral("nope"));
  dialog->CmdExe[1]->click();
  EXPECT_EQ(dialog->result(), int(QDialog::Rejected));
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(bench.Pass01Granted, 0);
}

TEST_F(Pass, FlagIsNeverCleared) {
  submit(kAccessCode01);
  ASSERT_EQ(bench.Pass01Granted, -1);
  std::unique_ptr<FrmPass> again(FrmPass::FrmPass01(bench));
  again->show();
  again->TxtPass->setText(QStringLiteral("wrong"));
  again->CmdExe[0]->click();
  again->CmdExe[1]->click();
  EXPECT_EQ(bench.Pass01Granted, -1);
}

TEST(Pass02, SecondDialogChecksItsOwnCodeAndFlag) {
  RecordingPrompt prompt;
  BenchState bench;
  std::unique_ptr<FrmPass> dialog(FrmPass::FrmPass02(bench));
  dialog->show();
  dialog->TxtPass->setText(kAccessCode01);
  dialog->CmdExe[0]->click();
  EXPECT_EQ(prompt.messages, std::vector<Message>{kWrong});
  dialog->TxtPass->setText(kAccessCode02);
  dialog->CmdExe[0]->click();
  EXPECT_EQ(bench.Pass02Granted, -1);
  EXPECT_EQ(bench.Pass01Granted, 0);
}
