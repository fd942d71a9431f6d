#include "core/ChannelEntry.h"

#include <QRegularExpression>
#include <algorithm>
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

EntryCheck checkEntries(QStringList& boxes, bool manual, const QString& unitText, const EntryRules& rules) {
  using Field = EntryCheck::Field;
  const auto blank = [](const QString& s) { return s.trimmed().isEmpty(); };
  const auto digits = [](const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
  };
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
    const auto outOfRange = [&](const QString& box) {
      const double value = *integerValue(box);
      return value < rules.low || value > rules.high;
    };
    if (rules.onePass) {
      for (int i = 0; i < boxes.size() && !blank(boxes[i]); ++i) {
        if (!isNumeric(boxes[i])) return {false, kNotNumeric, Field::Channel, i, true};
        if (outOfRange(boxes[i])) return {false, rules.rangeMessage, Field::Channel, i, true};
      }
    }
    for (int i = 0; i < boxes.size(); ++i) {
      if (!blank(boxes[i]) && !isNumeric(boxes[i])) return {false, kNotNumeric, Field::Channel, i, true};
    }
    for (int i = 0; i < boxes.size(); ++i) {
      if (!blank(boxes[i]) && outOfRange(boxes[i])) return {false, rules.rangeMessage, Field::Channel, i, true};
    }
    if (rules.digitsOnly) {
      for (int i = 0; i < boxes.size(); ++i)
        if (!boxes[i].isEmpty() && !digits(boxes[i])) return {false, kNotNumeric, Field::Channel, i, true};
    }
    if (boxes.isEmpty() || blank(boxes[0])) {
      if (rules.emptyMessage.isEmpty()) return {false, {}, Field::None, -1, false};
      return {false, rules.emptyMessage, Field::Channel, 0, false, rules.emptyTitle};
    }
  }
  if (!rules.unit) return {};
  if (blank(unitText)) return {false, kUnitRequired, Field::Unit, -1, false};
  if (!isNumeric(unitText)) return {false, kNotNumeric, Field::Unit, -1, true};
  if (*integerValue(unitText) < 1) return {false, kUnitBelowOne, Field::Unit, -1, true};
  if (!rules.unitDigitsMessage.isEmpty() && !digits(unitText))
    return {false, rules.unitDigitsMessage, Field::Unit, -1, true};
  return {};
}

EntryCheck checkRequest(const QStringList& boxes, int maxChannel, const QString& rangeMessage) {
  using Field = EntryCheck::Field;
  for (int i = 0; i < boxes.size(); ++i)
    if (boxes[i].trimmed().isEmpty()) return {false, kNoChannel, Field::Channel, i, false};
  for (int i = 0; i < boxes.size(); ++i)
    if (!isNumeric(boxes[i])) return {false, kBadChannel, Field::Channel, i, true};
  for (int i = 0; i < boxes.size(); ++i) {
    const double value = *integerValue(boxes[i]);
    if (value < 1 || value > maxChannel) return {false, rangeMessage, Field::Channel, i, true};
  }
  return {};
}

QString zeroPadded(qint64 value, int width) {
  const QString digits = QString::number(qAbs(value)).rightJustified(width, u'0');
  return value < 0 ? u'-' + digits : digits;
}

QList<qint64> channelNumbers(const QStringList& boxes, bool manual, int maxChannel) {
  QList<qint64> list;
  if (!manual) {
    for (int channel = 1; channel <= maxChannel; ++channel) list.append(channel);
    return list;
  }
  for (const QString& box : boxes) {
    const std::optional<double> value = integerValue(box);
    if (box.trimmed().isEmpty() || !value) break;
    list.append(qint64(*value));
  }
  return list;
}

QStringList buildChannelList(const QStringList& boxes, bool manual, int maxChannel, int width) {
  QStringList list;
  for (qint64 channel : channelNumbers(boxes, manual, maxChannel)) list.append(zeroPadded(channel, width));
  return list;
}

}  // namespace kestrel
