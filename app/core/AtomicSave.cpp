#include "core/AtomicSave.h"

#include <QSaveFile>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kestrel {

namespace {

// Written bytes may still sit in the system's cache; the new name must not
// reach the disk before them.
bool syncToDisk(int fd, QString& error) {
  if (fd < 0) {
    error = QStringLiteral("no handle to sync");
    return false;
  }
#ifdef _WIN32
  const bool ok = _commit(fd) == 0;
#else
  int rc = 0;
  do rc = ::fsync(fd);
  while (rc != 0 && errno == EINTR);
  const bool ok = rc == 0;
#endif
  if (!ok) error = QString::fromLocal8Bit(std::strerror(errno));
  return ok;
}

}  // namespace

SaveResult saveAtomically(const QString& path, const SaveWriter& write) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {false, file.errorString()};
  const auto fail = [&file](const QString& why) {
    // Not committed: the temporary file goes when `file` does.
    file.cancelWriting();
    return SaveResult{false, why};
  };
  // QSaveFile::commit() reports success after a flush of its buffer failed
  // (a full disk) and ignores the sync: both are checked here first.
  const bool written = write(file);
  if (file.error() != QFileDevice::NoError) return fail(file.errorString());
  if (!written) return fail(QStringLiteral("the content could not be written"));
  if (!file.flush()) return fail(file.errorString());
  QString why;
  if (!syncToDisk(file.handle(), why)) return fail(why);
  if (!file.commit()) return {false, file.errorString()};
  return {true, {}};
}

SaveResult saveAtomically(const QString& path, const QByteArray& bytes) {
  return saveAtomically(path, [&bytes](QIODevice& out) { return out.write(bytes) == bytes.size(); });
}

}  // namespace kestrel
