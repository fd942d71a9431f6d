#include "windows/serial/FrmRS232CMode5.h"

#include "link/SerialLink.h"
#include "core/Pause.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrel {

namespace {

const QString kCaption = kTitle + QStringLiteral(" - ミルダ仕様ｼﾘｱﾙ制御ﾓｰﾄﾞ");

SerialFormSpec formSpec() {
  SerialFormSpec spec = serialFormSpec(windowProfile(QStringLiteral("FrmRS232CMode5")), kCaption);
  spec.log = {.visibleRows = 15};
  return spec;
}

}  // namespace

FrmRS232CMode5::FrmRS232CMode5(const WindowContext& context) : FrmRS232CMode5(context, realPause()) {}

FrmRS232CMode5::FrmRS232CMode5(const WindowContext& context, Pause& pause) : SessionForm(context, formSpec(), pause) {
  FrEnd = new QGroupBox;
  FrEnd->setObjectName(QStringLiteral("FrEnd"));
  FrEnd->setAccessibleName(QStringLiteral("再生終了の受信時"));
  auto* column = new QVBoxLayout(FrEnd);
  const QString captions[] = {QStringLiteral("再生終了の受信時にACKを送信する"),
                              QStringLiteral("再生終了の受信時にNAKを送信する"),
                              QStringLiteral("再生終了の受信時になにも送信しない")};
  for (int i = 0; i < 3; ++i) {
    auto* option = new QRadioButton(captions[i]);
    option->setObjectName(QStringLiteral("Option1(%1)").arg(i));
    connect(option, &QRadioButton::toggled, this, [this, i](bool on) {
      if (on) session_.EndAnswer = qint16(i);
    });
    column->addWidget(option);
    Option1.append(option);
  }
  extras()->addWidget(FrEnd);
  load(kCaption);
}

void FrmRS232CMode5::InitForm() {
  Option1[0]->setChecked(true);
  SerialTestForm::InitForm();
}

void FrmRS232CMode5::CmdAction_Click(int index) {
  switch (index) {
    case 0:
      if (!panel->CheckInput()) return;
      session_.Send(panel->channelNumbers(Mode5Session::kAutoChannels));
      break;
    case 1: session_.SendStop(); break;
    case 2: session_.SendAck(); break;
    case 3: session_.SendNak(); break;
    case 6: log->Clear(); break;
    case 7: close(); break;
  }
}

}  // namespace kestrel
