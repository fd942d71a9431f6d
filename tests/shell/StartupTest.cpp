#include "menu/FrmMenu.h"
#include "menu/BenchState.h"
#include "kit/ModRegistry.h"
#include "menu/ModSubMain.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QThread>
#include <QTranslator>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

bool splashAlive() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String("FrmSplash")) return true;
  return false;
}

// Notes, at the moment the menu is shown, whether the splash is still there.
class MenuShowWatcher : public QObject {
 public:
  MenuShowWatcher() { qApp->installEventFilter(this); }
  ~MenuShowWatcher() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show && o->objectName() == QLatin1String("FrmMenu")) {
      ++menuShows;
      splashAliveAtMenuShow = splashAlive();
    }
    return false;
  }
  int menuShows = 0;
  bool splashAliveAtMenuShow = false;
};

// Checks what is on screen during the splash wait.
class SplashWait : public VirtualPause {
 public:
  void sleep(int ms) override {
    VirtualPause::sleep(ms);
    splashVisible = splashAlive();
    waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  }
  bool splashVisible = false;
  bool waitCursor = false;
};

struct Start {
  explicit Start(const QString& lockFile, const QString& exeFolder = QStringLiteral("/opt/kestrel"))
      : startup({lockFile, exeFolder, &pause}) {}
  SplashWait pause;
  MenuShowWatcher watcher;
  ModSubMain startup;
};

QString topValue(RegistryStore& store, std::uint32_t* type) {
  RegKey key = 0;
  if (store.openKey(RegRoot::CurrentUser, kRegistryKey, key) != kErrorSuccess) return QStringLiteral("<none>");
  std::uint32_t size = 256;
  QByteArray data(256, '\0');
  if (store.queryValue(key, QStringLiteral("Top"), *type, data.data(), size) != kErrorSuccess)
    return QStringLiteral("<none>");
  store.closeKey(key);
  return QString::fromLatin1(data.left(size).toHex());
}

}  // namespace

class Startup : public ::testing::Test {
 protected:
  QTemporaryDir runtime;
  QString lockFile() const { return runtime.filePath(QStringLiteral("KestrelTester.lock")); }
  RecordingPrompt prompt;
  TempRegistry reg;
};

TEST_F(Startup, FirstStartWritesMarkerAndClosesSplashBeforeMenu) {
  Start s(lockFile());
  s.startup.bench().ComPortNumber = 5;
  ASSERT_EQ(s.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_TRUE(s.startup.firstStart());
  EXPECT_EQ(s.startup.bench().ComPortNumber, 1);
  EXPECT_EQ(s.pause.sleeps, std::vector<int>{3000});
  EXPECT_TRUE(s.pause.splashVisible);
  EXPECT_TRUE(s.pause.waitCursor);
  EXPECT_EQ(s.watcher.menuShows, 1);
  EXPECT_FALSE(s.watcher.splashAliveAtMenuShow);
  EXPECT_FALSE(splashAlive());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(s.startup.menu()->isVisible());
  std::uint32_t type = 0;
  EXPECT_EQ(topValue(reg.store, &type), QStringLiteral("4b65737472656c5300"));  // "KestrelS\0"
  EXPECT_EQ(type, kRegSz);
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(Startup, LaterStartLeavesMarkerAndClosesSplashAfterMenu) {
  ASSERT_TRUE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegSz, QStringLiteral("Earlier")));
  Start s(lockFile());
  ASSERT_EQ(s.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_FALSE(s.startup.firstStart());
  EXPECT_TRUE(s.watcher.splashAliveAtMenuShow);
  EXPECT_FALSE(splashAlive());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QString()), QStringLiteral("Earlier"));
}

TEST_F(Startup, SecondStartAfterFirstIsNotFirst) {
  {
    Start first(lockFile());
    ASSERT_EQ(first.startup.run(), ModSubMain::Outcome::Running);
    EXPECT_TRUE(first.startup.firstStart());
  }
  Start second(lockFile());
  ASSERT_EQ(second.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_FALSE(second.startup.firstStart());
  EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QString()), QStringLiteral("KestrelS"));
}

// An owner killed between creating its lock file and writing into it leaves
// an empty file that nobody holds.
TEST_F(Startup, EmptyLeftoverLockDoesNotKeepTheProgramOut) {
  QFile leftover(lockFile());
  ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
  leftover.close();
  Start s(lockFile());
  EXPECT_EQ(s.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_TRUE(prompt.texts().empty());
}

TEST_F(Startup, MarkerStoredAsNumberCountsAsFirstStartAndIsOverwritten) {
  ASSERT_TRUE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegDword, 7));
  Start s(lockFile());
  ASSERT_EQ(s.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_TRUE(s.startup.firstStart());
  std::uint32_t type = 0;
  EXPECT_EQ(topValue(reg.store, &type), QStringLiteral("4b65737472656c5300"));
  EXPECT_EQ(type, kRegSz);
}

TEST_F(Startup, CorruptStoreCountsAsFirstStartAndIsRepaired) {
  QFile f(reg.store.path());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("\x00\x01{{{ corrupt", 14);
  f.close();
  Start s(lockFile());
  ASSERT_EQ(s.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_TRUE(s.startup.firstStart());
  EXPECT_EQ(GetRegString(kRegistryKey, QStringLiteral("Top"), QString()), QStringLiteral("KestrelS"));
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(Startup, FailedMarkerWriteIsReportedAndNextStartIsFirstAgain) {
  QTemporaryDir dir;
  QFile blocker(dir.filePath(QStringLiteral("blocker")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  FileRegistryStore unwritable(dir.filePath(QStringLiteral("blocker/registry.json")));
  installRegistryStore(&unwritable);
  {
    Start s(lockFile());
    ASSERT_EQ(s.startup.run(), ModSubMain::Outcome::Running);
    EXPECT_TRUE(s.startup.firstStart());
    EXPECT_TRUE(s.startup.menu()->isVisible());
  }
  ASSERT_EQ(prompt.texts().size(), 1u);
  EXPECT_TRUE(prompt.texts()[0].startsWith(QStringLiteral("レジストリキーの作成に失敗しました｡")));
  Start again(lockFile());
  ASSERT_EQ(again.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_TRUE(again.startup.firstStart());
  installRegistryStore(&reg.store);
}

TEST_F(Startup, AppFolderDropsOnlyTheTrailingSeparator) {
  EXPECT_EQ(appFolderFrom(QStringLiteral("C:\\")), QStringLiteral("C:"));
  EXPECT_EQ(appFolderFrom(QStringLiteral("/")), QString());
  EXPECT_EQ(appFolderFrom(QStringLiteral("/opt/kestrel")), QStringLiteral("/opt/kestrel"));
  EXPECT_EQ(appFolderFrom(QStringLiteral("/opt/試験/")), QStringLiteral("/opt/試験"));
  Start atRoot(lockFile(), QStringLiteral("/"));
  ASSERT_EQ(atRoot.startup.run(), ModSubMain::Outcome::Running);
  EXPECT_EQ(atRoot.startup.bench().AppFolder, QString());
}

TEST_F(Startup, SecondInstanceInThisProcessIsRefused) {
  Start first(lockFile());
  ASSERT_EQ(first.startup.run(), ModSubMain::Outcome::Running);
  first.startup.menu()->hide();

  Start second(lockFile());
  EXPECT_EQ(second.startup.run(), ModSubMain::Outcome::AlreadyRunning);
  EXPECT_TRUE(second.pause.sleeps.empty());
  EXPECT_EQ(second.watcher.menuShows, 0);
  EXPECT_EQ(second.startup.menu(), nullptr);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], (Message{kTitle3J, QStringLiteral("このソフトウェアは既に起動しています。"),
                                         MsgIcon::None, MsgButtons::Ok}));
}

// The real program, started as another process, holds the lock.
TEST_F(Startup, RunningProgramRefusesASecondStartAndALeftoverLockDoesNot) {
  QProcess program;
  program.setProgram(QStringLiteral(KESTREL_BIN_DIR "/KestrelTester"));
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start();
  ASSERT_TRUE(program.waitForStarted());
  const QString lock = defaultLockFile();
  // Until the program has written itself into its lock file, it is still taking it.
  const auto written = [&lock] {
    qint64 pid = 0;
    QString host, app;
    return QLockFile(lock).getLockInfo(&pid, &host, &app);
  };
  for (int i = 0; i < 500 && !written(); ++i) QThread::msleep(20);
  ASSERT_TRUE(written()) << qPrintable(lock);

  {
    Start second(lock);
    EXPECT_EQ(second.startup.run(), ModSubMain::Outcome::AlreadyRunning);
    EXPECT_EQ(prompt.texts(), std::vector<QString>{QStringLiteral("このソフトウェアは既に起動しています。")});
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible()) << qPrintable(w->objectName());
  }

  // Killed without a chance to clean up, it leaves its lock file behind.
  program.kill();
  program.waitForFinished();
  ASSERT_TRUE(QFileInfo::exists(lock));
  Start after(lock);
  EXPECT_EQ(after.startup.run(), ModSubMain::Outcome::Running);
}

TEST(QtTranslations, QtsOwnButtonsSpeakJapaneseOnceLoaded) {
  const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
  EXPECT_EQ(installQtTranslations(QStringLiteral("/nonexistent")), nullptr);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
  QTranslator* translator = installQtTranslations();
  ASSERT_NE(translator, nullptr);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
}
