#include "windows/serial/FrmPLX6.h"

#include "link/SerialLink.h"
#include "core/Pause.h"

namespace kestrel {

namespace {

const QString kCaption = QStringLiteral("PLX6制御モード");

SerialFormSpec formSpec() {
  SerialFormSpec spec{QStringLiteral("FrmPLX6"), kCaption, {QStringLiteral("4800,E,8,1"), ReceiveProfile::Raw}};
  spec.log = {.widthTwips = 8700, .insertRows = true, .clearAfter = 32766};
  spec.log.colours[std::size_t(LineKind::Sent)].background = QColor(0xFF, 0xFF, 0xFF);
  spec.log.colours[std::size_t(LineKind::Received)].background = QColor(0x00, 0xC0, 0xC0);
  // Channel 0 is a channel here, and only plain digits are numbers.
  spec.panel =
      EntryPanelSpec{.unitLabel = QStringLiteral("チャンネル単位で送信する "),
                     .repeat = false,
                     .rules = {.low = 0,
                               .rangeMessage = kNotNumeric,
                               .digitsOnly = true,
                               .emptyMessage = kPlayNumberRequired,
                               .emptyTitle = kTitle3J,
                               .unitDigitsMessage = QStringLiteral("ﾁｬﾝﾈﾙ単位は１～１０までの範囲を指定して下さい。")}};
  spec.buttons = {{0, QStringLiteral("再生"), 0, 0},
                  {1, QStringLiteral("停止"), 0, 1},
                  {2, QStringLiteral("一覧クリア"), 1, 0},
                  {3, QStringLiteral("終了"), 1, 1}};
  return spec;
}

}  // namespace

FrmPLX6::FrmPLX6(const WindowContext& context) : FrmPLX6(context, realPause()) {}

FrmPLX6::FrmPLX6(const WindowContext& context, Pause& pause) : SessionForm(context, formSpec(), pause) { load(kCaption); }

RunProgress FrmPLX6::runProgress() const { return listProgress(session_.ChannelList.size(), session_.ListRemain); }

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
