#pragma once
// kestrel-run as a child process, for the tests that drive it.

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <gtest/gtest.h>
#include <optional>

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

// What xmllint finds wrong with a JUnit report against `xsd`: empty when
// it passed, nothing when xmllint could not be started.
inline std::optional<QString> junitSchemaProblems(const QString& file, const QString& xsd) {
  QProcess xmllint;
  xmllint.start(QStringLiteral("xmllint"), {"--noout", "--schema", xsd, file});
  if (!xmllint.waitForStarted(5000)) return std::nullopt;
  if (!xmllint.waitForFinished(20000)) {
    xmllint.kill();
    xmllint.waitForFinished();
    return QStringLiteral("xmllint did not end");
  }
  if (xmllint.exitStatus() == QProcess::NormalExit && xmllint.exitCode() == 0) return QString();
  return QString::fromUtf8(xmllint.readAllStandardError());
}

}  // namespace kestrel::test
