// kestrel-run: a test of a voice unit without the windows.
#include "Runner.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // Names the user's data folder, where the results store is by default.
  QCoreApplication::setApplicationName(QStringLiteral("KestrelTester"));
  return kestrel::run::runMain(QCoreApplication::arguments().mid(1));
}
