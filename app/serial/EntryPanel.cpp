#include "EntryPanel.h"

#include "ChannelEntry.h"
#include "shell/FocusSelect.h"
#include "shell/MessageService.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cmath>

namespace kestrel {

EntryPanel::EntryPanel(EntryPanelSpec spec, QWidget* parent) : QWidget(parent), spec_(std::move(spec)) {
  OptMode = {new QRadioButton(spec_.autoCaption), new QRadioButton(QStringLiteral("マニュアルモード（最大２０指定）"))};
  for (int i = 0; i < 2; ++i) OptMode[i]->setObjectName(QStringLiteral("OptMode(%1)").arg(i));

  FrManual = new QGroupBox;
  FrManual->setObjectName(QStringLiteral("FrManual"));
  auto* boxes = new QGridLayout(FrManual);
  for (int i = 0; i < kBoxes; ++i) {
    auto* box = new QLineEdit;
    box->setObjectName(QStringLiteral("TxtNo(%1)").arg(i));
    box->setMaxLength(spec_.boxMaxLength);
    box->setAlignment(Qt::AlignCenter);
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QString(spec_.boxMaxLength + 2, u'0')));
    box->setAutoFillBackground(true);
    if (spec_.selectOnFocus) selectAllOnFocus(box);
    boxes->addWidget(box, i / 10, i % 10);
    TxtNo.append(box);
  }
  LblHelp = new QLabel(QStringLiteral("【入力例　1CH→1　15CH→15　145CH→145】"));
  LblHelp->setObjectName(QStringLiteral("LblHelp"));

  TxtCh = new QLineEdit;
  TxtCh->setObjectName(QStringLiteral("TxtCh"));
  TxtCh->setMaxLength(2);
  TxtCh->setAlignment(Qt::AlignCenter);
  TxtCh->setFixedWidth(TxtCh->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
  if (spec_.selectOnFocus) selectAllOnFocus(TxtCh);
  Label1 = new QLabel(QStringLiteral("チャンネル単位で送信する"));
  chk_Repeat = new QCheckBox(QStringLiteral("リピート再生する"));
  chk_Repeat->setObjectName(QStringLiteral("chk_Repeat"));
  CmdCls = new QPushButton(QStringLiteral("リセット"));
  CmdCls->setObjectName(QStringLiteral("CmdCls"));

  auto* unitRow = new QHBoxLayout;
  unitRow->addWidget(TxtCh);
  unitRow->addWidget(Label1);
  unitRow->addStretch(1);
  unitRow->addWidget(chk_Repeat);
  unitRow->addWidget(CmdCls);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(OptMode[0]);
  layout->addWidget(OptMode[1]);
  layout->addWidget(FrManual);
  layout->addWidget(LblHelp);
  layout->addLayout(unitRow);

  connect(OptMode[0], &QRadioButton::toggled, this, [this](bool on) {
    if (on) showMode(false);
  });
  connect(OptMode[1], &QRadioButton::toggled, this, [this](bool on) {
    if (on) showMode(true);
  });
  connect(CmdCls, &QPushButton::clicked, this, [this] {
    for (QLineEdit* box : TxtNo) box->clear();
  });
  connect(chk_Repeat, &QCheckBox::clicked, this, [this](bool on) { emit repeatChanged(on ? 1 : 0); });
}

void EntryPanel::showMode(bool manual) {
  QPalette help = LblHelp->palette();
  help.setColor(QPalette::WindowText,
                palette().color(manual ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  LblHelp->setPalette(help);
  CmdCls->setEnabled(manual);
  chk_Repeat->setEnabled(manual);
  FrManual->setEnabled(manual);
  for (QLineEdit* box : TxtNo) {
    QPalette p = box->palette();
    const QColor background = palette().color(manual ? QPalette::Base : QPalette::Button);
    p.setColor(QPalette::Active, QPalette::Base, background);
    p.setColor(QPalette::Inactive, QPalette::Base, background);
    p.setColor(QPalette::Disabled, QPalette::Base, background);
    box->setPalette(p);
  }
  emit manualModeChanged(manual);
}

void EntryPanel::InitForm() {
  OptMode[0]->setChecked(true);
  showMode(false);
  for (QLineEdit* box : TxtNo) box->clear();
  TxtCh->setText(spec_.unitDefault);
}

void EntryPanel::setAutoCaption(const QString& caption) { OptMode[0]->setText(caption); }

bool EntryPanel::manualMode() const { return OptMode[1]->isChecked(); }

QStringList EntryPanel::boxTexts() const {
  QStringList texts;
  for (const QLineEdit* box : TxtNo) texts.append(box->text());
  return texts;
}

bool EntryPanel::CheckInput(int limit, const QString& rangeMessage) {
  QStringList texts = boxTexts();
  const EntryCheck check = checkEntries(texts, manualMode(), TxtCh->text(), limit, rangeMessage);
  for (int i = 0; i < kBoxes; ++i)
    if (TxtNo[i]->text() != texts[i]) TxtNo[i]->setText(texts[i]);
  if (check.ok) return true;
  if (!check.message.isEmpty()) MsgBox(this, check.message, MsgIcon::Exclamation, kTitle);
  QLineEdit* box = check.field == EntryCheck::Field::Channel ? TxtNo[check.index]
                   : check.field == EntryCheck::Field::Unit  ? TxtCh
                                                             : nullptr;
  if (box) {
    box->setFocus();
    if (check.select) box->setSelection(0, int(box->text().size()));
  }
  return false;
}

QStringList EntryPanel::channelList(int maxChannel, int width) const {
  return buildChannelList(boxTexts(), manualMode(), maxChannel, width);
}

int EntryPanel::channelUnit() const { return int(integerValue(TxtCh->text()).value_or(0)); }

}  // namespace kestrel
