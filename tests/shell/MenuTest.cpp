#include "sessions/WexfordBinding.h"
#include "kit/AppEnd.h"
#include "menu/FrmMenu.h"
#include "menu/FrmPass.h"
#include "menu/FrmSettei.h"
#include "menu/BenchState.h"
#include "kit/TestWindows.h"
#include "support/Pty.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"
#include "menu/TestWindowList.h"
#include "sessions/ModeProfile.h"

#include <QButtonGroup>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct Opened {
  QString window;
  qint16 subMode;
  qint16 positiveLogic;
  bool operator==(const Opened&) const = default;
};

void PrintTo(const Opened& o, std::ostream* os) {
  *os << o.window.toStdString() << " SubMode=" << o.subMode << " PositiveLogic=" << o.positiveLogic;
}

// Stands in for every test window: notes what the window would read when it
// loads, then closes itself.
class WindowSpy {
 public:
  WindowSpy() {
    for (const ModeEntry& e : kModeCatalogue) {
      if (!e.window) continue;
      const QString name = QString::fromLatin1(e.window);
      names_.append(name);
      registerTestWindow(name, [this, name](const WindowContext& context) {
        opened.push_back({name, context.SubMode, context.PositiveLogic});
        auto* window = new QDialog(context.parent);
        window->setObjectName(name);
        QTimer::singleShot(0, window, &QDialog::reject);
        return window;
      });
    }
  }
  ~WindowSpy() {
    for (const QString& n : names_) unregisterTestWindow(n);
  }
  std::vector<Opened> opened;

 private:
  QStringList names_;
};

// What the operator does in each access-code dialog, in order.
struct PassScript {
  struct Step {
    QString dialog;
    QStringList attempts;  // each typed and confirmed with OK
    bool thenCancel = false;
  };
  std::vector<Step> steps;
  std::vector<QString> unexpected;
  ModalDriver driver{[this](QWidget* w) {
    auto* pass = qobject_cast<FrmPass*>(w);
    if (!pass) return;
    if (steps.empty() || steps.front().dialog != pass->objectName()) {
      unexpected.push_back(pass->objectName());
      pass->reject();
      return;
    }
    const Step step = steps.front();
    steps.erase(steps.begin());
    for (const QString& typed : step.attempts) {
      pass->TxtPass->setText(typed);
      pass->CmdExe[0]->click();
    }
    if (step.thenCancel) pass->CmdExe[1]->click();
  }};
};

class FakeBoardLibrary {
 public:
  FakeBoardLibrary() : lib(QStringLiteral(FAKE_WEXFORD)) {
    reset = reinterpret_cast<void (*)(std::uintptr_t)>(lib.resolve("FakeWexford_Reset"));
    calls = reinterpret_cast<void (*)(int*, int*, std::uintptr_t*, std::int32_t*, std::uint32_t*)>(
        lib.resolve("FakeWexford_Calls"));
  }
  QLibrary lib;
  void (*reset)(std::uintptr_t) = nullptr;
  void (*calls)(int*, int*, std::uintptr_t*, std::int32_t*, std::uint32_t*) = nullptr;
};

class Menu : public ::testing::Test {
 protected:
  Menu() : board(QStringLiteral(FAKE_WEXFORD)), menu(bench, board) {
    installApplicationEnd([this] { ++ends; });
    menu.show();
  }
  void start(int mode) {
    menu.ExecMode[mode]->setChecked(true);
    menu.Command1[0]->click();
  }
  ~Menu() override { installApplicationEnd({}); }
  RecordingPrompt prompt;
  WindowSpy spy;
  BenchState bench;
  Wexford board;
  FrmMenu menu;
  int ends = 0;
};

}  // namespace

TEST_F(Menu, CaptionsTextsAndColumns) {
  EXPECT_EQ(menu.windowTitle(), QStringLiteral("Kestrel Tester 3J"));
  EXPECT_EQ(menu.LblTitle[0]->text(), QStringLiteral("実機再生テスト用ソフトウェア for LUMO ＆ TARNシリーズ"));
  EXPECT_EQ(menu.LblTitle[1]->text(), QStringLiteral("Kestrel Tester"));
  EXPECT_EQ(menu.LblTitle[2]->text(), QStringLiteral("Kestrel Tester 3.6J"));
  EXPECT_EQ(menu.LblTitle[3]->text(), QString());
  EXPECT_EQ(menu.Label1->text(), QStringLiteral("テストモードを選択し開始ボタンをクリックしてください"));
  EXPECT_EQ(menu.Command1[0]->text(), QStringLiteral("開  始"));
  EXPECT_EQ(menu.Command1[1]->text(), QStringLiteral("設  定"));
  EXPECT_EQ(menu.Command1[2]->text(), QStringLiteral("終  了"));

  ASSERT_EQ(menu.ExecMode.size(), 20);
  EXPECT_EQ(menu.ExecMode[1]->text(), QStringLiteral("バッファ機能付RS232C制御モード 標準（Max255CH 9600,N8,1）"));
  EXPECT_EQ(menu.ExecMode[2]->text(), QStringLiteral("バッファ機能付RS232C制御モード LUMO3用（Max250CH 9600,N,8,1） "));
  EXPECT_EQ(menu.ExecMode[5]->text(),
            QStringLiteral("バッファ機能付RS232C制御モード TARN4B LAN対応モデル （Max1000CH 19200,N,8,1） "));
  EXPECT_EQ(menu.ExecMode[8]->text(), QStringLiteral("TARN5-NV制御モード （ORIS-9用）"));
  EXPECT_EQ(menu.ExecMode[17]->text(), QStringLiteral("PLX6制御モード(Max255CH 4800,E,8,1)"));
  EXPECT_EQ(menu.ExecMode[19]->text(), QStringLiteral("TARN-2G1-M バイナリ制御モード(負論理Max1000CH)"));

  auto* grid = qobject_cast<QGridLayout*>(menu.FrMenu->layout());
  ASSERT_NE(grid, nullptr);
  std::vector<int> left, right;
  for (int row = 0; row < grid->rowCount(); ++row) {
    for (int column = 0; column < 2; ++column) {
      QLayoutItem* item = grid->itemAtPosition(row, column);
      if (!item || !item->widget()) continue;
      (column == 0 ? left : right).push_back(int(menu.ExecMode.indexOf(static_cast<QRadioButton*>(item->widget()))));
    }
  }
  EXPECT_EQ(left, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 17}));
  EXPECT_EQ(right, (std::vector<int>{12, 13, 14, 15, 16, 18, 19}));

  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(menu.ExecMode[i]->isChecked()) << i;
    EXPECT_EQ(menu.ExecMode[i]->isEnabled(), i != 12) << i;
  }
}

TEST_F(Menu, StartWithNothingSelectedDoesNothing) {
  menu.Command1[0]->click();
  EXPECT_TRUE(spy.opened.empty());
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(Menu, SharedBufferedWindowGetsItsSubMode) {
  menu.PositiveLogic = 1;
  start(1);
  start(2);
  bench.Pass01Granted = -1;
  start(6);
  EXPECT_EQ(spy.opened,
            (std::vector<Opened>{{"FrmRS232CMode2", 0, 1}, {"FrmRS232CMode2", 1, 1}, {"FrmRS232CMode2", 2, 1}}));
}

TEST_F(Menu, UngatedEntriesOpenTheirWindows) {
  menu.SubMode = 2;
  for (int mode : {0, 3, 5, 9, 10, 11, 17}) start(mode);
  EXPECT_EQ(spy.opened, (std::vector<Opened>{{"FrmRS232CMode1", 2, 0},
                                             {"FrmRS232CMode2_1000CH", 0, 0},
                                             {"FrmTARN4RS1000CH", 0, 0},
                                             {"FrmRS232CMode3", 0, 0},
                                             {"FrmRS232CMode4", 0, 0},
                                             {"FrmRS232CMode5", 0, 0},
                                             {"FrmPLX6", 0, 0}}));
}

TEST_F(Menu, FirstAccessCodeOnceCoversFourSixSevenButNotEight) {
  PassScript script;
  script.steps = {{"FrmPass01", {kAccessCode01}}, {"FrmPass02", {}, true}};
  start(4);
  start(6);
  start(7);
  start(8);
  EXPECT_TRUE(script.steps.empty());
  EXPECT_TRUE(script.unexpected.empty());
  EXPECT_EQ(bench.Pass01Granted, -1);
  EXPECT_EQ(bench.Pass02Granted, 0);
  EXPECT_EQ(spy.opened,
            (std::vector<Opened>{{"FrmFenwick1000CH", 0, 0}, {"FrmRS232CMode2", 2, 0}, {"FrmFenwick", 2, 0}}));
}

TEST_F(Menu, WrongThenCancelledCodeOpensNothing) {
  PassScript script;
  script.steps = {{"FrmPass01", {QStringLiteral("wrong")}, true}};
  start(7);
  EXPECT_EQ(bench.Pass01Granted, 0);
  EXPECT_TRUE(spy.opened.empty());
  EXPECT_EQ(prompt.texts(), std::vector<QString>{QStringLiteral("パスワードが違います。確認して下さい。")});
}

TEST_F(Menu, SecondAccessCodeOpensEntryEight) {
  PassScript script;
  script.steps = {{"FrmPass02", {kAccessCode02}}};
  start(8);
  start(8);
  EXPECT_TRUE(script.unexpected.empty());
  EXPECT_EQ(bench.Pass02Granted, -1);
  EXPECT_EQ(spy.opened.size(), 2u);
  EXPECT_EQ(spy.opened[0].window, QStringLiteral("FrmBrisk"));
}

TEST_F(Menu, BoardEntriesWithoutABoardShowOneMessageAndOpenNothing) {
  FakeBoardLibrary fake;
  fake.reset(0);
  start(16);
  EXPECT_TRUE(spy.opened.empty());
  EXPECT_EQ(prompt.messages, (std::vector<Message>{{kTitle3J, QStringLiteral("デバイスへの接続に失敗しました。"),
                                                    MsgIcon::None, MsgButtons::Ok}}));
  EXPECT_TRUE(menu.isVisible());
  int opens = 0, closes = 0;
  std::uintptr_t closed = 0;
  std::int32_t unit = 0;
  std::uint32_t types = 0;
  fake.calls(&opens, &closes, &closed, &unit, &types);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 0);
}

TEST_F(Menu, BoardCheckOpensAndClosesThenTheWindowOpens) {
  FakeBoardLibrary fake;
  fake.reset(0x5A5A);
  for (int mode : {13, 14, 15, 16, 18, 19}) start(mode);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(spy.opened, (std::vector<Opened>{{"FrmBinaryMode2", 0, 0},
                                             {"FrmBinaryMode2", 1, 1},
                                             {"FrmBinaryMode2", 1, 0},
                                             {"FrmBiMode7Q", 1, 0},
                                             {"FrmBiMode1000CH", 1, 1},
                                             {"FrmBiMode1000CH", 1, 0}}));
  int opens = 0, closes = 0;
  std::uintptr_t closed = 0;
  std::int32_t unit = -1;
  std::uint32_t types = 0;
  fake.calls(&opens, &closes, &closed, &unit, &types);
  EXPECT_EQ(opens, 6);
  EXPECT_EQ(closes, 6);
  EXPECT_EQ(closed, 0x5A5Au);
  EXPECT_EQ(unit, 0);
  EXPECT_EQ(types, 0xFFFFFF00u);
}

TEST(MenuBoard, MissingLibraryIsAFailedConnectionNotACrash) {
  RecordingPrompt prompt;
  Wexford absent(QStringLiteral("/nonexistent/libWexford.so"));
  BenchState bench;
  FrmMenu menu(bench, absent);
  EXPECT_FALSE(menu.CheckBoardConnection());
  EXPECT_FALSE(menu.CheckBoardConnection());
  EXPECT_EQ(prompt.texts(), (std::vector<QString>{QStringLiteral("デバイスへの接続に失敗しました。"),
                                                  QStringLiteral("デバイスへの接続に失敗しました。")}));
}

TEST(MenuBoard, LibraryWithoutTheEntryPointIsAFailedConnection) {
  RecordingPrompt prompt;
  Wexford wrong(QStringLiteral(NOT_WEXFORD));
  BenchState bench;
  FrmMenu menu(bench, wrong);
  EXPECT_FALSE(menu.CheckBoardConnection());
  EXPECT_EQ(prompt.texts(), std::vector<QString>{QStringLiteral("デバイスへの接続に失敗しました。")});
}

TEST_F(Menu, SettingsButtonOpensSettingsAndExitCloses) {
  bench.ComPortNumber = 1;
  ModalDriver pick([](QWidget* w) {
    if (auto* settings = qobject_cast<FrmSettei*>(w)) {
      settings->Option1[7]->setChecked(true);
      settings->CmdOk->click();
    }
  });
  menu.Command1[1]->click();
  EXPECT_EQ(bench.ComPortNumber, 8);
  EXPECT_EQ(ends, 0);
  menu.Command1[2]->click();
  EXPECT_FALSE(menu.isVisible());
  EXPECT_EQ(ends, 1);
}

// The menu opens the real serial windows, the shared one in the entry's variant.
TEST(MenuWindows, SerialEntriesOpenTheirWindows) {
  RecordingPrompt prompt;
  Pty pty;
  ComPortOverride com1(1, pty.slave());
  BenchState bench;
  bench.Pass01Granted = -1;
  registerTestWindows();
  FrmMenu menu(bench);
  std::vector<QString> captions;
  ModalDriver driver([&](QWidget* w) {
    captions.push_back(w->windowTitle());
    static_cast<QDialog*>(w)->close();
  });
  bench.Pass02Granted = -1;
  for (int mode : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 17}) {
    menu.ExecMode[mode]->setChecked(true);
    menu.Command1[0]->click();
  }
  EXPECT_EQ(captions, (std::vector<QString>{"RS232C制御モード1",
                                            "バッファ機能付RS232C制御(MAX255CH 9600,N,8,1)",
                                            "バッファ機能付RS232C制御(MAX250CH 9600,N,8,1)",
                                            "バッファ機能付RS232C制御(MAX1000CH 19200,E,8,1)",
                                            "交通局向け(1000CH)自動放送用シリアル通信",
                                            "バッファ機能付RS232C制御 TARN4B用 LAN対応版(MAX1000CH 19200,N,8,1)",
                                            "TARN5-KLV制御",
                                            "交通局向け自動放送用シリアル通信",
                                            "TARN5-NV制御（ORIS-9モード）",
                                            "Kestrel Tester - HS-41/42-A ｼﾘｱﾙ制御ﾓｰﾄﾞ",
                                            "Kestrel Tester - HS-41/42-B ｼﾘｱﾙ制御ﾓｰﾄﾞ",
                                            "Kestrel Tester - ミルダ仕様ｼﾘｱﾙ制御ﾓｰﾄﾞ",
                                            "PLX6制御モード"}));
  // Each buffered window and mode 1 told the unit to stop as it closed; the others send nothing.
  EXPECT_EQ(pty.readAvailable(), QByteArray("000\r\xFF\xFF\xFF\xFF\xFF"));
  EXPECT_TRUE(prompt.messages.empty());
}

// A window shared by several entries finds its own entry's profile from what
// the menu hands it: the same port, panel, buttons, variant and bounds.
TEST(ModeProfiles, EachWindowFindsItsEntrysProfile) {
  for (int mode = 0; mode < kModeCount; ++mode) {
    const ModeProfile& p = modeProfile(mode);
    if (!p.entry->window) continue;
    SCOPED_TRACE(mode);
    const ModeProfile& w = windowProfile(QString::fromLatin1(p.entry->window), qMax(0, p.entry->subMode));
    EXPECT_EQ(w.entry->window, p.entry->window);
    EXPECT_EQ(w.port.has_value(), p.port.has_value());
    if (w.port && p.port) {
      EXPECT_EQ(w.port->settings, p.port->settings);
      EXPECT_EQ(w.port->receive, p.port->receive);
      EXPECT_EQ(w.port->lineEvents, p.port->lineEvents);
    }
    ASSERT_EQ(w.panel.has_value(), p.panel.has_value());
    if (p.panel) {
      EXPECT_EQ(w.panel->autoCaption, p.panel->autoCaption);
      EXPECT_EQ(w.panel->rules.high, p.panel->rules.high);
      EXPECT_EQ(w.panel->rules.rangeMessage, p.panel->rules.rangeMessage);
    }
    ASSERT_EQ(w.buttons.size(), p.buttons.size());
    for (std::size_t i = 0; i < p.buttons.size(); ++i) EXPECT_EQ(w.buttons[i].caption, p.buttons[i].caption);
    EXPECT_EQ(w.buffered, p.buffered);
    EXPECT_EQ(w.bufferedBinary, p.bufferedBinary);
    EXPECT_EQ(w.fenwick, p.fenwick);
    EXPECT_EQ(w.autoMax, p.autoMax);
  }
}
