#include "kit/Look.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace kestrel {
namespace {

QStringList fallbacksFor(const QString& face) {
  if (face == kMincho || face == QLatin1String("MS PMincho"))
    return {QStringLiteral("MS PMincho"), QStringLiteral("Noto Serif CJK JP"), QStringLiteral("Noto Sans CJK JP")};
  return {QStringLiteral("MS PGothic"), QStringLiteral("Noto Sans CJK JP")};
}

}  // namespace

QFont japaneseFont(const QString& face, int pointSize) {
  QFont font;
  font.setFamilies(QStringList{face} + fallbacksFor(face));
  if (pointSize > 0) font.setPointSize(pointSize);
  return font;
}

void setShiftJisCharset(QWidget* window) {
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets.prepend(window);
  for (QWidget* w : widgets) {
    QFont font = w->font();
    QStringList families = font.families();
    if (families.isEmpty()) families = {font.family()};
    bool changed = false;
    for (const QString& f : fallbacksFor(families.first())) {
      if (!families.contains(f)) {
        families.append(f);
        changed = true;
      }
    }
    if (changed) {
      font.setFamilies(families);
      w->setFont(font);
    }
  }
}

int twipsToPixels(int twips, const QWidget* widget) {
  int dpi = 96;
  if (widget) {
    dpi = widget->logicalDpiY();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    dpi = int(screen->logicalDotsPerInchY());
  }
  return (twips * dpi + 720) / 1440;
}

void setStatus(QLabel* label, const QString& text) {
  label->setText(text);
  label->setAccessibleDescription(text);
}

}  // namespace kestrel
