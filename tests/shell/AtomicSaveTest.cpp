// Saves that replace a file whole or not at all, on a sound disk and on a
// full one. The full disk is a tiny tmpfs in a mount namespace of a child
// run of this program: FullDisk.* makes it and runs the OnAFullDisk cases there.

#include "sessions/BriskSession.h"
#include "kit/TestWindow.h"
#include "core/AtomicSave.h"
#include "kit/ModRegistry.h"
#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Set in the child run: the mount point of its small filesystem.
constexpr char kSmallDiskVariable[] = "KESTREL_TEST_SMALL_DISK";

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(AtomicSave, ReplacesTheFileWholeAndLeavesNothingElse) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("data.dat"));
  writeFile(path, "old\r\n");
  SaveResult saved = saveAtomically(path, QByteArray("1,123\r\n7,1\r\n"));
  EXPECT_TRUE(saved.ok);
  EXPECT_EQ(saved.error, QString());
  EXPECT_EQ(readAll(path), QByteArray("1,123\r\n7,1\r\n"));
  saved = saveAtomically(path, [](QIODevice& out) { return out.write("a") == 1 && out.write("b\r\n") == 3; });
  EXPECT_TRUE(saved.ok);
  EXPECT_EQ(readAll(path), QByteArray("ab\r\n"));
  EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("data.dat")});
}

TEST(AtomicSave, AFailureKeepsTheOldFileAndSaysWhy) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("data.dat"));
  writeFile(path, "old\r\n");
  const SaveResult refused = saveAtomically(path, [](QIODevice& out) {
    out.write("half");
    return false;
  });
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.error.isEmpty());
  const SaveResult nowhere = saveAtomically(dir.filePath(QStringLiteral("none/data.dat")), QByteArray("x"));
  EXPECT_FALSE(nowhere.ok);
  EXPECT_FALSE(nowhere.error.isEmpty());
  EXPECT_EQ(readAll(path), QByteArray("old\r\n"));
  EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("data.dat")});
}

namespace {

// In the child run only: a folder of its own on the small filesystem, an old
// file in it, then a filler that takes every block left.
class OnAFullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = qEnvironmentVariable(kSmallDiskVariable);
    if (disk_.isEmpty()) GTEST_SKIP() << "runs in the child run of FullDisk.SavesThatFindNoRoomKeepTheOldFiles";
    folder = disk_ + QStringLiteral("/case");
    ASSERT_TRUE(QDir().mkpath(folder));
  }
  void TearDown() override {
    if (disk_.isEmpty()) return;
    QFile::remove(disk_ + QStringLiteral("/filler"));
    QDir(folder).removeRecursively();
  }
  // `name` in the folder with `bytes`, and no room left after it.
  QString oldFile(const QString& name, const QByteArray& bytes) {
    const QString path = folder + u'/' + name;
    writeFile(path, bytes);
    QFile filler(disk_ + QStringLiteral("/filler"));
    EXPECT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    bool full = false;
    for (int i = 0; i < 1024 && !full; ++i) full = filler.write(block) != block.size();
    EXPECT_TRUE(full) << "the small disk did not fill";
    return path;
  }
  // The old file with its old bytes, and nothing else in the folder.
  void expectOldFileAlone(const QString& path, const QByteArray& bytes) {
    EXPECT_EQ(readAll(path), bytes);
    EXPECT_EQ(entries(folder), QStringList{QFileInfo(path).fileName()});
  }

  QString disk_;
  QString folder;
};

struct FullDiskWrite {
  const char* name;
  SaveWriter writer;
};
void PrintTo(const FullDiskWrite& w, std::ostream* os) { *os << w.name; }

class OnAFullDiskWriter : public OnAFullDisk, public ::testing::WithParamInterface<FullDiskWrite> {};

}  // namespace

TEST_P(OnAFullDiskWriter, TheSaveFailsAndTheOldFileStays) {
  const QByteArray old = "1,123\r\n2,123\r\n";
  const QString path = oldFile(QStringLiteral("old.dat"), old);
  const SaveResult saved = saveAtomically(path, GetParam().writer);
  EXPECT_FALSE(saved.ok);
  EXPECT_FALSE(saved.error.isEmpty());
  expectOldFileAlone(path, old);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, OnAFullDiskWriter,
    ::testing::Values(
        // Held in the file's buffer until the flush: the flush is what fails.
        FullDiskWrite{"Buffered", [](QIODevice& out) { return out.write(QByteArray(1000, 'b')) == 1000; }},
        FullDiskWrite{"Direct", [](QIODevice& out) { return out.write(QByteArray(256 * 1024, 'd')) == 256 * 1024; }},
        // A writer that does not look at what its writes return.
        FullDiskWrite{"Unchecked",
                      [](QIODevice& out) {
                        for (int i = 0; i < 100; ++i) out.write(QByteArray(1024, 'u'));
                        return true;
                      }}),
    [](const ::testing::TestParamInfo<FullDiskWrite>& info) { return std::string(info.param.name); });

TEST_F(OnAFullDisk, FrameTableSaveSaysItFailed) {
  FakeLink link;
  VirtualPause pause;
  RecordingPrompt prompt;
  WindowPrompter boxes;
  BriskSession session(link, pause, boxes);
  const QByteArray old = "1,123\r\n2,123\r\n";
  const QString path = oldFile(QStringLiteral("data.dat"), old);
  session.setCell(1, BriskSession::EventColumn, QStringLiteral("7"));
  session.setCell(1, BriskSession::UnitColumn, QStringLiteral("1"));
  session.Save(path);
  EXPECT_EQ(prompt.texts(), std::vector<QString>{QStringLiteral("データ不正の為に保存できません    ")});
  EXPECT_TRUE(session.Modified);
  expectOldFileAlone(path, old);
}

TEST_F(OnAFullDisk, LogFileSaveSaysItFailed) {
  RecordingPrompt prompt;
  prompt.answers = {MsgAnswer::Yes};  // over the old one
  const QByteArray old = "****** KestrelTester2J 2024/01/02 03:04:05 ******\r\nold\r\n";
  const QString path = oldFile(QStringLiteral("run.log"), old);
  saveLogFile(
      nullptr, true, [&] { return path; }, [](QIODevice& out) { return out.write(QByteArray(2000, 'l')) == 2000; });
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1],
            (Message{kTitle3J, QStringLiteral("ログファイル出力に失敗しました。"), MsgIcon::Critical, MsgButtons::Ok}));
  expectOldFileAlone(path, old);
}

TEST_F(OnAFullDisk, RegistryValueSaveFails) {
  RecordingPrompt prompt;
  FileRegistryStore store(folder + QStringLiteral("/registry.json"));
  installRegistryStore(&store);
  ASSERT_TRUE(SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegSz, QStringLiteral("KestrelS")));
  const QByteArray old = readAll(store.path());
  oldFile(QStringLiteral("registry.json"), old);
  EXPECT_FALSE(SetRegValue(kRegistryKey, QStringLiteral("Other"), kRegSz, QString(500, u'x')));
  installRegistryStore(nullptr);
  EXPECT_EQ(prompt.texts(),
            std::vector<QString>{QStringLiteral(
                "レジストリ値のセットに失敗しました｡値名 = HKEY_CURRENT_USER\\Software\\HALVERN\\KST\\Other")});
  expectOldFileAlone(store.path(), old);
}

// Makes the small filesystem in a mount namespace of its own and runs
// OnAFullDisk.* there.
TEST(FullDisk, SavesThatFindNoRoomKeepTheOldFiles) {
#ifndef Q_OS_LINUX
  GTEST_SKIP() << "needs Linux mount namespaces";
#else
  if (qEnvironmentVariableIsSet(kSmallDiskVariable)) GTEST_SKIP() << "already in the child run";
  QTemporaryDir mountPoint;
  ASSERT_TRUE(mountPoint.isValid());
  // The script says it runs before it mounts: without that line, unshare itself failed.
  const QString script = QStringLiteral(
      "echo in-namespace; mount -t tmpfs -o size=64k kestrel-small-disk \"$0\" || exit 77; "
      "exec \"$1\" --gtest_filter='*OnAFullDisk*'");
  // Root needs only the mount namespace; anyone else a user namespace too.
  QList<QStringList> ways;
  if (::getuid() == 0) ways.append(QStringList{QStringLiteral("-m")});
  ways.append(QStringList{QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("-m")});
  QStringList tried;
  for (const QStringList& way : ways) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kSmallDiskVariable), mountPoint.path());
    child.setProcessEnvironment(env);
    child.start(QStringLiteral("unshare"),
                way + QStringList{QStringLiteral("sh"), QStringLiteral("-c"), script, mountPoint.path(),
                                  QCoreApplication::applicationFilePath()});
    if (!child.waitForStarted(10000)) {
      tried << QStringLiteral("unshare %1: %2").arg(way.join(u' '), child.errorString());
      continue;
    }
    if (!child.waitForFinished(120000)) {
      child.kill();
      child.waitForFinished(5000);
      FAIL() << "the child run did not end within 120 s";
    }
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(child.readAllStandardError());
    if (!out.startsWith(QStringLiteral("in-namespace"))) {
      tried << QStringLiteral("unshare %1: %2").arg(way.join(u' '), err.trimmed());
      continue;
    }
    if (child.exitCode() == 77) GTEST_SKIP() << "no tmpfs can be mounted here: " << err.trimmed().toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString() << err.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("[  SKIPPED ]"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("[  PASSED  ] 6 tests."))) << out.toStdString();
    return;
  }
  GTEST_SKIP() << "no mount namespace can be made here: " << tried.join(QStringLiteral("; ")).toStdString();
#endif
}
