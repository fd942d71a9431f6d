#include "windows/serial/FrmRS232CMode1.h"

#include "link/SerialLink.h"
#include "core/Pause.h"

namespace kestrel {

namespace {

const QString kCaption = QStringLiteral("RS232C制御モード1");

SerialFormSpec formSpec() {
  // The line settings are the link's own "9600,N,8,1"; a busy port gets a
  // plain box titled as this window's other messages.
  SerialFormSpec spec{QStringLiteral("FrmRS232CMode1"), kCaption, {{}, ReceiveProfile::Text, kTitle3J, MsgIcon::None}};
  spec.log = {.rowOffset = 1, .firstLogRow = 0};
  // No range check: any number is sent in three digits, as long as it is a
  // number at all (beyond 16 bits it is not one this unit could take).
  spec.panel = EntryPanelSpec{
      .autoCaption = QStringLiteral("オートモード（１～２５５CHまで自動再生）"),
      .helpFollowsMode = false,
      .repeat = false,
      .selectOnFocus = true,
      .title = kTitle3J,
      .rules = {.low = -32768, .high = 32767, .rangeMessage = kNotNumeric, .emptyMessage = kPlayNumberRequired}};
  spec.buttons = {{0, QStringLiteral("再生"), 0, 0},
                  {1, QStringLiteral("停止"), 0, 1},
                  {5, QStringLiteral("一覧クリア"), 1, 0},
                  {6, QStringLiteral("終了"), 1, 1}};
  return spec;
}

}  // namespace

FrmRS232CMode1::FrmRS232CMode1(const WindowContext& context) : FrmRS232CMode1(context, realPause()) {}

FrmRS232CMode1::FrmRS232CMode1(const WindowContext& context, Pause& pause) : SessionForm(context, formSpec(), pause) {
  load(kCaption);
}

RunProgress FrmRS232CMode1::runProgress() const {
  return listProgress(session_.ChannelList.size(), session_.ListRemain);
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
