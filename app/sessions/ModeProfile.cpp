#include "sessions/ModeProfile.h"

#include "sessions/BinarySessions.h"
#include "sessions/BufferedSession.h"
#include "sessions/FenwickSession.h"
#include "sessions/Mode1Session.h"
#include "sessions/Mode34Session.h"
#include "sessions/Mode5Session.h"
#include "sessions/Plx6Session.h"

#include <climits>

namespace kestrel {

namespace {

std::vector<ButtonSpec> playButtons(bool volumeRow) {
  std::vector<ButtonSpec> b{{0, QStringLiteral("再生"), 0, 0},
                            {1, QStringLiteral("停止"), 0, 1},
                            {5, QStringLiteral("一覧クリア"), 3, 0},
                            {6, QStringLiteral("終了"), 3, 1}};
  if (volumeRow) {
    b.push_back({2, QStringLiteral("音量減衰（-6dB）"), 1, 0});
    b.push_back({3, QStringLiteral("音量減衰（-14dB）"), 1, 1});
    b.push_back({4, QStringLiteral("音量減衰（ﾃﾞﾌｫﾙﾄ）"), 2, 0});
  }
  return b;
}

ModeProfile mode1() {
  ModeProfile p{.port = PortSettings{}, .driver = Driver::Mode1};
  // No range check: any number is sent in three digits, as long as it is a
  // number at all (beyond 16 bits it is not one this unit could take).
  p.panel = EntryPanelSpec{
      .autoCaption = QStringLiteral("オートモード（１～２５５CHまで自動再生）"),
      .helpFollowsMode = false,
      .repeat = false,
      .selectOnFocus = true,
      .title = kTitle3J,
      .rules = {.low = -32768, .high = 32767, .rangeMessage = kNotNumeric, .emptyMessage = kPlayNumberRequired}};
  p.buttons = {{0, QStringLiteral("再生"), 0, 0},
               {1, QStringLiteral("停止"), 0, 1},
               {5, QStringLiteral("一覧クリア"), 1, 0},
               {6, QStringLiteral("終了"), 1, 1}};
  p.autoMax = Mode1Session::kChannels;
  return p;
}

ModeProfile buffered(const BufferedVariant& v, bool volumeRow) {
  ModeProfile p{.port = PortSettings{v.settings}, .buffered = &v, .driver = Driver::Buffered};
  p.panel = EntryPanelSpec{.autoCaption = v.autoCaption,
                           .boxMaxLength = v.channelWidth,
                           .help = v.help,
                           .unitDefault = v.unitDefault,
                           .rules = {.high = v.maxChannel, .rangeMessage = v.rangeMessage}};
  p.buttons = playButtons(volumeRow);
  p.autoMax = v.maxChannel;
  p.listWidth = v.channelWidth;
  return p;
}

ModeProfile fenwick(const FenwickVariant& v) {
  return {.port = PortSettings{QStringLiteral("19200,E,8,1")},
          .fenwick = &v,
          .autoMax = v.maxChannel,
          .driver = Driver::Fenwick};
}

ModeProfile brisk() {
  return {.port = PortSettings{QStringLiteral("9600,E,7,1"), ReceiveProfile::TextWithoutEvents},
          .driver = Driver::Brisk};
}

ModeProfile mode34(bool modeB) {
  // These units' windows log the port's line events by number.
  ModeProfile p{.port = PortSettings{QStringLiteral("19200,N,8,1"), ReceiveProfile::Raw, true},
                .driver = Driver::Mode34};
  p.panel =
      EntryPanelSpec{.autoCaption = QStringLiteral("オートモード（１～２０まで自動再生）"),
                     .help = QStringLiteral("【入力例　1CH→1　10CH→10　15CH→15】"),
                     .repeat = false,
                     .rules = {.high = Mode34Session::kMaxChannel,
                               .rangeMessage = QStringLiteral("チャンネル番号は１～２０までの範囲で入力して下さい。")}};
  p.buttons = {{0, QStringLiteral("送信"), 0, 0},
               {1, QStringLiteral("STOP"), 0, 1},
               {2, QStringLiteral("RESET"), 1, 0},
               {6, QStringLiteral("一覧クリア"), 3, 0},
               {7, QStringLiteral("終了"), 3, 1}};
  if (modeB) {
    p.buttons.push_back({3, QStringLiteral("ENQ送信"), 1, 1});
    p.buttons.push_back({4, QStringLiteral("CH1のみ"), 2, 0});
  } else {
    p.buttons.push_back({3, QStringLiteral("音量減衰（-6dB）"), 1, 1});
    p.buttons.push_back({4, QStringLiteral("音量減衰（-14dB）"), 2, 0});
    p.buttons.push_back({5, QStringLiteral("音量減衰（ﾃﾞﾌｫﾙﾄ）"), 2, 1});
  }
  p.autoMax = Mode34Session::kMaxChannel;
  return p;
}

ModeProfile mode5() {
  ModeProfile p{.port = PortSettings{QStringLiteral("9600,E,8,1"), ReceiveProfile::Raw}, .driver = Driver::Mode5};
  p.panel = EntryPanelSpec{.autoCaption = QStringLiteral("オートモード（CH１～３０までを一括送信）"),
                           .manualCaption = QStringLiteral("マニュアルモード（３０個以上の送信は無効となります）"),
                           .boxes = 40,
                           .help = {},
                           .unit = false,
                           .repeat = false,
                           .rules = {.unit = false}};
  p.buttons = {{0, QStringLiteral("送信"), 0, 0},       {1, QStringLiteral("強制停止"), 0, 1},
               {2, QStringLiteral("ACK"), 1, 0},        {3, QStringLiteral("NAK"), 1, 1},
               {6, QStringLiteral("一覧クリア"), 2, 0}, {7, QStringLiteral("終了"), 2, 1}};
  p.autoMax = Mode5Session::kAutoChannels;
  return p;
}

// Eight parallel bits: 255 channels in sub-mode 0, 250 otherwise.
ModeProfile binaryMode2(int subMode) {
  ModeProfile p{.driver = Driver::BinaryMode2};
  p.autoMax = subMode == 0 ? 255 : 250;
  p.panel = EntryPanelSpec{
      .unit = false,
      .title = kTitle,
      .rules = {.high = p.autoMax,
                .rangeMessage = subMode == 0 ? QStringLiteral("チャンネル番号は１～２５５までの範囲で入力して下さい。")
                                             : QStringLiteral("チャンネル番号は１～２５０までの範囲で入力して下さい。"),
                .unit = false}};
  p.buttons = playButtons(true);
  return p;
}

ModeProfile bufferedBinary(const BufferedBinaryVariant& v) {
  ModeProfile p{.bufferedBinary = &v, .driver = Driver::BufferedBinary};
  p.panel = EntryPanelSpec{
      .autoCaption = v.autoCaption,
      .manualCaption = v.manualCaption,
      .boxes = v.boxes,
      .boxMaxLength = v.boxLength,
      .helpFollowsMode = false,
      .unit = false,
      .repeat = false,
      .selectOnFocus = true,
      .title = kTitle3J,
      .rules = {.low = v.rangeChecked ? 1 : INT_MIN,
                .high = v.rangeChecked ? v.maxChannel : INT_MAX,
                .rangeMessage = QStringLiteral("チャンネル番号は１～１０００までの範囲で入力して下さい。"),
                .emptyMessage = kPlayNumberRequired,
                .unit = false,
                .onePass = true}};
  p.buttons = playButtons(false);
  p.autoMax = v.maxChannel;
  p.listWidth = v.listWidth;
  return p;
}

ModeProfile plx6() {
  ModeProfile p{.port = PortSettings{QStringLiteral("4800,E,8,1"), ReceiveProfile::Raw}, .driver = Driver::Plx6};
  // Channel 0 is a channel here, and only plain digits are numbers.
  p.panel =
      EntryPanelSpec{.unitLabel = QStringLiteral("チャンネル単位で送信する "),
                     .repeat = false,
                     .rules = {.low = 0,
                               .rangeMessage = kNotNumeric,
                               .digitsOnly = true,
                               .emptyMessage = kPlayNumberRequired,
                               .emptyTitle = kTitle3J,
                               .unitDigitsMessage = QStringLiteral("ﾁｬﾝﾈﾙ単位は１～１０までの範囲を指定して下さい。")}};
  p.buttons = {{0, QStringLiteral("再生"), 0, 0},
               {1, QStringLiteral("停止"), 0, 1},
               {2, QStringLiteral("一覧クリア"), 1, 0},
               {3, QStringLiteral("終了"), 1, 1}};
  p.autoMax = Plx6Session::kMaxChannel;
  return p;
}

ModeProfile profileOf(int mode) {
  const int subMode = kModeCatalogue[std::size_t(mode)].subMode;
  switch (mode) {
    case 0: return mode1();
    case 1:
    case 2:
    case 6: return buffered(bufferedVariant(subMode), true);
    case 3: return buffered(kBuffered1000, false);
    case 4: return fenwick(kFenwick1000);
    case 5: return buffered(kBufferedTarn4Lan, false);
    case 7: return fenwick(kFenwick);
    case 8: return brisk();
    case 9:
    case 10: return mode34(mode == 10);
    case 11: return mode5();
    case 13:
    case 14:
    case 15: return binaryMode2(subMode);
    case 16: return bufferedBinary(kLumo7Q);
    case 17: return plx6();
    case 18:
    case 19: return bufferedBinary(kTarn2G1M);
    default: return {.notSupported = QStringLiteral("the menu does not offer it")};
  }
}

// Built on first use, once every variant it copies from exists.
const std::array<ModeProfile, kModeCount>& profiles() {
  static const std::array<ModeProfile, kModeCount> table = [] {
    std::array<ModeProfile, kModeCount> t;
    for (int mode = 0; mode < kModeCount; ++mode) {
      t[std::size_t(mode)] = profileOf(mode);
      t[std::size_t(mode)].entry = &kModeCatalogue[std::size_t(mode)];
    }
    return t;
  }();
  return table;
}

}  // namespace

const ModeProfile& modeProfile(int mode) { return profiles().at(std::size_t(mode)); }

const ModeProfile& windowProfile(const QString& window, int subMode) {
  const ModeProfile* first = nullptr;
  for (const ModeProfile& p : profiles()) {
    if (!p.entry->window || window != QLatin1String(p.entry->window)) continue;
    if (p.entry->subMode < 0 || p.entry->subMode == subMode) return p;
    if (!first) first = &p;
  }
  if (!first) qFatal("no mode opens the window %s", qPrintable(window));
  return *first;
}

}  // namespace kestrel
