#pragma once
// Start-up: single instance, splash, first-start marker, then the menu.

#include "menu/BenchState.h"

#include <QLockFile>
#include <QString>
#include <memory>

class QTranslator;

namespace kestrel {

class FrmMenu;
class FrmSplash;
class Pause;

struct StartupOptions {
  QString lockFile;          // held while this instance runs
  QString executableFolder;  // source of the bench's AppFolder
  Pause* pause;              // the splash wait
};

class ModSubMain {
 public:
  enum class Outcome { Running, AlreadyRunning, Ended };

  explicit ModSubMain(StartupOptions options);
  ~ModSubMain();

  // Runs the start-up steps; Running leaves the menu on screen.
  Outcome run();
  FrmMenu* menu() const { return menu_.get(); }
  bool firstStart() const { return firstStart_; }
  BenchState& bench() { return bench_; }

  static constexpr int kSplashMs = 3000;

 private:
  void unloadSplash();

  StartupOptions options_;
  BenchState bench_;
  QLockFile lock_;
  std::unique_ptr<FrmSplash> splash_;
  std::unique_ptr<FrmMenu> menu_;
  bool firstStart_ = false;
};

// The executable's folder without a trailing separator ("C:\\" -> "C:").
QString appFolderFrom(const QString& executableFolder);
// Where the running instance keeps its lock.
QString defaultLockFile();
// Qt's own dialogs and buttons in Japanese: Qt's translation from `folder`
// (Qt's translations folder by default), installed and owned by the
// application. nullptr, with Qt's English left in place, when it could not be
// loaded.
QTranslator* installQtTranslations(const QString& folder = {});

}  // namespace kestrel
