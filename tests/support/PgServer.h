#pragma once
// A real PostgreSQL server for tests: a fresh cluster in a temporary folder,
// run as an unprivileged user (the server refuses root), listening on
// 127.0.0.1 at a free port and on a Unix socket in the folder. It can stop
// and start again on the same data and port, and stops when destroyed.
// Where no server can be run here, start() says why: tests skip with it.

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace kestrel::test {

class PgServer {
 public:
  PgServer() = default;
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Makes the cluster on the first call, then starts the server and waits
  // until it takes connections. False with reason() when it cannot.
  bool start();
  // A fast shutdown; the data stays for the next start().
  bool stop();
  bool running() const { return running_; }
  const QString& reason() const { return reason_; }

  int port() const { return port_; }
  QString socketFolder() const;
  // A new, empty database; false with reason() when it could not be made.
  bool createDatabase(const QString& name);
  // postgresql://kestrel@127.0.0.1:<port>/<database>
  QString url(const QString& database) const;
  // The same database through the Unix socket: its folder as the host.
  QString socketUrl(const QString& database) const;

  // One server for a whole test program, started on first use: a suite's
  // tests share it and make a database each.
  static PgServer& shared();

 private:
  bool prepare();
  bool runTool(const QString& tool, const QStringList& args, bool asServerUser, int timeoutMs,
               QString* output = nullptr);

  std::unique_ptr<QTemporaryDir> dir_;
  QString bin_;
  bool prepared_ = false;
  bool running_ = false;
  int port_ = 0;
  QString reason_;
};

}  // namespace kestrel::test
