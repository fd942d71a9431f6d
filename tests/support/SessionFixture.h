#pragma once
// A protocol session among the fakes, fed with received bytes.

#include "support/SerialFakes.h"
#include "support/TestSupport.h"

#include <QList>
#include <gtest/gtest.h>

namespace kestrel::test {

// 1, 2, ... last.
inline QList<qint64> channelsUpTo(int last) {
  QList<qint64> list;
  for (int i = 1; i <= last; ++i) list.append(i);
  return list;
}

template <class Session, bool RawProfile = true>
class SessionFixture : public ::testing::Test {
 protected:
  SessionFixture() { link.rawProfile = RawProfile; }
  // The bytes arrive and raise a receive event; what went out in answer.
  QByteArray receive(const QByteArray& bytes) {
    link.incoming += bytes;
    session.OnComm(LinkPort::kEventReceive);
    return link.take();
  }
  QByteArray receive(char byte) { return receive(QByteArray(1, byte)); }

  FakeLink link;
  FakeLog log;
  VirtualPause pause;
  Session session{link, log, pause};
};

}  // namespace kestrel::test
