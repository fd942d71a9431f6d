#include "kit/EntryPanel.h"

#include "kit/FocusSelect.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrel {

namespace {

QLineEdit* numberBox(const QString& name, int maxLength, bool selectOnFocus) {
  auto* box = new QLineEdit;
  box->setObjectName(name);
  box->setMaxLength(maxLength);
  box->setAlignment(Qt::AlignCenter);
  box->setFixedWidth(box->fontMetrics().horizontalAdvance(QString(maxLength + 2, u'0')));
  if (selectOnFocus) selectAllOnFocus(box);
  return box;
}

}  // namespace

EntryPanel::EntryPanel(EntryPanelSpec spec, QWidget* parent) : QWidget(parent), spec_(std::move(spec)) {
  OptMode = {new QRadioButton(spec_.autoCaption), new QRadioButton(spec_.manualCaption)};
  for (int i = 0; i < 2; ++i) OptMode[i]->setObjectName(QStringLiteral("OptMode(%1)").arg(i));

  FrManual = new QGroupBox;
  FrManual->setObjectName(QStringLiteral("FrManual"));
  FrManual->setAccessibleName(spec_.manualCaption);
  auto* boxes = new QGridLayout(FrManual);
  for (int i = 0; i < spec_.boxes; ++i) {
    QLineEdit* box = numberBox(QStringLiteral("TxtNo(%1)").arg(i), spec_.boxMaxLength, spec_.selectOnFocus);
    box->setAccessibleName(QStringLiteral("再生番号 %1").arg(i + 1));
    box->setAutoFillBackground(true);
    boxes->addWidget(box, i / spec_.boxesPerRow, i % spec_.boxesPerRow);
    TxtNo.append(box);
  }
  CmdCls = new QPushButton(QStringLiteral("リセット"));
  CmdCls->setObjectName(QStringLiteral("CmdCls"));
  CmdCls->setAutoDefault(false);
  boxes->addWidget(CmdCls, (spec_.boxes - 1) / spec_.boxesPerRow + 1, 0, 1, qMin(3, spec_.boxesPerRow));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(OptMode[0]);
  layout->addWidget(OptMode[1]);
  layout->addWidget(FrManual);
  if (!spec_.help.isEmpty()) {
    LblHelp = new QLabel(spec_.help);
    LblHelp->setObjectName(QStringLiteral("LblHelp"));
    layout->addWidget(LblHelp);
  }
  auto* unitRow = new QHBoxLayout;
  if (spec_.unit) {
    TxtCh = numberBox(QStringLiteral("TxtCh"), 2, spec_.selectOnFocus);
    Label1 = new QLabel(spec_.unitLabel);
    Label1->setBuddy(TxtCh);
    TxtCh->setAccessibleName(spec_.unitLabel.trimmed());
    unitRow->addWidget(TxtCh);
    unitRow->addWidget(Label1);
  }
  unitRow->addStretch(1);
  if (spec_.repeat) {
    chk_Repeat = new QCheckBox(QStringLiteral("リピート再生する"));
    chk_Repeat->setObjectName(QStringLiteral("chk_Repeat"));
    unitRow->addWidget(chk_Repeat);
    // The box's state, not the click: assistive technology and code tick it
    // without one.
    connect(chk_Repeat, &QCheckBox::toggled, this, [this](bool on) { emit repeatChanged(on ? 1 : 0); });
  }
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
}

void EntryPanel::showMode(bool manual) {
  if (LblHelp && spec_.helpFollowsMode) {
    QPalette help = LblHelp->palette();
    help.setColor(QPalette::WindowText,
                  palette().color(manual ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    LblHelp->setPalette(help);
  }
  CmdCls->setEnabled(manual);
  if (chk_Repeat) chk_Repeat->setEnabled(manual);
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
  if (TxtCh) TxtCh->setText(spec_.unitDefault);
}

void EntryPanel::setAutoCaption(const QString& caption) { OptMode[0]->setText(caption); }

bool EntryPanel::manualMode() const { return OptMode[1]->isChecked(); }

QStringList EntryPanel::boxTexts() const {
  QStringList texts;
  for (const QLineEdit* box : TxtNo) texts.append(box->text());
  return texts;
}

bool EntryPanel::CheckInput() {
  QStringList texts = boxTexts();
  const EntryCheck check = checkEntries(texts, manualMode(), TxtCh ? TxtCh->text() : QString(), spec_.rules);
  for (int i = 0; i < TxtNo.size(); ++i)
    if (TxtNo[i]->text() != texts[i]) TxtNo[i]->setText(texts[i]);
  if (check.ok) return true;
  if (!check.message.isEmpty())
    MsgBox(this, check.message, MsgIcon::Exclamation, check.title.isEmpty() ? spec_.title : check.title);
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

QList<qint64> EntryPanel::channelNumbers(int maxChannel) const {
  return kestrel::channelNumbers(boxTexts(), manualMode(), maxChannel);
}

int EntryPanel::channelUnit() const { return TxtCh ? int(integerValue(TxtCh->text()).value_or(0)) : 0; }

}  // namespace kestrel
