#pragma once
// The channel-entry rules shared by the serial windows, apart from widgets.

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

struct EntryCheck {
  enum class Field { None, Channel, Unit };
  bool ok = true;
  QString message;  // empty: refused without a message
  Field field = Field::None;
  int index = -1;       // the channel box at fault
  bool select = false;  // its text is to be selected
};

// Compacts the manual boxes (non-empty entries to the front, order kept)
// and checks them and the channel unit, in the order the operator is told.
EntryCheck checkEntries(QStringList& boxes, bool manual, const QString& unitText, int limit,
                        const QString& rangeMessage);

// The channels to play, zero-padded to `width` digits: the manual boxes up
// to the first empty one, or 1 to maxChannel.
QStringList buildChannelList(const QStringList& boxes, bool manual, int maxChannel, int width);

}  // namespace kestrel
