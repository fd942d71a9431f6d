#pragma once
// The channel list of a list-driven window and where its run stands: the
// fields the windows have always shown, and the one way they move.

#include <QList>
#include <QtGlobal>
#include <vector>

namespace kestrel {

template <typename Entry>
class ChannelCursor {
 public:
  // A run from the start of `entries`, `unit` entries a frame.
  void load(const QList<Entry>& entries, int unit) {
    ChannelUnit = qint16(unit);
    ChannelList.assign(1, Entry{});
    ChannelList.insert(ChannelList.end(), entries.begin(), entries.end());
    ListPos = 0;
    ListRemain = ListTotal = qint16(entries.size());
  }

  // The next entries, up to ChannelUnit of them; FrameCount says how many.
  QList<Entry> take() {
    QList<Entry> taken;
    FrameCount = 0;
    while (FrameCount < ChannelUnit && ListRemain > 0) {
      ++FrameCount;
      ++ListPos;
      --ListRemain;
      taken.append(ChannelList[std::size_t(ListPos)]);
    }
    return taken;
  }

  // The last take goes back to be sent again.
  void rewind() {
    ListPos = qint16(ListPos - FrameCount);
    ListRemain = qint16(ListRemain + FrameCount);
  }

  // The whole list again, from its first entry.
  void restart() {
    ListPos = 0;
    ListRemain = ListTotal;
  }

  std::vector<Entry> ChannelList;  // from index 1
  qint16 ListPos = 0;              // the last entry taken; 0 = none
  qint16 ListRemain = 0;           // entries not yet taken
  qint16 ListTotal = 0;            // entries at the start of the run
  qint16 ChannelUnit = 1;          // entries a frame
  qint16 FrameCount = 0;           // entries in the last take
};

}  // namespace kestrel
