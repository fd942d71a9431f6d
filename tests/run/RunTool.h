#pragma once
// kestrel-run as a child process, for the tests that drive it.

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <gtest/gtest.h>

namespace kestrel::test {

struct RunResult {
  int code = -1;
  QStringList out;  // stdout lines
  QString text;     // stdout as it came
  QString err;
  qint64 ms = 0;
};

// Runs `program` (after `prefix`, a command that runs it) with `args` and
// waits up to a minute for it to end.
inline RunResult runTool(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                         QStringList prefix = {}) {
  QProcess p;
  p.setProcessEnvironment(env);
  QElapsedTimer clock;
  clock.start();
  if (prefix.isEmpty()) {
    p.start(program, args);
  } else {
    const QString first = prefix.takeFirst();
    p.start(first, prefix + QStringList{program} + args);
  }
  RunResult r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    ADD_FAILURE() << "kestrel-run did not end";
    return r;
  }
  r.ms = clock.elapsed();
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.text = QString::fromUtf8(p.readAllStandardOutput());
  r.out = r.text.split(u'\n', Qt::SkipEmptyParts);
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

}  // namespace kestrel::test
