#include "core/ModString.h"
#include "kit/FocusSelect.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

using namespace kestrel;

TEST(ModString, ByteLenCountsCp932Bytes) {
  EXPECT_EQ(ByteLen(QStringLiteral("日本語")), 6);
  EXPECT_EQ(ByteLen(QStringLiteral("abc")), 3);
  EXPECT_EQ(ByteLen(QStringLiteral("ｱｲ")), 2);  // half-width kana take one byte
  EXPECT_EQ(ByteLen(QStringLiteral("C:\\ﾃｽﾄ試験")), 10);
  EXPECT_EQ(ByteLen(QString()), 0);
  // Characters CP932 lacks count as the one '?' they become.
  EXPECT_EQ(ByteLen(QStringLiteral("é")), 1);
  EXPECT_EQ(ByteLen(QString::fromUtf8("\xF0\x9F\x98\x80")), 1);
}

TEST(ModString, Cp932RoundTrip) {
  const QString text = QStringLiteral("～①ア漢字abc");
  EXPECT_EQ(toCp932(text).toHex(), QByteArray("8160874083418abf8e9a616263"));
  EXPECT_EQ(fromCp932(toCp932(text)), text);
  EXPECT_EQ(toCp932(QStringLiteral("é")), QByteArray("?"));
}

TEST(ModString, LeftAndRightBytesOnWholeCharacters) {
  EXPECT_EQ(LeftBytes(QStringLiteral("日本語"), 4), QStringLiteral("日本"));
  EXPECT_EQ(RightBytes(QStringLiteral("日本語"), 4), QStringLiteral("本語"));
  EXPECT_EQ(LeftBytes(QStringLiteral("abc"), 10), QStringLiteral("abc"));
  EXPECT_EQ(LeftBytes(QStringLiteral("abc"), 0), QString());
  EXPECT_EQ(RightBytes(QStringLiteral("abc"), -1), QString());
  // A drive root keeps only its backslash at the right.
  EXPECT_EQ(RightBytes(QStringLiteral("C:\\"), 1), QStringLiteral("\\"));
  EXPECT_EQ(LeftBytes(QStringLiteral("C:\\"), 2), QStringLiteral("C:"));
}

TEST(ModString, CutThroughTwoByteCharacterGivesOnlyWhatDecodingGives) {
  // A lone lead byte decodes to nothing.
  EXPECT_EQ(LeftBytes(QStringLiteral("日本語"), 3), QStringLiteral("日"));
  // "ア" is 83 41: its lone trail byte is the letter A in CP932.
  EXPECT_EQ(RightBytes(QStringLiteral("アア"), 3), QStringLiteral("Aア"));
  EXPECT_EQ(RightBytes(QStringLiteral("日本"), 1), fromCp932(QByteArray("\x7b", 1)));
}

TEST(ModString, CharactersOutsideCp932SurviveWholeCuts) {
  const QString path = QStringLiteral("/home/josé/");
  EXPECT_EQ(LeftBytes(path, ByteLen(path) - 1), QStringLiteral("/home/josé"));
  const QString emoji = QString::fromUtf8(
      "a\xF0\x9F\x98\x80"
      "b");
  EXPECT_EQ(LeftBytes(emoji, 2), QString::fromUtf8("a\xF0\x9F\x98\x80"));
  EXPECT_EQ(RightBytes(emoji, 2), QString::fromUtf8("\xF0\x9F\x98\x80"
                                                    "b"));
}

TEST(ModString, TrimAtNul) {
  EXPECT_EQ(TrimAtNul(QString::fromUtf16(u"abc\0def", 7)), QStringLiteral("abc"));
  EXPECT_EQ(TrimAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
  EXPECT_EQ(TrimAtNul(QString(3, QChar(0))), QString());
}

TEST(ModString, InStrNoCase) {
  EXPECT_EQ(InStrNoCase(QStringLiteral("Kestrel Tester"), QStringLiteral("TEST")), 9);
  EXPECT_EQ(InStrNoCase(QStringLiteral("abc"), QStringLiteral("x")), 0);
  EXPECT_EQ(InStrNoCase(1, QStringLiteral("abcABC"), QStringLiteral("ABC"), 0), 4);  // exact
  EXPECT_EQ(InStrNoCase(1, QStringLiteral("abcABC"), QStringLiteral("ABC"), 1), 1);
  EXPECT_EQ(InStrNoCase(2, QStringLiteral("abcABC"), QStringLiteral("abc")), 4);
  EXPECT_EQ(InStrNoCase(2, QStringLiteral("abcabc"), QStringLiteral("abc"), 0), 4);
  EXPECT_EQ(InStrNoCase(7, QStringLiteral("abcabc"), QStringLiteral("c")), 0);
  EXPECT_EQ(InStrNoCase(0, QStringLiteral("abc"), QStringLiteral("a")), 0);
  EXPECT_EQ(InStrNoCase(3, QStringLiteral("abc"), QString()), 3);
}

TEST(ModString, TrimSpacesRemovesOnlyAsciiSpaces) {
  EXPECT_EQ(TrimSpaces(QStringLiteral("  a b  ")), QStringLiteral("a b"));
  EXPECT_EQ(TrimSpaces(QStringLiteral("   ")), QString());
  EXPECT_EQ(TrimSpaces(QStringLiteral("\tx\u3000")), QStringLiteral("\tx\u3000"));
}

TEST(ModString, SelectAllTextSelectsTheFocusedBox) {
  QWidget window;
  auto* line = new QLineEdit(QStringLiteral("1234"), &window);
  auto* other = new QPlainTextEdit(QStringLiteral("x"), &window);
  window.show();
  QApplication::setActiveWindow(&window);
  line->setFocus();
  line->deselect();
  SelectAllText();
  EXPECT_EQ(line->selectedText(), QStringLiteral("1234"));
  EXPECT_EQ(line->selectionStart(), 0);
  EXPECT_FALSE(other->textCursor().hasSelection());
}
