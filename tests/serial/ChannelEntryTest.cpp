#include "core/ChannelEntry.h"
#include "kit/EntryPanel.h"
#include "kit/MessageService.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {
const QString kRange = QStringLiteral("チャンネル番号は１～２５５までの範囲で入力して下さい。");

QStringList boxes(std::initializer_list<const char*> texts) {
  QStringList out;
  for (const char* t : texts) out.append(QString::fromUtf8(t));
  while (out.size() < 20) out.append(QString());
  return out;
}
}  // namespace

TEST(ChannelEntry, Numbers) {
  for (const char* yes : {"5", " 12 ", "+3", "-1", "1.5", ".5", "1e2", "007"}) EXPECT_TRUE(isNumeric(yes)) << yes;
  for (const char* no : {"", " ", "ab", "1a", "1.2.3", "e5", "--1", "１"}) EXPECT_FALSE(isNumeric(no)) << no;
  EXPECT_EQ(integerValue("2.5"), 2.0);  // halves to even
  EXPECT_EQ(integerValue("3.5"), 4.0);
  EXPECT_EQ(integerValue(" 42 "), 42.0);
  EXPECT_EQ(integerValue("x"), std::nullopt);
}

TEST(ChannelEntry, ManualEntriesAreCompactedBeforeTheCheck) {
  QStringList texts = boxes({"5", "", "7", " "});
  EXPECT_TRUE(checkEntries(texts, true, "08", {}).ok);
  EXPECT_EQ(texts.mid(0, 4), (QStringList{"5", "7", "", " "}));  // a blank left at the end stays
  texts = boxes({"", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "9"});
  EXPECT_TRUE(checkEntries(texts, true, "08", {}).ok);
  EXPECT_EQ(texts[0], QStringLiteral("9"));
  EXPECT_EQ(texts[19], QString());
}

TEST(ChannelEntry, MessagesInTheirOrder) {
  struct Case {
    QStringList boxes;
    QString unit;
    QString message;
    EntryCheck::Field field;
    int index;
  };
  const Case cases[] = {
      {boxes({"300", "x"}), "ab", kNotNumeric, EntryCheck::Field::Channel, 1},  // numbers before ranges
      {boxes({"1", "256"}), "ab", kRange, EntryCheck::Field::Channel, 1},       // channels before the unit
      {boxes({"0"}), "08", kRange, EntryCheck::Field::Channel, 0},
      {boxes({"255"}), "", kUnitRequired, EntryCheck::Field::Unit, -1},
      {boxes({"255"}), "  ", kUnitRequired, EntryCheck::Field::Unit, -1},
      {boxes({"255"}), "ab", kNotNumeric, EntryCheck::Field::Unit, -1},
      {boxes({"255"}), "0", kUnitBelowOne, EntryCheck::Field::Unit, -1},
      {boxes({}), "08", QString(), EntryCheck::Field::None, -1},  // nothing entered: no message
  };
  for (const Case& c : cases) {
    QStringList texts = c.boxes;
    const EntryCheck check = checkEntries(texts, true, c.unit, {});
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.message, c.message) << qPrintable(c.boxes.join(u','));
    EXPECT_EQ(check.field, c.field);
    EXPECT_EQ(check.index, c.index);
  }
  QStringList ignored = boxes({"x"});
  EXPECT_TRUE(checkEntries(ignored, false, "08", {}).ok);  // automatic mode skips the boxes
  EXPECT_EQ(checkEntries(ignored, false, "0", {}).message, kUnitBelowOne);
}

TEST(ChannelEntry, LimitsOfEachSubMode) {
  const QString range250 = QStringLiteral("チャンネル番号は１～２５０までの範囲で入力して下さい。");
  const EntryRules rules250{.high = 250, .rangeMessage = range250};
  QStringList ok250 = boxes({"250"}), bad250 = boxes({"251"}), ok255 = boxes({"255"}), bad255 = boxes({"256"});
  EXPECT_TRUE(checkEntries(ok250, true, "08", rules250).ok);
  EXPECT_EQ(checkEntries(bad250, true, "08", rules250).message, range250);
  EXPECT_TRUE(checkEntries(ok255, true, "08", {}).ok);
  EXPECT_EQ(checkEntries(bad255, true, "08", {}).message, kRange);
  QStringList huge = boxes({"1e9"});
  EXPECT_EQ(checkEntries(huge, true, "08", {}).message, kRange);
}

// The variants the windows are made of, each with what sets it apart.
TEST(ChannelEntry, RulesAsData) {
  const EntryRules digitsOnly{.low = 0,
                              .rangeMessage = kNotNumeric,
                              .digitsOnly = true,
                              .emptyMessage = kPlayNumberRequired,
                              .emptyTitle = kTitle3J,
                              .unitDigitsMessage = QStringLiteral("ﾁｬﾝﾈﾙ単位は１～１０までの範囲を指定して下さい。")};
  QStringList texts = boxes({"0", "+5"});
  EntryCheck check = checkEntries(texts, true, "08", digitsOnly);
  EXPECT_EQ(check.message, kNotNumeric);  // 0 passes the range; the sign is refused
  EXPECT_EQ(check.index, 1);
  texts = boxes({});
  check = checkEntries(texts, true, "08", digitsOnly);
  EXPECT_EQ(check.message, kPlayNumberRequired);
  EXPECT_EQ(check.title, kTitle3J);
  EXPECT_EQ(check.index, 0);
  texts = boxes({"7"});
  EXPECT_EQ(checkEntries(texts, true, "1.0", digitsOnly).message, digitsOnly.unitDigitsMessage);

  // Forty boxes and no channel unit.
  const EntryRules noUnit{.unit = false};
  QStringList forty(40);
  forty[39] = QStringLiteral("255");
  EXPECT_TRUE(checkEntries(forty, true, QString(), noUnit).ok);
  EXPECT_EQ(forty[0], QStringLiteral("255"));

  // No range to speak of, but a number must fit the unit's 16 bits.
  const EntryRules anyNumber{.low = -32768, .high = 32767, .rangeMessage = kNotNumeric};
  texts = boxes({"999", "9e9"});
  EXPECT_EQ(checkEntries(texts, true, "08", anyNumber).index, 1);
  EXPECT_EQ(zeroPadded(-5, 3), QStringLiteral("-005"));
}

TEST(ChannelEntry, ChannelLists) {
  EXPECT_EQ(buildChannelList(boxes({"1", "15", "145", "", "9"}), true, 255, 3), (QStringList{"001", "015", "145"}));
  EXPECT_EQ(buildChannelList(boxes({"7"}), true, 1000, 4), QStringList{"0007"});
  const QStringList all = buildChannelList({}, false, 250, 3);
  EXPECT_EQ(all.size(), 250);
  EXPECT_EQ(all.first(), QStringLiteral("001"));
  EXPECT_EQ(all.last(), QStringLiteral("250"));
}

// The schedule windows' request boxes: all filled, then all numbers, then
// all in range, each step over every box before the next; the box at fault
// is named and, past the first step, selected.
TEST(ChannelEntry, ScheduleRequestChecksEachStepOverEveryBox) {
  const QString range = QStringLiteral("ＣＨ番号は1～1000までの数値を入力して下さい。");
  struct Case {
    QStringList boxes;
    QString message;
    int index;
    bool select;
  };
  const Case cases[] = {
      {{"x", ""}, kNoChannel, 1, false},   {{" ", "5"}, kNoChannel, 0, false}, {{"0", "x"}, kBadChannel, 1, true},
      {{"1001", "2"}, range, 0, true},     {{"2", "0"}, range, 1, true},       {{"1.4", "1000.4"}, {}, -1, false},
      {{"12"}, {}, -1, false},             {{"abc"}, kBadChannel, 0, true},
  };
  for (const Case& c : cases) {
    const EntryCheck check = checkRequest(c.boxes, 1000, range);
    EXPECT_EQ(check.ok, c.message.isEmpty()) << c.boxes.join(u',').toStdString();
    EXPECT_EQ(check.message, c.message) << c.boxes.join(u',').toStdString();
    EXPECT_EQ(check.index, c.index) << c.boxes.join(u',').toStdString();
    EXPECT_EQ(check.select, c.select) << c.boxes.join(u',').toStdString();
  }
}

TEST(EntryPanel, ModesAndInitialState) {
  EntryPanel panel({});
  panel.InitForm();
  EXPECT_TRUE(panel.OptMode[0]->isChecked());
  EXPECT_FALSE(panel.FrManual->isEnabled());
  EXPECT_FALSE(panel.chk_Repeat->isEnabled());
  EXPECT_FALSE(panel.CmdCls->isEnabled());
  EXPECT_EQ(panel.TxtCh->text(), QStringLiteral("08"));
  EXPECT_EQ(panel.TxtNo.size(), 20);
  EXPECT_EQ(panel.TxtNo[0]->maxLength(), 3);
  EXPECT_EQ(panel.TxtCh->maxLength(), 2);
  EXPECT_EQ(panel.OptMode[1]->text(), QStringLiteral("マニュアルモード（最大２０指定）"));
  EXPECT_EQ(panel.LblHelp->text(), QStringLiteral("【入力例　1CH→1　15CH→15　145CH→145】"));
  const QColor autoBackground = panel.TxtNo[0]->palette().color(QPalette::Base);

  bool manual = false;
  QObject::connect(&panel, &EntryPanel::manualModeChanged, [&](bool m) { manual = m; });
  panel.OptMode[1]->click();
  EXPECT_TRUE(manual);
  EXPECT_TRUE(panel.FrManual->isEnabled());
  EXPECT_TRUE(panel.chk_Repeat->isEnabled());
  EXPECT_NE(panel.TxtNo[0]->palette().color(QPalette::Base), autoBackground);
  panel.TxtNo[3]->setText("12");
  panel.CmdCls->click();
  EXPECT_TRUE(panel.TxtNo[3]->text().isEmpty());

  int repeat = -1;
  QObject::connect(&panel, &EntryPanel::repeatChanged, [&](int v) { repeat = v; });
  panel.chk_Repeat->click();
  EXPECT_EQ(repeat, 1);
  panel.chk_Repeat->click();
  EXPECT_EQ(repeat, 0);
}

TEST(EntryPanel, PanelWithoutUnitRepeatOrHelp) {
  RecordingPrompt prompt;
  EntryPanel panel(
      {.boxes = 40, .boxesPerRow = 20, .help = {}, .unit = false, .repeat = false, .rules = {.unit = false}});
  panel.InitForm();
  EXPECT_EQ(panel.TxtNo.size(), 40);
  EXPECT_EQ(panel.TxtNo[39]->accessibleName(), QStringLiteral("再生番号 40"));
  EXPECT_FALSE(panel.TxtCh || panel.chk_Repeat || panel.LblHelp);
  EXPECT_TRUE(panel.CheckInput());  // automatic mode always passes
  panel.OptMode[1]->click();
  EXPECT_TRUE(panel.CmdCls->isEnabled());
  EXPECT_FALSE(panel.CheckInput());
  EXPECT_TRUE(prompt.messages.empty());
  panel.TxtNo[39]->setText("30");
  EXPECT_TRUE(panel.CheckInput());
  EXPECT_EQ(panel.channelNumbers(30), QList<qint64>{30});
}

TEST(EntryPanel, CheckInputShowsTheMessageAndSelectsTheBox) {
  RecordingPrompt prompt;
  EntryPanel panel({});
  panel.InitForm();
  panel.show();
  QApplication::setActiveWindow(&panel);
  panel.OptMode[1]->click();
  panel.TxtNo[0]->setText("5");
  panel.TxtNo[2]->setText("999");
  EXPECT_FALSE(panel.CheckInput());
  EXPECT_EQ(panel.TxtNo[1]->text(), QStringLiteral("999"));  // compacted on screen too
  EXPECT_TRUE(panel.TxtNo[1]->hasFocus());
  EXPECT_EQ(panel.TxtNo[1]->selectedText(), QStringLiteral("999"));
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], (Message{kTitle, kRange, MsgIcon::Exclamation, MsgButtons::Ok}));

  panel.TxtNo[1]->setText("9");
  panel.TxtCh->setText("0");
  EXPECT_FALSE(panel.CheckInput());
  EXPECT_TRUE(panel.TxtCh->hasFocus());
  EXPECT_EQ(panel.TxtCh->selectedText(), QStringLiteral("0"));
  EXPECT_EQ(prompt.texts().back(), kUnitBelowOne);

  panel.TxtCh->setText("3");
  EXPECT_TRUE(panel.CheckInput());
  EXPECT_EQ(panel.channelList(255, 3), (QStringList{"005", "009"}));
  EXPECT_EQ(panel.channelUnit(), 3);
}

TEST(EntryPanel, BoxesSelectTheirTextOnFocusOnlyWhenAsked) {
  for (bool select : {false, true}) {
    EntryPanel panel({.selectOnFocus = select});
    panel.InitForm();
    panel.show();
    QApplication::setActiveWindow(&panel);
    panel.OptMode[1]->click();
    panel.TxtNo[4]->setText("123");
    panel.TxtNo[4]->deselect();
    panel.TxtNo[4]->setFocus(Qt::TabFocusReason);
    panel.TxtNo[4]->deselect();
    panel.TxtCh->setFocus(Qt::MouseFocusReason);
    panel.TxtNo[4]->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(panel.TxtNo[4]->selectedText(), select ? QStringLiteral("123") : QString()) << select;
  }
}
