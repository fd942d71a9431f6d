#include "kit/BrowseForFolder.h"

#include "core/ModString.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace kestrel {

int shellFolderId(int rootKind, const QString& startPath) {
  if (rootKind == 0 || (rootKind >= 2 && rootKind <= 11)) return rootKind;
  if (rootKind >= 12 && rootKind <= 17) return rootKind + 4;
  if (rootKind == 18 && !startPath.isEmpty()) return 0;
  return 17;
}

QString shellFolderPath(int id) {
  using SP = QStandardPaths;
  const QString home = QDir::homePath();
  QString path;
  switch (id) {
    case 0:   // desktop
    case 16:  // desktop directory
      path = SP::writableLocation(SP::DesktopLocation);
      break;
    case 2:   // programs
    case 11:  // start menu
      path = SP::writableLocation(SP::ApplicationsLocation);
      break;
    case 5: path = SP::writableLocation(SP::DocumentsLocation); break;
    case 7: path = SP::writableLocation(SP::GenericConfigLocation) + QStringLiteral("/autostart"); break;
    case 10: path = SP::writableLocation(SP::GenericDataLocation) + QStringLiteral("/Trash"); break;
    case 17:  // drives: the whole file system
    case 18:  // network
    case 19:  // network neighbourhood
      path = QDir::rootPath();
      break;
    case 20: path = SP::writableLocation(SP::FontsLocation); break;
    case 21: path = home + QStringLiteral("/Templates"); break;
    default: path = home; break;  // control panel, printers, favourites, recent, send-to
  }
  return QDir(path).exists() ? path : home;
}

QString BrowseForFolder(QWidget* owner, int rootKind, const QString& startPath) {
  const int id = shellFolderId(rootKind, startPath);
  QFileDialog dialog(owner, kBrowsePrompt);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setDirectory(id == 0 && rootKind == 18 ? startPath : shellFolderPath(id));
  if (dialog.exec() != QDialog::Accepted) return {};
  return TrimAtNul(QDir::toNativeSeparators(dialog.selectedFiles().value(0)));
}

}  // namespace kestrel
