#include "link/PortHolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstring>

namespace kestrel {
namespace {

#ifndef _WIN32
// What fits in a lock file or a comm file; the rest is not read.
constexpr qint64 kMaxRead = 256;
// A machine's process table is scanned this far and no further.
constexpr int kMaxProcesses = 32768;
constexpr int kMaxDescriptors = 4096;

QString processName(qint64 pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  if (!comm.open(QIODevice::ReadOnly)) return {};
  return QString::fromLocal8Bit(comm.read(kMaxRead)).trimmed();
}

bool alive(qint64 pid) { return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }

// The PID a lock file names: ours and the UUCP text form both start with it
// as decimal text, the old binary form is four bytes.
qint64 lockPid(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QByteArray data = file.read(kMaxRead);
  bool ok = false;
  const qint64 pid = data.split('\n').value(0).trimmed().toLongLong(&ok);
  if (ok && pid > 0) return pid;
  if (data.size() == 4) {
    qint32 binary = 0;
    std::memcpy(&binary, data.constData(), 4);
    if (binary > 0) return binary;
  }
  return 0;
}

PortHolder fromLockFile(const QString& device) {
  const QString canonical = QFileInfo(device).canonicalFilePath();
  QStringList names;
  for (const QString& path : {device, canonical}) {
    if (path.isEmpty()) continue;
    names << QFileInfo(path).fileName();
    if (path.startsWith(QStringLiteral("/dev/")))
      names << path.mid(5).replace(u'/', u'_');  // "pts/3" is locked as "pts_3"
  }
  names.removeDuplicates();
  const QStringList folders = {QStringLiteral("/run/lock"),       QStringLiteral("/var/lock"),
                               QStringLiteral("/etc/locks"),      QStringLiteral("/var/spool/locks"),
                               QStringLiteral("/var/spool/uucp"), QDir::tempPath()};
  for (const QString& folder : folders) {
    for (const QString& name : names) {
      const QString path = folder + QStringLiteral("/LCK..") + name;
      if (!QFileInfo::exists(path)) continue;
      const qint64 pid = lockPid(path);
      if (pid > 0 && alive(pid)) return {pid, processName(pid), path};
    }
  }
  return {};
}

// A process of ours that has the device open, where no lock file says so.
PortHolder fromOpenFiles(const QString& device) {
  const QString canonical = QFileInfo(device).canonicalFilePath();
  if (canonical.isEmpty()) return {};
  const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  int scanned = 0;
  for (const QString& entry : pids) {
    bool ok = false;
    const qint64 pid = entry.toLongLong(&ok);
    if (!ok) continue;
    if (++scanned > kMaxProcesses) break;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QStringList links = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
    for (int i = 0; i < links.size() && i < kMaxDescriptors; ++i) {
      if (QFileInfo(fds.filePath(links[i])).symLinkTarget() == canonical) return {pid, processName(pid), {}};
    }
  }
  return {};
}
#endif

}  // namespace

PortHolder findPortHolder(const QString& device) {
#ifdef _WIN32
  Q_UNUSED(device);
  return {};
#else
  PortHolder holder = fromLockFile(device);
  if (holder.pid == 0) holder = fromOpenFiles(device);
  return holder;
#endif
}

QString portHolderText(const PortHolder& holder) {
  if (holder.pid == 0) return {};
  QString text = QStringLiteral("PID %1").arg(holder.pid);
  if (!holder.name.isEmpty()) text += QStringLiteral("（%1）").arg(holder.name);
  if (!holder.lockFile.isEmpty()) text += QStringLiteral(", ") + holder.lockFile;
  return text;
}

}  // namespace kestrel
