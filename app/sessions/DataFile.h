#pragma once
// "data.dat" of the frame editor: one frame per line, the event number and
// the unit number as integers separated by a comma, or the event alone.

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

class QIODevice;

namespace kestrel {

struct DataFrame {
  qint64 event = 0;
  std::optional<qint64> unit;
};

struct DataFileContents {
  // Lines that did not read are named up to this many, and counted all.
  static constexpr int kNamedRefused = 10;

  QList<DataFrame> frames;  // at most `maxFrames`, in file order
  QList<qint64> refused;    // numbers (from 1) of the first lines that did not read
  qint64 refusedCount = 0;  // how many lines did not read
  bool readFailed = false;  // the device took an error before its end
};

// Blank lines are skipped; a line that is not such a frame, or one beyond
// `maxFrames`, is refused and counted, and the rest still read. The device
// is read once, a piece at a time: what is kept is bounded whatever it
// holds, so a line longer than any frame's is refused unread (unless blank).
DataFileContents parseDataFile(QIODevice& in, int maxFrames);
DataFileContents parseDataFile(const QByteArray& bytes, int maxFrames);

}  // namespace kestrel
