#include "Look.h"
#include "TestWindowList.h"
#include "FrmMenu.h"
#include "ModSubMain.h"
#include "Pause.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

using namespace kestrel;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("KestrelTester"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KESTREL_VERSION));
  QApplication::setFont(japaneseFont(kGothic));

  registerTestWindows();
  ModSubMain startup({defaultLockFile(), QCoreApplication::applicationDirPath(), &realPause()});
  if (startup.run() != ModSubMain::Outcome::Running) return 0;

  // The headless demo asks for a picture of the menu instead of a session.
  const QString screenshot = qEnvironmentVariable("KESTREL_SCREENSHOT");
  if (!screenshot.isEmpty()) {
    QTimer::singleShot(500, &app, [&] {
      const bool saved = startup.menu()->grab().save(screenshot);
      std::printf("%s %s\n", saved ? "menu screenshot:" : "could not save", qPrintable(screenshot));
      QApplication::quit();
    });
  }
  return app.exec();
}
