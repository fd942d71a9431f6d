#pragma once
// "data.dat" of the frame editor: one frame per line, the event number and
// the unit number as integers separated by a comma, or the event alone.

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace kestrel {

struct DataFrame {
  qint64 event = 0;
  std::optional<qint64> unit;
};

struct DataFileContents {
  QList<DataFrame> frames;  // at most `maxFrames`, in file order
  QList<int> refused;       // numbers (from 1) of the lines that did not read
};

// Blank lines are skipped; a line that is not such a frame, or one beyond
// `maxFrames`, is refused and named, and the rest still read.
DataFileContents parseDataFile(const QByteArray& bytes, int maxFrames);

}  // namespace kestrel
