#include "ChannelEntry.h"

#include <QRegularExpression>
#include <cmath>

namespace kestrel {

bool isNumeric(const QString& text) {
  static const QRegularExpression number(QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*$"));
  return number.match(text).hasMatch();
}

std::optional<double> integerValue(const QString& text) {
  if (!isNumeric(text)) return std::nullopt;
  return std::nearbyint(text.trimmed().toDouble());
}

EntryCheck checkEntries(QStringList& boxes, bool manual, const QString& unitText, int limit,
                        const QString& rangeMessage) {
  const auto blank = [](const QString& s) { return s.trimmed().isEmpty(); };
  if (manual) {
    for (int i = 0; i + 1 < boxes.size(); ++i) {
      if (!blank(boxes[i])) continue;
      for (int j = i + 1; j < boxes.size(); ++j) {
        if (!blank(boxes[j])) {
          boxes[i] = boxes[j];
          boxes[j].clear();
          break;
        }
      }
    }
    for (int i = 0; i < boxes.size(); ++i) {
      if (!blank(boxes[i]) && !isNumeric(boxes[i])) return {false, kNotNumeric, EntryCheck::Field::Channel, i, true};
    }
    for (int i = 0; i < boxes.size(); ++i) {
      if (blank(boxes[i])) continue;
      const double value = *integerValue(boxes[i]);
      if (value < 1 || value > limit) return {false, rangeMessage, EntryCheck::Field::Channel, i, true};
    }
    if (boxes.isEmpty() || blank(boxes[0])) return {false, {}, EntryCheck::Field::None, -1, false};
  }
  if (blank(unitText)) return {false, kUnitRequired, EntryCheck::Field::Unit, -1, false};
  if (!isNumeric(unitText)) return {false, kNotNumeric, EntryCheck::Field::Unit, -1, true};
  if (*integerValue(unitText) < 1) return {false, kUnitBelowOne, EntryCheck::Field::Unit, -1, true};
  return {};
}

QStringList buildChannelList(const QStringList& boxes, bool manual, int maxChannel, int width) {
  QStringList list;
  const auto padded = [width](qint64 value) { return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0')); };
  if (!manual) {
    for (int channel = 1; channel <= maxChannel; ++channel) list.append(padded(channel));
    return list;
  }
  for (const QString& box : boxes) {
    const std::optional<double> value = integerValue(box);
    if (box.trimmed().isEmpty() || !value) break;
    list.append(padded(qint64(*value)));
  }
  return list;
}

}  // namespace kestrel
