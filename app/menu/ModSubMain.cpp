#include "menu/ModSubMain.h"

#include "menu/FrmMenu.h"
#include "menu/FrmSplash.h"
#include "menu/BenchState.h"
#include "kit/MessageService.h"
#include "kit/ModRegistry.h"
#include "core/ModString.h"
#include "core/Pause.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QStandardPaths>
#include <QWindow>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestrel {

namespace {

// A lock file nobody holds and whose owner never wrote itself into it (killed
// between creating and writing it): QLockFile cannot tell it is stale, and
// with no stale age it would keep every later start out.
bool takeOverUnreadableLock(QLockFile& lock, const QString& file) {
  qint64 pid = 0;
  QString host, app;
  if (lock.getLockInfo(&pid, &host, &app)) return false;
  const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // A live owner holds the file's lock from before it writes its details.
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  const bool removed = free && ::unlink(QFile::encodeName(file).constData()) == 0;
  ::close(fd);
  return removed && lock.tryLock(0);
}

}  // namespace

QString appFolderFrom(const QString& executableFolder) {
  const QString folder = QDir::toNativeSeparators(executableFolder);
  if (folder.endsWith(u'\\') || folder.endsWith(u'/')) return LeftBytes(folder, ByteLen(folder) - 1);
  return folder;
}

QString defaultLockFile() {
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/KestrelTester.lock");
}

QTranslator* installQtTranslations(const QString& folder) {
  const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_ja"), from) || !QCoreApplication::installTranslator(translator.get()))
    return nullptr;
  translator->setParent(QCoreApplication::instance());
  return translator.release();
}

ModSubMain::ModSubMain(StartupOptions options) : options_(std::move(options)), lock_(options_.lockFile) {
  // Only a live owner counts; a lock left by a crashed run is taken over.
  lock_.setStaleLockTime(0);
}

ModSubMain::~ModSubMain() {
  if (splash_) unloadSplash();
}

ModSubMain::Outcome ModSubMain::run() {
  bench_.ComPortNumber = 1;

  QDir().mkpath(QFileInfo(options_.lockFile).absolutePath());
  if (!lock_.tryLock(0) && lock_.error() == QLockFile::LockFailedError &&
      !takeOverUnreadableLock(lock_, options_.lockFile)) {
    MsgBox(nullptr, QStringLiteral("このソフトウェアは既に起動しています。"));
    return Outcome::AlreadyRunning;
  }
  // Any other lock error (no writable runtime folder) must not keep the
  // operator out: start without the guard.

  QGuiApplication::setOverrideCursor(Qt::WaitCursor);

  splash_ = std::make_unique<FrmSplash>();
  splash_->show();
  // The window system must have put it on screen before it can paint there.
  QElapsedTimer mapping;
  mapping.start();
  do {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  } while (!(splash_->windowHandle() && splash_->windowHandle()->isExposed()) && mapping.elapsed() < 500);
  splash_->repaint();
  options_.pause->sleep(kSplashMs);

  bench_.AppFolder = appFolderFrom(options_.executableFolder);

  try {
    firstStart_ = GetRegString(kRegistryKey, QStringLiteral("Top"), QStringLiteral("Fast")) == QStringLiteral("Fast");
    if (firstStart_) {
      unloadSplash();
      SetRegValue(kRegistryKey, QStringLiteral("Top"), kRegSz, QStringLiteral("KestrelS"));
    }
  } catch (...) {
    return Outcome::Ended;
  }

  menu_ = std::make_unique<FrmMenu>(bench_);
  menu_->show();

  if (!firstStart_) unloadSplash();
  return Outcome::Running;
}

void ModSubMain::unloadSplash() {
  splash_.reset();
  QGuiApplication::restoreOverrideCursor();
}

}  // namespace kestrel
