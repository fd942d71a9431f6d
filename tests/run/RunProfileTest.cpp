// The runner checks entries by rules of its own table: each must be the
// rules the entry's window is built with.
#include "binary/BinaryForms.h"
#include "run/RunOptions.h"
#include "serial/BufferedForms.h"
#include "serial/FrmPLX6.h"
#include "serial/FrmRS232CMode1.h"
#include "serial/FrmRS232CMode5.h"
#include "serial/Mode34Forms.h"
#include "shell/FrmMenu.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QLineEdit>
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
    FrmMenu::SubMode = qint16(entry.subMode >= 0 ? entry.subMode : 0);
    FrmMenu::PositiveLogic = qint16(entry.positiveLogic >= 0 ? entry.positiveLogic : 0);
    const QString name = QString::fromLatin1(entry.window);
    if (name == u"FrmRS232CMode1") return std::make_unique<FrmRS232CMode1>(nullptr, pause);
    if (name == u"FrmRS232CMode2") return std::make_unique<FrmRS232CMode2>(nullptr, pause);
    if (name == u"FrmRS232CMode2_1000CH") return std::make_unique<FrmRS232CMode2_1000CH>(nullptr, pause);
    if (name == u"FrmTARN4RS1000CH") return std::make_unique<FrmTARN4RS1000CH>(nullptr, pause);
    if (name == u"FrmRS232CMode3") return std::make_unique<FrmRS232CMode3>(nullptr, pause);
    if (name == u"FrmRS232CMode4") return std::make_unique<FrmRS232CMode4>(nullptr, pause);
    if (name == u"FrmRS232CMode5") return std::make_unique<FrmRS232CMode5>(nullptr, pause);
    if (name == u"FrmPLX6") return std::make_unique<FrmPLX6>(nullptr, pause);
    if (name == u"FrmBinaryMode2") return std::make_unique<FrmBinaryMode2>(nullptr, board, pause);
    if (name == u"FrmBiMode7Q") return std::make_unique<FrmBiMode7Q>(nullptr, board, pause);
    if (name == u"FrmBiMode1000CH") return std::make_unique<FrmBiMode1000CH>(nullptr, board, pause);
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

INSTANTIATE_TEST_SUITE_P(EveryRunnableMode, RunProfiles,
                         ::testing::Values(0, 1, 2, 3, 5, 6, 9, 10, 11, 13, 14, 15, 16, 17, 18, 19));

}  // namespace
}  // namespace kestrel::test
