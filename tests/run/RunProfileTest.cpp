// The runner checks entries by rules of its own table: each must be the
// rules the entry's window is built with.
#include "windows/binary/BinaryForms.h"
#include "windows/customer/FenwickForms.h"
#include "run/RunOptions.h"
#include "windows/serial/BufferedForms.h"
#include "windows/serial/FrmPLX6.h"
#include "windows/serial/FrmRS232CMode1.h"
#include "windows/serial/FrmRS232CMode5.h"
#include "windows/serial/Mode34Forms.h"
#include "sessions/ModeCatalogue.h"
#include "support/MenuContext.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace kestrel::test {
namespace {

// A board that opens and takes every write.
class OpenBoard : public WexfordApi {
 public:
  std::int32_t WXF_Open(WxfHandle* handle, std::int32_t, std::uint32_t) override {
    *handle = 1;
    return 0;
  }
  std::int32_t WXF_Initialize(WxfHandle) override { return 0; }
  std::int32_t WXF_PortWrite(WxfHandle, std::uint32_t, std::uint8_t, std::uint8_t) override { return 0; }
  std::int32_t WXF_PortRead(WxfHandle, std::uint32_t, std::uint8_t* value) override {
    *value = 0;
    return 0;
  }
  std::int32_t WXF_Close(WxfHandle) override { return 0; }
};

class RunProfiles : public ::testing::TestWithParam<int> {
 protected:
  std::unique_ptr<TestWindow> window(int mode) {
    const ModeEntry& entry = kModeCatalogue[std::size_t(mode)];
    const WindowContext context = menuContext(entry.subMode >= 0 ? entry.subMode : 0,
                                              entry.positiveLogic >= 0 ? entry.positiveLogic : 0);
    const QString name = QString::fromLatin1(entry.window);
    if (name == u"FrmRS232CMode1") return std::make_unique<FrmRS232CMode1>(context, pause);
    if (name == u"FrmRS232CMode2") return std::make_unique<FrmRS232CMode2>(context, pause);
    if (name == u"FrmRS232CMode2_1000CH") return std::make_unique<FrmRS232CMode2_1000CH>(context, pause);
    if (name == u"FrmTARN4RS1000CH") return std::make_unique<FrmTARN4RS1000CH>(context, pause);
    if (name == u"FrmRS232CMode3") return std::make_unique<FrmRS232CMode3>(context, pause);
    if (name == u"FrmRS232CMode4") return std::make_unique<FrmRS232CMode4>(context, pause);
    if (name == u"FrmRS232CMode5") return std::make_unique<FrmRS232CMode5>(context, pause);
    if (name == u"FrmPLX6") return std::make_unique<FrmPLX6>(context, pause);
    if (name == u"FrmBinaryMode2") return std::make_unique<FrmBinaryMode2>(context, board, pause);
    if (name == u"FrmBiMode7Q") return std::make_unique<FrmBiMode7Q>(context, board, pause);
    if (name == u"FrmBiMode1000CH") return std::make_unique<FrmBiMode1000CH>(context, board, pause);
    return nullptr;
  }

  RecordingPrompt prompt;
  VirtualPause pause;
  OpenBoard board;
  ComPortOverride com1{1, QStringLiteral("/dev/kestrel-run-profile-test-no-port")};
};

TEST_P(RunProfiles, MatchTheWindowsPanel) {
  const int mode = GetParam();
  const run::ModeProfile p = run::modeProfile(mode);
  const std::unique_ptr<TestWindow> w = window(mode);
  ASSERT_NE(w, nullptr);
  ASSERT_NE(w->panel, nullptr);
  const EntryPanelSpec& s = w->panel->spec();
  EXPECT_EQ(p.boxes, s.boxes);
  EXPECT_EQ(p.boxLength, s.boxMaxLength);
  EXPECT_EQ(p.unitDefault, s.unit ? s.unitDefault : QString());
  EXPECT_EQ(p.repeat, s.repeat);
  const EntryRules& r = s.rules;
  EXPECT_EQ(p.rules.low, r.low);
  EXPECT_EQ(p.rules.high, r.high);
  EXPECT_EQ(p.rules.rangeMessage, r.rangeMessage);
  EXPECT_EQ(p.rules.digitsOnly, r.digitsOnly);
  EXPECT_EQ(p.rules.emptyMessage, r.emptyMessage);
  EXPECT_EQ(p.rules.unit, r.unit);
  EXPECT_EQ(p.rules.unitDigitsMessage, r.unitDigitsMessage);
  EXPECT_EQ(p.rules.onePass, r.onePass);
  if (auto* binary = dynamic_cast<BufferedBinaryForm*>(w.get()))
    EXPECT_EQ(p.strobeDefault, binary->TxtIoTime->text());
  else
    EXPECT_EQ(p.strobeDefault, QString());
}

// The schedule windows' checks at 送信, which the runner restates: the same
// message for the same path and boxes, and the same request when they pass.
TEST(RunFenwickChecks, MatchTheWindows) {
  RecordingPrompt prompt;
  VirtualPause pause;
  ComPortOverride com1{1, QStringLiteral("/dev/kestrel-run-profile-test-no-port")};
  QTemporaryDir dir;
  const QString wmj = dir.filePath(QStringLiteral("route.wmj"));
  QFile f(wmj);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("#2\r\n1,a,b,c,d,e\r\n");
  f.close();
  QFile::copy(wmj, dir.filePath(QStringLiteral("route.txt")));
  FrmFenwick w7(nullptr, pause);
  FrmFenwick1000CH w4(nullptr, pause);
  const QStringList paths{wmj, QString(), dir.filePath(QStringLiteral("gone.wmj")),
                          dir.filePath(QStringLiteral("route.txt"))};
  const QList<QStringList> ones{{"auto"}, {""}, {" "}, {"x"}, {"0"}, {"256"}, {"255"}, {"12"}};
  const QList<QStringList> ranges{{"", "5"}, {"5", ""}, {"x", "5"}, {"5", "x"}, {"0", "x"},
                                  {"5", "1001"}, {"2", "3"}};
  for (const int mode : {7, 4}) {
    FenwickForm& w = mode == 7 ? static_cast<FenwickForm&>(w7) : w4;
    for (const QString& path : paths) {
      for (const QStringList& boxes : mode == 7 ? ones : ranges) {
        SCOPED_TRACE(QStringLiteral("%1 %2 [%3]").arg(mode).arg(path, boxes.join(u',')).toStdString());
        QStringList args{"--mode", QString::number(mode), "--channels", boxes.join(u','), "--schedule", path};
        const run::ParseResult parsed = run::parseArguments(args);
        ASSERT_EQ(parsed.error, QString());
        const run::Entries e = run::checkOptions(parsed.options, run::modeProfile(mode));

        w.TxtPath->setText(path);
        if (mode == 7) {
          w.OptOutMode[boxes[0] == u"auto" ? 0 : 1]->setChecked(true);
          w.TxtCh->setText(boxes[0] == u"auto" ? QString() : boxes[0]);
        } else {
          w.TextStartCH->setText(boxes[0]);
          w.TextEndCH->setText(boxes[1]);
        }
        prompt.messages.clear();
        w.CmdOutput_Click();
        const QString shown = prompt.messages.empty() ? QString() : prompt.messages.front().text;
        EXPECT_EQ(QString(e.error).remove(QStringLiteral("--schedule: ")), shown);
        if (!e.ok) continue;
        const FenwickSession::Request& asked = w.session().Asked;
        EXPECT_EQ(e.request.all, asked.all);
        EXPECT_EQ(e.request.first, asked.first);
        EXPECT_EQ(e.request.last, asked.last);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryRunnableMode, RunProfiles,
                         ::testing::Values(0, 1, 2, 3, 5, 6, 9, 10, 11, 13, 14, 15, 16, 17, 18, 19));

}  // namespace
}  // namespace kestrel::test
