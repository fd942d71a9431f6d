#pragma once
// Folder choice for the schedule windows.

#include <QString>

class QWidget;

namespace kestrel {

inline const QString kBrowsePrompt = QStringLiteral("カードデータが存在するフォルダを選択してください。");

// The standard shell folder a root kind stands for (desktop 0, drives 17...).
int shellFolderId(int rootKind, const QString& startPath);
// The nearest folder of this platform to a standard shell folder.
QString shellFolderPath(int shellFolderId);

// The chosen folder's full path, or "" when the operator cancels. Root kind
// 18 with a start path opens at the desktop with the start path selected.
QString BrowseForFolder(QWidget* owner, int rootKind, const QString& startPath);

}  // namespace kestrel
