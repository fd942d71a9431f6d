// The binary windows end to end: the form, the real Wexford and Corvex
// libraries, the USB driver stand-in or a LAN board, the board model and the
// binary unit on its lines, which must decode what the window sent, in order.
#include "windows/binary/BinaryForms.h"
#include "board.h"
#include "lan_board.h"
#include "support/netns.h"
#include "sessions/ModeCatalogue.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

namespace kestrel::test {
namespace {

namespace sim = kestrel::sim;

// The stand-in Corvex loads, reached here through the same file so that both
// see the same boards. Set before Corvex is first loaded.
void* standIn() {
  static void* module = [] {
    ::setenv("CORVEX_FTD2XX", STAND_IN_FTD2XX, 1);
    return ::dlopen(STAND_IN_FTD2XX, RTLD_NOW);
  }();
  return module;
}

// Replaces the stand-in's boards with `ini`.
bool configureUsb(const std::string& ini) {
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("boards.ini")).toStdString();
  std::ofstream(path) << ini;
  auto* configure = reinterpret_cast<int (*)(const char*)>(::dlsym(standIn(), "ftsim_configure"));
  return configure && configure(path.c_str()) >= 0;
}

const sim::BinaryUnit* usbUnit() {
  auto* board = reinterpret_cast<void* (*)(int)>(::dlsym(standIn(), "ftsim_board"));
  return board && board(0) ? static_cast<sim::Board*>(board(0))->binary_unit() : nullptr;
}

std::string expansionBoard(const char* protocol, const char* logic) {
  return std::string("[board]\nserial = EXP00001\nproduct = 3aa4096d-2cc0-46dd-878a-88511d75ac78 1\n"
                     "version_word = 0x00030201\nbinary_unit = ") +
         protocol + "\nbinary_logic = " + logic + "\nbinary_play_ms = 0\n";
}

std::vector<unsigned> decoded(const sim::BinaryUnit& unit) {
  std::vector<unsigned> out;
  for (const sim::BinaryChannel& c : unit.channels()) out.push_back(c.channel);
  return out;
}

class BinaryEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(standIn(), nullptr) << ::dlerror(); }

  // Ticks the window's timer by hand until its list is done.
  template <class Form>
  void runToEnd(Form& w) {
    for (int ticks = 0; ticks < 5000 && w.Time1.isActive(); ++ticks) w.session().Time1_Timer();
    EXPECT_FALSE(w.Time1.isActive()) << "the run did not end";
  }

  // A TARN-2G1-M manual run in negative logic. `settled` runs before the
  // window closes, once the board has taken every write.
  template <class Check>
  void tarnManualRun(Check&& settled) {
    FrmBiMode1000CH w(nullptr, binding, pause);
    w.show();
    w.panel->OptMode[1]->setChecked(true);
    const char* entries[] = {"1", "1000", "300", "", "512", "999", "255", "256"};
    for (int i = 0; i < int(std::size(entries)); ++i) w.panel->TxtNo[i]->setText(entries[i]);
    w.TxtIoTime->setText("0");
    w.CmdAction[0]->click();
    runToEnd(w);
    EXPECT_EQ(w.log->lines().first(), "[送信]：0001[0 1]");
    bool busy = false;  // a round trip: every write before it has reached the board
    ASSERT_TRUE(w.session().lines().readBusy(busy).ok());
    settled();
    w.CmdAction[6]->click();
  }

  RecordingPrompt prompt;
  VirtualPause pause;
  Wexford binding{QStringLiteral(REAL_WEXFORD)};
};

const std::vector<unsigned> kTarnSent = {1, 1000, 300, 512, 999, 255, 256};

TEST_F(BinaryEndToEnd, LumoAutomaticRunOverUsb) {
  ASSERT_TRUE(configureUsb(expansionBoard("A", "negative")));
  FrmBiMode7Q w(nullptr, binding, pause);
  w.show();
  ASSERT_TRUE(prompt.messages.empty()) << prompt.messages.front().text.toStdString();
  w.TxtIoTime->setText("0");
  w.CmdAction[0]->click();
  runToEnd(w);
  std::vector<unsigned> all(255);
  for (unsigned i = 0; i < all.size(); ++i) all[i] = i + 1;
  ASSERT_NE(usbUnit(), nullptr);
  EXPECT_EQ(decoded(*usbUnit()), all);
  EXPECT_EQ(w.log->lines().last(), "[送信]：255");
  w.CmdAction[6]->click();
  ASSERT_EQ(usbUnit()->stops().size(), 1u) << "closing the window sends the stop pulse";
  EXPECT_FALSE(usbUnit()->stops().front().with_strobe);
}

// The unit plays each channel for 150 ms: the verdict's busy times are from
// each strobe to the read that found the line free again.
TEST_F(BinaryEndToEnd, BusyTimeAfterEachStrobeIsMeasured) {
  std::string board = expansionBoard("A", "negative");
  board.replace(board.find("binary_play_ms = 0"), 18, "binary_play_ms = 150");
  ASSERT_TRUE(configureUsb(board));
  FrmBiMode7Q w(nullptr, binding, pause);
  w.show();
  w.panel->OptMode[1]->setChecked(true);
  for (int i = 0; i < 3; ++i) w.panel->TxtNo[i]->setText(QString::number(7 + i));
  w.TxtIoTime->setText("0");
  w.CmdAction[0]->click();
  for (int ticks = 0; ticks < 200 && w.Time1.isActive(); ++ticks) {
    w.session().Time1_Timer();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(w.Time1.isActive());
  const Measurements& m = w.RunVerdict->measurements();
  EXPECT_EQ(m.frames, 3);
  const Spread busy = m.busy();
  EXPECT_EQ(busy.count, 2) << "the last channel's end is not waited for";
  EXPECT_GE(busy.min, 150.0);
  EXPECT_LE(busy.max, 250.0);
  EXPECT_GE(m.busyWaits, 10);
  EXPECT_EQ(w.RunVerdict->VerdictText->text(), QStringLiteral("合格"));
  w.CmdAction[6]->click();
}

TEST_F(BinaryEndToEnd, TarnManualRunOverUsb) {
  ASSERT_TRUE(configureUsb(expansionBoard("B", "negative")));
  tarnManualRun([] {
    ASSERT_NE(usbUnit(), nullptr);
    EXPECT_EQ(decoded(*usbUnit()), kTarnSent);
  });
}

// On the LAN: no USB expansion board, so the window's open searches the LAN,
// which only happens inside a namespace of the test's own.
TEST_F(BinaryEndToEnd, BothRunsOverTheLan) {
  IN_NAMESPACE();
  ASSERT_TRUE(configureUsb("[board]\nserial = PLAIN\n"));
  std::unique_ptr<sim::LanServer> server;
  const auto serve = [&](sim::BinaryProtocol protocol) {
    sim::LanBoardConfig c;
    c.address = "0.0.0.0";
    c.tcp_port = sim::kDefaultLanPort;
    c.board.product = sim::ProductRecord{*sim::parse_uuid("787c7eb3-31ac-4be1-bd0a-c07563d39179"), 1};
    c.board.version_word = 0x00030201;
    c.board.binary_unit = sim::BinaryUnitConfig{protocol, false, std::chrono::milliseconds(0)};
    server = std::make_unique<sim::LanServer>(std::vector<sim::LanBoardConfig>{c});
    server->start();
  };
  netns::on_board_side([&] { serve(sim::BinaryProtocol::B); });
  ASSERT_NE(server, nullptr);
  tarnManualRun(
      [&] { EXPECT_EQ(server->with_board(0, [](sim::Board& b) { return decoded(*b.binary_unit()); }), kTarnSent); });
  server.reset();

  // The pair's far end went with the first server's namespace; a second pair serves the next.
  ASSERT_EQ(std::system("ip link del cvx0 2>/dev/null; ip link add cvx0 type veth peer name cvx1 && "
                        "ip addr add 10.77.0.1/24 brd + dev cvx0 && ip link set cvx0 up"),
            0);
  netns::on_board_side([&] { serve(sim::BinaryProtocol::A); });
  ASSERT_NE(server, nullptr);
  FrmBiMode7Q w(nullptr, binding, pause);
  w.show();
  w.TxtIoTime->setText("0");
  w.CmdAction[0]->click();
  runToEnd(w);
  bool busy = false;
  ASSERT_TRUE(w.session().lines().readBusy(busy).ok());
  const auto channels = server->with_board(0, [](sim::Board& b) { return decoded(*b.binary_unit()); });
  ASSERT_EQ(channels.size(), 255u);
  for (unsigned i = 0; i < 255; ++i) EXPECT_EQ(channels[i], i + 1);
  w.CmdAction[6]->click();
}

}  // namespace
}  // namespace kestrel::test
