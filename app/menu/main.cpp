#include "menu/DemoRun.h"
#include "kit/Look.h"
#include "menu/TestWindowList.h"
#include "menu/FrmMenu.h"
#include "menu/ModSubMain.h"
#include "core/Pause.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTimer>
#include <cstdio>
#include <cstring>

using namespace kestrel;

int main(int argc, char* argv[]) {
  // Answered before Qt starts, so it needs no display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("KestrelTester %s\n", KESTREL_VERSION);
    return 0;
  }
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("KestrelTester"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KESTREL_VERSION));
  QApplication::setFont(japaneseFont(kGothic));
  if (installQtTranslations() == nullptr)
    std::fprintf(stderr, "Qt's Japanese translations were not found in %s; its dialogs stay in English\n",
                 qPrintable(QLibraryInfo::path(QLibraryInfo::TranslationsPath)));

  registerTestWindows();
  ModSubMain startup({defaultLockFile(), QCoreApplication::applicationDirPath(), &realPause()});
  if (startup.run() != ModSubMain::Outcome::Running) return 0;

  // The headless demo asks for pictures instead of a session:
  // KESTREL_SCREENSHOT=<png> saves the menu; KESTREL_DEMO_RUN=<png> then
  // plays a whole run in the window of KESTREL_DEMO_PROTOCOL's unit (the
  // standard buffered one by default; KESTREL_DEMO_SCHEDULE names the file
  // the schedule window reads back) and saves the window with its log.
  // Either ends the program once its picture is saved; the exit status is 1
  // if the run failed.
  const QString screenshot = qEnvironmentVariable("KESTREL_SCREENSHOT");
  const QString demoRun = qEnvironmentVariable("KESTREL_DEMO_RUN");
  const QString demoProtocol = qEnvironmentVariable("KESTREL_DEMO_PROTOCOL", QStringLiteral("buffered"));
  const DemoPlan* plan = demoPlan(demoProtocol);
  if (!demoRun.isEmpty() && plan == nullptr) {
    std::fprintf(stderr, "demo run failed: no demo for the protocol '%s'\n", qPrintable(demoProtocol));
    return 1;
  }
  if (!screenshot.isEmpty() || !demoRun.isEmpty()) {
    QTimer::singleShot(500, &app, [&] {
      if (!screenshot.isEmpty()) {
        const bool saved = startup.menu()->grab().save(screenshot);
        std::printf("%s %s\n", saved ? "menu screenshot:" : "could not save", qPrintable(screenshot));
        std::fflush(stdout);
      }
      if (demoRun.isEmpty()) {
        QApplication::quit();
        return;
      }
      auto* run = new DemoRun(*startup.menu(), *plan, demoRun, DemoRun::kDefaultLimitMs, &app);
      run->setScheduleFile(qEnvironmentVariable("KESTREL_DEMO_SCHEDULE"));
      QObject::connect(run, &DemoRun::finished, &app, [&demoRun](bool ok, const QString& message) {
        if (ok)
          std::printf("demo run: %s; picture: %s\n", qPrintable(message), qPrintable(demoRun));
        else
          std::fprintf(stderr, "demo run failed: %s\n", qPrintable(message));
        std::fflush(stdout);
        // Ends the window's event loop as well as the menu's.
        QCoreApplication::exit(ok ? 0 : 1);
      });
      run->start();
    });
  }
  return app.exec();
}
