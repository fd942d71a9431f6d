#include "menu/FrmPass.h"

#include "kit/FocusSelect.h"
#include "sessions/ModeCatalogue.h"
#include "menu/BenchState.h"
#include "kit/Look.h"
#include "kit/MessageService.h"
#include "core/ModString.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

FrmPass* FrmPass::FrmPass01(BenchState& bench, QWidget* parent) {
  return new FrmPass(QStringLiteral("FrmPass01"), kAccessCode01, bench.Pass01Granted, parent);
}

FrmPass* FrmPass::FrmPass02(BenchState& bench, QWidget* parent) {
  return new FrmPass(QStringLiteral("FrmPass02"), kAccessCode02, bench.Pass02Granted, parent);
}

FrmPass::FrmPass(const QString& name, QString code, qint16& granted, QWidget* parent)
    : QDialog(parent), code_(std::move(code)), granted_(granted) {
  setObjectName(name);
  setWindowTitle(QStringLiteral("パスワードを入力してください。"));
  setFont(japaneseFont(kGothic));

  Frame1 = new QGroupBox;
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Label2 = new QLabel(QStringLiteral("パスワード入力 ："));
  Label2->setObjectName(QStringLiteral("Label2"));
  TxtPass = new QLineEdit;
  TxtPass->setObjectName(QStringLiteral("TxtPass"));
  TxtPass->setEchoMode(QLineEdit::Password);
  TxtPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // '*'
  TxtPass->setMaxLength(14);
  selectAllOnFocus(TxtPass);
  auto* entry = new QHBoxLayout(Frame1);
  entry->addWidget(Label2);
  entry->addWidget(TxtPass, 1);

  const QString captions[2] = {QStringLiteral("OK"), QStringLiteral("キャンセル")};
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (int i = 0; i < 2; ++i) {
    auto* button = new QPushButton(captions[i]);
    button->setObjectName(QStringLiteral("CmdExe(%1)").arg(i));
    connect(button, &QPushButton::clicked, this, [this, i] { CmdExe_Click(i); });
    CmdExe.append(button);
    buttons->addWidget(button);
  }
  CmdExe[0]->setDefault(true);
  CmdExe[1]->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Frame1);
  layout->addLayout(buttons);
  setShiftJisCharset(this);
}

void FrmPass::CmdExe_Click(int index) {
  if (index == 1) {
    reject();
    return;
  }
  if (TxtPass->text().isEmpty()) {
    MsgBox(this, QStringLiteral("パスワードを入力して下さい。"), MsgIcon::Information, kTitle);
    refocusEntry();
    return;
  }
  if (TrimSpaces(TxtPass->text()) == code_) {
    granted_ = -1;
    accept();
    return;
  }
  MsgBox(this, QStringLiteral("パスワードが違います。確認して下さい。"), MsgIcon::Exclamation, kTitle);
  refocusEntry();
}

void FrmPass::refocusEntry() {
  TxtPass->setFocus();
  // The box may hold the focus already, in which case no focus event comes.
  TxtPass->setSelection(0, int(TxtPass->text().size()));
}

}  // namespace kestrel
