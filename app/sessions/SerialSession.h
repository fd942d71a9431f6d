#pragma once
// What every serial window's protocol is: fed with the port's events and the
// operator's buttons, talking to the world only through the link, the log and
// the pause.

#include "core/SessionEvents.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace kestrel {

class LinkPort;
class Pause;

inline const QString kPortNotOpenLog = QStringLiteral("[エラー]：通信ポートが開いていません。");
inline const QString kWriteFailedLog = QStringLiteral("[エラー]：送信できませんでした。");

class SerialSession {
 public:
  static constexpr quint8 kStx = 0x02, kEtx = 0x03, kEnq = 0x05, kAck = 0x06, kCr = 0x0D, kDle = 0x10, kNak = 0x15;
  static constexpr int kReadWaitMs = 20;

  SerialSession(LinkPort& link, SessionEvents& log, Pause& pause) : link_(link), log_(log), pause_(pause) {}
  virtual ~SerialSession() = default;
  SerialSession(const SerialSession&) = delete;
  SerialSession& operator=(const SerialSession&) = delete;

  virtual void InitForm() = 0;
  // The communication event of the port.
  virtual void OnComm(int event) = 0;
  // The window is closing while its port is still open.
  virtual void Unload() = 0;
  // The port went away under the window or the run: its line, and the run
  // is over.
  void PortLost(const QString& reason);

 protected:
  // Writes, then logs the line (if any) once the bytes are out. A write that
  // fails is logged as such instead, and false comes back.
  bool send(const QByteArray& bytes, const QString& logLine = {});
  // send() for a frame written at once: its event once it is out.
  bool sendFrame(const QByteArray& bytes, const QString& logLine = {});
  // The received-byte lines: "[受信]：ACK(06h)", "[受信]：NAK(15h)" or
  // "[受信]：(" + hex + "h)", with the answer (a NAK refuses).
  void logReceived(quint8 byte);

  // The events, where the lines are written.
  void runStarted(const QList<qint64>& channels);
  void frameSent(const QByteArray& bytes, const QList<qint64>& channels = {});
  void answered(AnswerKind kind, const QByteArray& bytes);
  void refused(const QString& line) { log_.refusal({line}); }
  void progressed(int sent, int total) { log_.progress({sent, total}); }
  // Once a run: what follows until the next start is no run's.
  void finished(RunOutcome outcome, const QString& detail = {});
  // Text profile: the receive event's one character, or nothing when another
  // event has taken it already.
  std::optional<quint8> readOne();
  // Raw profile: nothing when nothing is waiting; else, after the wait that
  // lets the rest of a reply arrive, everything buffered.
  QByteArray readBlock(int waitMs);
  // The bytes about to be read are here now: the wait before reading them is
  // the window's, so an answer's time is taken from here, not from the read.
  void arrivedNow() { arrived_ = EventClock::now(); }

  LinkPort& link_;
  SessionEvents& log_;
  Pause& pause_;

 private:
  std::optional<EventClock::time_point> lastWrite_;
  std::optional<EventClock::time_point> arrived_;
  bool running_ = false;
};

}  // namespace kestrel
