#pragma once
// The port as a protocol session sees it.

#include "core/EventClock.h"

#include <QByteArray>
#include <QString>

namespace kestrel {

// What a protocol session needs of its port.
class LinkPort {
 public:
  // The communication event of arriving data.
  static constexpr int kEventReceive = 2;

  virtual ~LinkPort() = default;
  virtual bool isOpen() const = 0;
  // Received bytes waiting to be read.
  virtual int InBufferCount() const = 0;
  // One byte, or everything waiting, as the read length says.
  virtual QByteArray read() = 0;
  // The bytes go out unchanged; false when they could not be handed over.
  virtual bool write(const QByteArray& bytes) = 0;
  // When the first byte the last read() returned arrived: the unit's answer
  // is timed from its arrival, not from when a session got to it. A port that
  // cannot tell says now.
  virtual EventClock::time_point lastReadArrival() const { return EventClock::now(); }

  bool writeByte(quint8 byte) { return write(QByteArray(1, char(byte))); }
  // Each character goes out as its single-byte code, nothing appended.
  bool writeText(const QString& text);
};

}  // namespace kestrel
