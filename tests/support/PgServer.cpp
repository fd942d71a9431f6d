#include "support/PgServer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kestrel::test {

namespace {

constexpr uid_t kNobody = 65534;
constexpr const char* kUser = "kestrel";

QString findBin() {
  const QString given = qEnvironmentVariable("KESTREL_PG_BIN");
  if (!given.isEmpty()) return given;
  QStringList found;
  for (const QString& version :
       QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    if (QFileInfo::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(version)))
      found << QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
  std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) {
    return a.section('/', 4, 4).toInt() > b.section('/', 4, 4).toInt();
  });
  return found.isEmpty() ? QString() : found.front();
}

// A port nothing listens on now; the server takes it a moment later.
int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

bool chownTree(const QString& root) {
  if (::geteuid() != 0) return true;
  if (::chown(QFile::encodeName(root).constData(), kNobody, kNobody) != 0) return false;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext())
    if (::lchown(QFile::encodeName(it.next()).constData(), kNobody, kNobody) != 0) return false;
  return true;
}

}  // namespace

PgServer::~PgServer() {
  if (running_) stop();
}

PgServer& PgServer::shared() {
  // Stopped and its folder removed at exit, whatever the order the
  // program's statics go in.
  static PgServer* server = nullptr;
  if (!server) {
    server = new PgServer;
    std::atexit([] {
      delete server;
      server = nullptr;
    });
  }
  return *server;
}

QString PgServer::socketFolder() const { return dir_ ? dir_->path() + QStringLiteral("/sock") : QString(); }

QString PgServer::url(const QString& database) const {
  return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(QLatin1String(kUser)).arg(port_).arg(database);
}

QString PgServer::socketUrl(const QString& database) const {
  // Put together, not through arg(): the encoded folder is full of '%'.
  return QStringLiteral("postgresql://") + QLatin1String(kUser) + QLatin1Char('@') +
         QString::fromUtf8(QUrl::toPercentEncoding(socketFolder())) + QLatin1Char(':') + QString::number(port_) +
         QLatin1Char('/') + database;
}

bool PgServer::runTool(const QString& tool, const QStringList& args, bool asServerUser, int timeoutMs,
                       QString* output) {
  const QString log = dir_->path() + QStringLiteral("/tool.out");
  std::vector<std::string> argv;
  if (asServerUser && ::geteuid() == 0) {
    argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  }
  argv.push_back((bin_ + QLatin1Char('/') + tool).toStdString());
  for (const QString& a : args) argv.push_back(a.toStdString());
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string logPath = log.toStdString();
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const std::string cwd = dir_->path().toStdString();
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    reason_ = QStringLiteral("cannot run %1: %2").arg(QString::fromStdString(argv[0]), qt_error_string(spawned));
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  bool ended = false;
  while (!ended) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) {
      ended = r == pid;
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      reason_ = QStringLiteral("%1 did not end within %2 ms").arg(tool).arg(timeoutMs);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  QFile out(log);
  const QString text = out.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(out.readAll()).trimmed() : QString();
  if (output) *output = text;
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    reason_ = QStringLiteral("%1 %2 failed: %3").arg(tool, args.join(QLatin1Char(' ')), text);
    return false;
  }
  return true;
}

bool PgServer::prepare() {
  if (prepared_) return true;
  bin_ = findBin();
  if (bin_.isEmpty()) {
    reason_ = QStringLiteral("no PostgreSQL server programs (initdb) under /usr/lib/postgresql");
    return false;
  }
  for (const char* tool : {"initdb", "pg_ctl", "postgres", "createdb"}) {
    if (!QFileInfo(bin_ + QLatin1Char('/') + QLatin1String(tool)).isExecutable()) {
      reason_ = QStringLiteral("no %1 in %2").arg(QLatin1String(tool), bin_);
      return false;
    }
  }
  if (::geteuid() == 0 && !QFileInfo(QStringLiteral("/usr/bin/setpriv")).isExecutable()) {
    reason_ = QStringLiteral("running as root, and no setpriv to run the server as an unprivileged user");
    return false;
  }
  dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kestrel-pg-XXXXXX"));
  if (!dir_->isValid() || !QDir(dir_->path()).mkpath(QStringLiteral("sock"))) {
    reason_ = QStringLiteral("cannot make a temporary folder for the server");
    return false;
  }
  // The server user must reach its folder through the temporary folder's parents.
  ::chmod(QFile::encodeName(dir_->path()).constData(), 0755);
  if (!chownTree(dir_->path())) {
    reason_ = QStringLiteral("cannot give %1 to the unprivileged user: %2").arg(dir_->path(), qt_error_string(errno));
    return false;
  }
  const QString data = dir_->path() + QStringLiteral("/data");
  if (!runTool(QStringLiteral("initdb"),
               {QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"),
                QLatin1String(kUser), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-locale"),
                QStringLiteral("--no-sync")},
               true, 120000))
    return false;
  port_ = freePort();
  if (port_ == 0) {
    reason_ = QStringLiteral("no free port on 127.0.0.1");
    return false;
  }
  QFile conf(data + QStringLiteral("/postgresql.conf"));
  if (!conf.open(QIODevice::Append | QIODevice::Text)) {
    reason_ = QStringLiteral("cannot write %1").arg(conf.fileName());
    return false;
  }
  // Test data: no durability, little memory.
  const QByteArray settings = QStringLiteral(
                                  "\nlisten_addresses = '127.0.0.1'\nport = %1\nunix_socket_directories = '%2'\n"
                                  "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
                                  "shared_buffers = 16MB\nmax_connections = 40\n")
                                  .arg(port_)
                                  .arg(socketFolder())
                                  .toUtf8();
  if (conf.write(settings) != settings.size() || !conf.flush()) {
    reason_ = QStringLiteral("cannot write %1").arg(conf.fileName());
    return false;
  }
  conf.close();
  prepared_ = true;
  return true;
}

bool PgServer::start() {
  if (running_) return true;
  if (!prepare()) return false;
  const QString data = dir_->path() + QStringLiteral("/data");
  if (!runTool(QStringLiteral("pg_ctl"),
               {QStringLiteral("-D"), data, QStringLiteral("-l"), dir_->path() + QStringLiteral("/server.log"),
                QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("30"), QStringLiteral("start")},
               true, 40000)) {
    QFile log(dir_->path() + QStringLiteral("/server.log"));
    if (log.open(QIODevice::ReadOnly))
      reason_ += QStringLiteral("\n") + QString::fromLocal8Bit(log.readAll().right(2000));
    return false;
  }
  running_ = true;
  reason_.clear();
  return true;
}

bool PgServer::stop() {
  if (!running_) return true;
  const bool ok = runTool(
      QStringLiteral("pg_ctl"),
      {QStringLiteral("-D"), dir_->path() + QStringLiteral("/data"), QStringLiteral("-m"), QStringLiteral("fast"),
       QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("30"), QStringLiteral("stop")},
      true, 40000);
  if (ok) running_ = false;
  return ok;
}

bool PgServer::createDatabase(const QString& name) {
  if (!running_ && !start()) return false;
  return runTool(QStringLiteral("createdb"),
                 {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port_),
                  QStringLiteral("-U"), QLatin1String(kUser), QStringLiteral("-w"), name},
                 false, 30000);
}

}  // namespace kestrel::test
