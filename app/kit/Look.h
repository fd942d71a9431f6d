#pragma once
// Fonts and measures shared by every window.

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace kestrel {

inline const QString kGothic = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString kMincho = QStringLiteral("ＭＳ Ｐ明朝");

// A font of the named Japanese face, falling back to the CJK faces of this
// machine where the face itself is not installed.
QFont japaneseFont(const QString& face, int pointSize = -1);

// Makes every font of the window able to render Japanese, whatever the
// locale: the widgets keep their face and gain the CJK fallbacks.
void setShiftJisCharset(QWidget* window);

// 1440 twips to the inch, at the widget's (or the screen's) logical DPI.
int twipsToPixels(int twips, const QWidget* widget = nullptr);

// A status label's name says what it is; its text, read out as the
// description, says how things stand.
void setStatus(QLabel* label, const QString& text);

}  // namespace kestrel
