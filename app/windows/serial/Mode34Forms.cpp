#include "windows/serial/Mode34Forms.h"

#include "link/SerialLink.h"
#include "core/Pause.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace kestrel {

namespace {

QString caption(bool modeB) {
  return kTitle + (modeB ? QStringLiteral(" - HS-41/42-B ｼﾘｱﾙ制御ﾓｰﾄﾞ") : QStringLiteral(" - HS-41/42-A ｼﾘｱﾙ制御ﾓｰﾄﾞ"));
}

SerialFormSpec formSpec(bool modeB) {
  SerialFormSpec spec = serialFormSpec(
      windowProfile(modeB ? QStringLiteral("FrmRS232CMode4") : QStringLiteral("FrmRS232CMode3")), caption(modeB));
  spec.log = {.visibleRows = 15};
  return spec;
}

}  // namespace

Mode34Form::Mode34Form(const WindowContext& context, Pause& pause, bool modeB)
    : SessionForm(context, formSpec(modeB), pause), modeB_(modeB) {}

void Mode34Form::CmdAction_Click(int index) {
  Mode34Session& s = session_;
  switch (index) {
    case 0:
      if (!panel->CheckInput()) return;
      s.Send(panel->channelNumbers(s.MaxChannel), panel->channelUnit());
      break;
    case 1: s.SendCommand(Mode34Session::Stop); break;
    case 2: s.SendCommand(Mode34Session::Reset); break;
    case 3: s.SendCommand(modeB_ ? Mode34Session::BareEnq : Mode34Session::Vol6); break;
    case 4: s.SendCommand(modeB_ ? Mode34Session::Ch1 : Mode34Session::Vol14); break;
    case 5: s.SendCommand(Mode34Session::VolDefault); break;
    case 6: log->Clear(); break;
    case 7: close(); break;
  }
}

FrmRS232CMode3::FrmRS232CMode3(const WindowContext& context) : FrmRS232CMode3(context, realPause()) {}

FrmRS232CMode3::FrmRS232CMode3(const WindowContext& context, Pause& pause) : Mode34Form(context, pause, false) {
  load(caption(false));
}

FrmRS232CMode4::FrmRS232CMode4(const WindowContext& context) : FrmRS232CMode4(context, realPause()) {}

FrmRS232CMode4::FrmRS232CMode4(const WindowContext& context, Pause& pause) : Mode34Form(context, pause, true) {
  FrSheet = new QGroupBox;
  FrSheet->setObjectName(QStringLiteral("FrSheet"));
  LblSheet = new QLabel(QStringLiteral("シートNo送信"));
  FrSheet->setAccessibleName(LblSheet->text());
  auto* grid = new QGridLayout(FrSheet);
  grid->addWidget(LblSheet, 0, 0, 1, 4);
  for (int k = 0; k < 16; ++k) {
    auto* button = new QPushButton(QStringLiteral("%1").arg(k + 1, 2, 10, QLatin1Char('0')));
    button->setObjectName(QStringLiteral("SheetCmd(%1)").arg(k));
    button->setAccessibleName(LblSheet->text() + u' ' + button->text());
    connect(button, &QPushButton::clicked, this, [this, k] { session_.SendSheetNo(k); });
    grid->addWidget(button, 1 + k / 4, k % 4);
    SheetCmd.append(button);
  }
  extras()->addWidget(FrSheet);
  load(caption(true));
}

}  // namespace kestrel
