#include "menu/FrmSettei.h"
#include "link/ComPorts.h"
#include "menu/BenchState.h"
#include "kit/Look.h"
#include "core/ModString.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <gtest/gtest.h>

using namespace kestrel;

namespace {

class Settei : public ::testing::Test {
 protected:
  Settei() {
    bench.AppFolder = folder.path();
    bench.ComPortNumber = 3;
  }
  void writeNotes(const QByteArray& bytes) {
    QFile f(folder.filePath(QStringLiteral("release.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QTemporaryDir folder;
  BenchState bench;
};

}  // namespace

TEST_F(Settei, TextsAndStartingState) {
  FrmSettei form(bench);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Kestrel Tester  設定"));
  EXPECT_EQ(form.LblCaption[0]->text(), QStringLiteral("Kestrel Tester  設定"));
  EXPECT_EQ(form.StbSettei->tabText(0), QStringLiteral("バージョン情報"));
  EXPECT_EQ(form.StbSettei->tabText(1), QStringLiteral("COM設定"));
  EXPECT_EQ(form.StbSettei->currentIndex(), 0);
  EXPECT_EQ(form.lblModel->text(), QStringLiteral("MODEL  Kestrel Tester"));
  EXPECT_EQ(form.lblVersion->text(), QStringLiteral("Version  3.60"));
  EXPECT_EQ(form.LblStuffTitle->text(), QStringLiteral("開発スタッフ"));
  EXPECT_EQ(form.CmdOk->text(), QStringLiteral("ＯＫ"));
  EXPECT_EQ(form.CmdCancel->text(), QStringLiteral("中止"));
  EXPECT_EQ(form.LblStuff->y(), form.LblStuffTitle->y() + form.LblStuffTitle->height() + twipsToPixels(120, &form));
  ASSERT_EQ(form.Option1.size(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(form.Option1[i]->text(), QStringLiteral("COM%1").arg(i + 1));
    EXPECT_EQ(form.Option1[i]->isChecked(), i == 2) << i;
  }
  EXPECT_TRUE(form.txtRelease->toPlainText().isEmpty());  // no release.txt
}

TEST_F(Settei, OkTakesTheChosenPortCancelAndCloseKeepIt) {
  {
    FrmSettei form(bench);
    form.Option1[7]->setChecked(true);
    form.CmdCancel->click();
    EXPECT_EQ(bench.ComPortNumber, 3);
  }
  {
    FrmSettei form(bench);
    form.show();
    form.Option1[7]->setChecked(true);
    form.close();
    EXPECT_EQ(bench.ComPortNumber, 3);
  }
  FrmSettei form(bench);
  form.Option1[7]->setChecked(true);
  form.CmdOk->click();
  EXPECT_EQ(bench.ComPortNumber, 8);
  EXPECT_EQ(form.result(), int(QDialog::Accepted));
}

TEST_F(Settei, ReleaseNotesAreCp932LinesWithoutTrailingBreak) {
  writeNotes(toCp932(QStringLiteral("一行目\r\nline two\r\n三行目\r\n")));
  FrmSettei form(bench);
  EXPECT_EQ(form.txtRelease->toPlainText(), QStringLiteral("一行目\nline two\n三行目"));
  EXPECT_EQ(form.txtRelease->document()->blockCount(), 3);
}

TEST_F(Settei, ReleaseNotesWithoutFinalBreakOrEmpty) {
  writeNotes(toCp932(QStringLiteral("a\nb")));
  EXPECT_EQ(readReleaseNotes(bench.AppFolder), QStringLiteral("a\nb"));
  writeNotes(QByteArray());
  EXPECT_EQ(readReleaseNotes(bench.AppFolder), QString());
  FrmSettei form(bench);
  EXPECT_TRUE(form.txtRelease->toPlainText().isEmpty());
}

// Installed, the notes are UTF-8 in the documentation folder beside bin/;
// a CP932 file beside the program still comes first.
TEST_F(Settei, ReleaseNotesFromTheDocumentationFolder) {
  ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("bin")));
  ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("share/doc/kestrel-tester")));
  QFile doc(folder.filePath(QStringLiteral("share/doc/kestrel-tester/release.txt")));
  ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
  doc.write(QStringLiteral("版 3.6.0\r\n分割パッケージ\r\n").toUtf8());
  doc.close();
  bench.AppFolder = folder.filePath(QStringLiteral("bin"));
  FrmSettei form(bench);
  EXPECT_EQ(form.txtRelease->toPlainText(), QStringLiteral("版 3.6.0\n分割パッケージ"));

  QFile beside(folder.filePath(QStringLiteral("bin/release.txt")));
  ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
  beside.write(toCp932(QStringLiteral("横の版\r\n")));
  beside.close();
  EXPECT_EQ(readReleaseNotes(bench.AppFolder), QStringLiteral("横の版"));
}

TEST_F(Settei, EachPortShowsWhereItGoes) {
  qputenv("KESTREL_COM3", "/dev/pts/42");
  FrmSettei form(bench);
  qunsetenv("KESTREL_COM3");
  EXPECT_EQ(form.LblDevice[2]->text(), QStringLiteral("→ /dev/pts/42"));
  EXPECT_EQ(form.LblDevice[0]->text(), QStringLiteral("→ /dev/ttyS0"));
  EXPECT_EQ(form.LblDevice[7]->text(), QStringLiteral("→ /dev/ttyS7"));
}

namespace {

// The machine's ports as a test says, and a store of its own.
class SetteiPorts : public Settei {
 protected:
  SetteiPorts() {
    installPortEnumeration([] {
      return QList<SerialPortEntry>{
          {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/serial/by-id/usb-Bench_Adapter_A1-if00-port0"),
           QStringLiteral("Bench Adapter")},
          {QStringLiteral("/dev/ttyACM0"), QString(), QString()},
      };
    });
  }
  ~SetteiPorts() override { installPortEnumeration({}); }
  test::TempRegistry registry;
};

}  // namespace

TEST_F(SetteiPorts, ListsTheMachinesPortsForEachNumber) {
  const QList<SerialPortEntry> ports = serialPorts();
  ASSERT_EQ(ports.size(), 2);
  EXPECT_EQ(ports[0].device, QStringLiteral("/dev/ttyACM0"));  // sorted by device
  FrmSettei form(bench);
  ASSERT_EQ(form.CboDevice.size(), 8);
  for (int i = 0; i < 8; ++i) {
    QComboBox* choice = form.CboDevice[i];
    ASSERT_EQ(choice->count(), 3) << i;
    EXPECT_EQ(choice->itemText(0), QStringLiteral("既定 (/dev/ttyS%1)").arg(i));
    EXPECT_EQ(choice->itemText(1), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(choice->itemText(2),
              QStringLiteral("/dev/ttyUSB0  /dev/serial/by-id/usb-Bench_Adapter_A1-if00-port0  Bench Adapter"));
    EXPECT_EQ(choice->currentIndex(), 0);
    EXPECT_TRUE(choice->isEnabled());
    EXPECT_TRUE(form.LblSource[i]->text().isEmpty());
  }
}

TEST_F(SetteiPorts, OkKeepsTheChoiceCancelDoesNot) {
  {
    FrmSettei form(bench);
    form.CboDevice[1]->setCurrentIndex(2);
    form.CmdCancel->click();
  }
  EXPECT_EQ(comPortDevice(2), QStringLiteral("/dev/ttyS1"));
  {
    FrmSettei form(bench);
    form.CboDevice[1]->setCurrentIndex(2);
    form.CboDevice[4]->setCurrentIndex(1);
    EXPECT_EQ(form.LblDevice[1]->text(), QStringLiteral("→ /dev/serial/by-id/usb-Bench_Adapter_A1-if00-port0"));
    EXPECT_EQ(form.LblDevice[4]->text(), QStringLiteral("→ /dev/ttyACM0"));
    form.CmdOk->click();
  }
  EXPECT_EQ(storedComPortDevice(2), QStringLiteral("/dev/serial/by-id/usb-Bench_Adapter_A1-if00-port0"));
  EXPECT_EQ(comPortDevice(2), QStringLiteral("/dev/serial/by-id/usb-Bench_Adapter_A1-if00-port0"));
  EXPECT_EQ(comPortDevice(5), QStringLiteral("/dev/ttyACM0"));
  EXPECT_EQ(comPortSource(5), ComPortSource::Stored);
  EXPECT_EQ(comPortDevice(1), QStringLiteral("/dev/ttyS0"));

  // The next opening shows the kept choice; a port no longer present stays chosen.
  installPortEnumeration([] { return QList<SerialPortEntry>{}; });
  FrmSettei again(bench);
  EXPECT_EQ(again.CboDevice[4]->currentText(), QStringLiteral("/dev/ttyACM0  (見つかりません)"));
  EXPECT_EQ(again.LblDevice[4]->text(), QStringLiteral("→ /dev/ttyACM0"));
  again.CboDevice[4]->setCurrentIndex(0);
  EXPECT_EQ(again.LblDevice[4]->text(), QStringLiteral("→ /dev/ttyS4"));
  again.CmdOk->click();
  EXPECT_EQ(comPortDevice(5), QStringLiteral("/dev/ttyS4"));
}

TEST_F(SetteiPorts, TheEnvironmentWinsAndTheScreenSaysSo) {
  ASSERT_TRUE(storeComPortDevice(3, QStringLiteral("/dev/ttyACM0")));
  qputenv("KESTREL_COM3", "/dev/pts/42");
  FrmSettei form(bench);
  const QString device = comPortDevice(3);
  qunsetenv("KESTREL_COM3");
  EXPECT_EQ(device, QStringLiteral("/dev/pts/42"));
  EXPECT_EQ(form.LblDevice[2]->text(), QStringLiteral("→ /dev/pts/42"));
  EXPECT_FALSE(form.CboDevice[2]->isEnabled());
  EXPECT_EQ(form.LblSource[2]->text(), QStringLiteral("環境変数 KESTREL_COM3 を使用中"));
  EXPECT_TRUE(form.CboDevice[1]->isEnabled());
}

TEST_F(SetteiPorts, AStoreThatCannotBeWrittenIsReported) {
  test::RecordingPrompt prompt;
  FileRegistryStore unwritable(QStringLiteral("/proc/kestrel-no-such/registry.json"));
  installRegistryStore(&unwritable);
  FrmSettei form(bench);
  form.CboDevice[0]->setCurrentIndex(1);
  form.CmdOk->click();
  installRegistryStore(&registry.store);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].text, QStringLiteral("設定を保存できませんでした。\nCOM1"));
  EXPECT_EQ(form.result(), int(QDialog::Accepted));
}
