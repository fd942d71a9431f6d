#include "windows/serial/FrmPLX6.h"

#include "link/SerialLink.h"
#include "core/Pause.h"

namespace kestrel {

namespace {

const QString kCaption = QStringLiteral("PLX6制御モード");

SerialFormSpec formSpec() {
  SerialFormSpec spec = serialFormSpec(windowProfile(QStringLiteral("FrmPLX6")), kCaption);
  spec.log = {.widthTwips = 8700, .insertRows = true, .clearAfter = 32766};
  spec.log.colours[std::size_t(LineKind::Sent)].background = QColor(0xFF, 0xFF, 0xFF);
  spec.log.colours[std::size_t(LineKind::Received)].background = QColor(0x00, 0xC0, 0xC0);
  return spec;
}

}  // namespace

FrmPLX6::FrmPLX6(const WindowContext& context) : FrmPLX6(context, realPause()) {}

FrmPLX6::FrmPLX6(const WindowContext& context, Pause& pause) : SessionForm(context, formSpec(), pause) { load(kCaption); }

void FrmPLX6::CmdAction_Click(int index) {
  switch (index) {
    case 0:
      if (!panel->CheckInput()) return;
      session_.Play(panel->channelNumbers(Plx6Session::kMaxChannel), panel->channelUnit());
      break;
    case 1: session_.Stop(); break;
    case 2: log->Clear(); break;
    case 3: close(); break;
  }
}

}  // namespace kestrel
