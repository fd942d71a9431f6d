#pragma once
// Replacing a file whole or not at all. The new content goes to a temporary
// file beside the old one, is written, flushed and synced to the disk, each
// step checked, and only then takes the old file's name. On any failure the
// old file keeps its bytes and the temporary file is removed.

#include <QByteArray>
#include <QString>
#include <functional>

class QIODevice;

namespace kestrel {

struct SaveResult {
  bool ok = false;
  QString error;  // why the save failed; empty when it did not
  explicit operator bool() const { return ok; }
};

// Puts the content to the device; false when it could not. A failed write
// it does not check is caught all the same.
using SaveWriter = std::function<bool(QIODevice&)>;

SaveResult saveAtomically(const QString& path, const SaveWriter& write);
SaveResult saveAtomically(const QString& path, const QByteArray& bytes);

}  // namespace kestrel
