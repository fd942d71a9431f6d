#include "windows/serial/FrmRS232CMode1.h"

#include "link/SerialLink.h"
#include "core/Pause.h"

namespace kestrel {

namespace {

const QString kCaption = QStringLiteral("RS232C制御モード1");

SerialFormSpec formSpec() {
  SerialFormSpec spec = serialFormSpec(windowProfile(QStringLiteral("FrmRS232CMode1")), kCaption);
  // A busy port gets a plain box titled as this window's other messages.
  spec.port.busyTitle = kTitle3J;
  spec.port.busyIcon = MsgIcon::None;
  spec.log = {.rowOffset = 1, .firstLogRow = 0};
  return spec;
}

}  // namespace

FrmRS232CMode1::FrmRS232CMode1(const WindowContext& context) : FrmRS232CMode1(context, realPause()) {}

FrmRS232CMode1::FrmRS232CMode1(const WindowContext& context, Pause& pause) : SessionForm(context, formSpec(), pause) {
  load(kCaption);
}

void FrmRS232CMode1::CmdAction_Click(int index) {
  switch (index) {
    case 0:
      if (!panel->CheckInput()) return;
      session_.Play(panel->channelNumbers(Mode1Session::kChannels), panel->channelUnit());
      break;
    case 1: session_.Stop(); break;
    case 5: log->Clear(); break;
    case 6: close(); break;
  }
}

}  // namespace kestrel
