// kestrel-results: the runs a results store holds, for operators and the line.
#include "ResultsTool.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // The same name as the tester's, so the default store is the same file.
  QCoreApplication::setApplicationName(QStringLiteral("KestrelTester"));
  return kestrel::results::tool::resultsMain(QCoreApplication::arguments().mid(1));
}
