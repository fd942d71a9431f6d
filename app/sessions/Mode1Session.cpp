#include "sessions/Mode1Session.h"

#include "core/ChannelEntry.h"
#include "core/SessionEvents.h"
#include "core/LinkPort.h"
#include "core/Pause.h"

namespace kestrel {

namespace {
const QByteArray kCrByte(1, char(SerialSession::kCr));
}

Mode1Session::Mode1Session(LinkPort& link, SessionEvents& log, Pause& pause) : SerialSession(link, log, pause) { InitForm(); }

void Mode1Session::InitForm() {
  QList<qint64> all;
  for (int i = 1; i <= kChannels; ++i) all.append(i);
  load(all, 1);
  FirstAck = SecondAck = ThirdAck = StopRequest = 0;
  Stopped = false;
}

void Mode1Session::Play(const QList<qint64>& channels, int channelUnit) {
  load(channels, channelUnit);
  // A run starts here: a stop the unit never answered is over. The ACK
  // flags are left as they are.
  StopRequest = 0;
  Stopped = false;
  runStarted(channels);
  if (send("sts") && send(kCrByte, QStringLiteral("[送信]：STS(53h54h53h) + CR(0Dh)"))) frameSent("sts\r");
}

bool Mode1Session::sendStop(const QString& logLine) {
  if (!send("000") || !send(kCrByte, logLine)) return false;
  frameSent("000\r");
  return true;
}

void Mode1Session::Stop() {
  // A stop that did not go out is not waited for.
  if (sendStop(QStringLiteral("[送信]：STOP(00h00h00h)"))) {
    StopRequest = 1;
    finished(RunOutcome::Stopped);
  }
  Stopped = true;
}

void Mode1Session::OnComm(int event) {
  if (event != LinkPort::kEventReceive) return;
  pause_.doEvents();
  const std::optional<quint8> b = readOne();
  if (!b) return;
  if (*b == kAck) {
    onAck();
  } else {
    logReceived(*b);
  }
}

void Mode1Session::onAck() {
  if (FirstAck == 0) {
    FirstAck = 1;
  } else if (SecondAck == 0) {
    SecondAck = 1;
  } else if (ThirdAck == 0 && StopRequest != 1) {
    ThirdAck = 1;
  }
  logReceived(kAck);
  // The last line taken and played: the list is done.
  if (ListRemain == 0 && SecondAck == 1 && ThirdAck == 1) finished(RunOutcome::Complete);
  if (StopRequest == 1) {
    StopRequest = 0;
    return;
  }
  const bool released = (SecondAck == 0 && ThirdAck == 0) || (SecondAck == 1 && ThirdAck == 1);
  if (Stopped || FirstAck != 1 || ListRemain < 1 || !released) return;

  // Commas go between the channels only: none after the last of a line.
  QStringList digits;
  const QList<qint64> taken = take();
  for (const qint64 channel : taken) digits.append(zeroPadded(channel, 3));
  const QString text = digits.join(u',');
  if (!send(text.toLatin1()) || !send(kCrByte, QStringLiteral("[送信]：") + text + QStringLiteral(" + CR(0Dh)"))) {
    // Channels that did not reach the unit are still to be sent.
    rewind();
    return;
  }
  frameSent(text.toLatin1() + kCrByte, taken);
  progressed(ListTotal - ListRemain, ListTotal);
  if (SecondAck == 1 && ThirdAck == 1) SecondAck = ThirdAck = 0;
}

void Mode1Session::Unload() {
  pause_.doEvents();
  sendStop({});
  StopRequest = 1;
  pause_.doEvents();
}

}  // namespace kestrel
