#pragma once
// The channel-entry rules shared by the serial windows, apart from widgets.

#include "core/Prompter.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kestrel {

inline const QString kNotNumeric = QStringLiteral("数値を入力してください。");
inline const QString kUnitRequired = QStringLiteral("ﾁｬﾝﾈﾙ単位は必須入力です。");
inline const QString kUnitBelowOne = QStringLiteral("ﾁｬﾝﾈﾙ単位は１以上の値を指定してください。");

// A number as an operator may type it: spaces around, a sign, a fraction,
// an exponent.
bool isNumeric(const QString& text);
// Its value rounded to an integer, halves to even; nullopt when not numeric.
std::optional<double> integerValue(const QString& text);

inline const QString kHelp255 = QStringLiteral("【入力例　1CH→1　15CH→15　145CH→145】");
inline const QString kPlayNumberRequired = QStringLiteral("再生番号は必須入力です。");

// How a window checks its entries. The checks run in this order: every box
// numeric, every box in range, every box digits only, the list not empty,
// then the channel unit.
struct EntryRules {
  int low = 1;
  int high = 255;
  QString rangeMessage = QStringLiteral("チャンネル番号は１～２５５までの範囲で入力して下さい。");
  bool digitsOnly = false;
  QString emptyMessage{};       // all boxes empty; without a text the check fails silently
  QString emptyTitle{};         // that message's title when it is not the panel's
  bool unit = true;             // the channel unit is checked
  QString unitDigitsMessage{};  // set: the unit must be digits 0-9 only
  bool onePass = false;         // each box numeric and in range before the next is looked at
};

// What an entry panel shows and checks: its captions, boxes and rules.
struct EntryPanelSpec {
  QString autoCaption = QStringLiteral("オートモード（１～２５５まで自動再生）");
  QString manualCaption = QStringLiteral("マニュアルモード（最大２０指定）");
  int boxes = 20;
  int boxesPerRow = 10;
  int boxMaxLength = 3;
  QString help = kHelp255;      // empty: no help label
  bool helpFollowsMode = true;  // greyed in automatic mode
  bool unit = true;             // TxtCh with its label
  QString unitLabel = QStringLiteral("チャンネル単位で送信する");
  QString unitDefault = QStringLiteral("08");
  bool repeat = true;          // chk_Repeat
  bool selectOnFocus = false;  // the boxes select their text whenever they take the focus
  QString title = kTitle;      // of the check's message boxes
  EntryRules rules{};
};

struct EntryCheck {
  enum class Field { None, Channel, Unit };
  bool ok = true;
  QString message;  // empty: refused without a message
  Field field = Field::None;
  int index = -1;       // the channel box at fault
  bool select = false;  // its text is to be selected
  QString title{};      // empty: the panel's title
};

// Compacts the manual boxes (non-empty entries to the front, order kept)
// and checks them and the channel unit, in the order the operator is told.
EntryCheck checkEntries(QStringList& boxes, bool manual, const QString& unitText, const EntryRules& rules);

inline const QString kNoChannel = QStringLiteral("送信するＣＨ番号を指定して下さい。");
inline const QString kBadChannel = QStringLiteral("ＣＨ番号の値が不正です。確認して下さい。");

// The schedule windows' request boxes, one channel or a start and an end:
// every box filled, then every box a number, then every box 1 to
// `maxChannel`.
EntryCheck checkRequest(const QStringList& boxes, int maxChannel, const QString& rangeMessage);

// `value` in `width` digits with leading zeros, a minus sign in front.
QString zeroPadded(qint64 value, int width);

// The channels to play as whole numbers: the manual boxes up to the first
// empty one, or 1 to maxChannel.
QList<qint64> channelNumbers(const QStringList& boxes, bool manual, int maxChannel);
// The same, zero-padded to `width` digits.
QStringList buildChannelList(const QStringList& boxes, bool manual, int maxChannel, int width);

}  // namespace kestrel
