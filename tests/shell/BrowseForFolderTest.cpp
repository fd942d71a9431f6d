#include "kit/BrowseForFolder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileDialog>
#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

TEST(BrowseForFolder, RootKindsMapToShellFolders) {
  for (int kind : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) EXPECT_EQ(shellFolderId(kind, QString()), kind);
  EXPECT_EQ(shellFolderId(12, QString()), 16);
  EXPECT_EQ(shellFolderId(13, QString()), 17);
  EXPECT_EQ(shellFolderId(14, QString()), 18);
  EXPECT_EQ(shellFolderId(15, QString()), 19);
  EXPECT_EQ(shellFolderId(16, QString()), 20);
  EXPECT_EQ(shellFolderId(17, QString()), 21);
  EXPECT_EQ(shellFolderId(1, QString()), 17);
  EXPECT_EQ(shellFolderId(18, QString()), 17);
  EXPECT_EQ(shellFolderId(19, QStringLiteral("/tmp")), 17);
  EXPECT_EQ(shellFolderId(18, QStringLiteral("/tmp")), 0);
  EXPECT_EQ(shellFolderPath(17), QDir::rootPath());
  for (int id : {0, 2, 3, 5, 10, 20, 21}) EXPECT_TRUE(QDir(shellFolderPath(id)).exists()) << id;
}

TEST(BrowseForFolder, CancelGivesEmptyText) {
  QString prompt;
  ModalDriver driver([&](QWidget* w) {
    prompt = w->windowTitle();
    static_cast<QDialog*>(w)->reject();
  });
  EXPECT_EQ(BrowseForFolder(nullptr, 13, QString()), QString());
  EXPECT_EQ(prompt, QStringLiteral("カードデータが存在するフォルダを選択してください。"));
}

TEST(BrowseForFolder, StartPathIsPreselectedForKind18) {
  QTemporaryDir dir;
  const QString start = dir.filePath(QStringLiteral("カード"));
  ASSERT_TRUE(QDir().mkpath(start));
  ModalDriver driver([](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
  EXPECT_EQ(BrowseForFolder(nullptr, 18, start), start);
}

TEST(BrowseForFolder, OtherKindsIgnoreTheStartPath) {
  QTemporaryDir dir;
  QString opened;
  ModalDriver driver([&](QWidget* w) {
    opened = static_cast<QFileDialog*>(w)->directory().absolutePath();
    static_cast<QDialog*>(w)->reject();
  });
  BrowseForFolder(nullptr, 13, dir.path());
  EXPECT_EQ(opened, QDir::rootPath());
}
