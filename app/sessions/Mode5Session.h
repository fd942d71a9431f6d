#pragma once
// The customer's DLE unit: a whole play list in one message; the unit answers
// DLE ACK or DLE NAK and reports the end of a playback, which the tester may
// acknowledge by itself.

#include "sessions/SerialSession.h"

#include <QByteArray>
#include <QList>
#include <vector>

namespace kestrel {

class Mode5Session : public SerialSession {
 public:
  static constexpr int kAutoChannels = 30;
  enum EndReply : qint16 { EndAck = 0, EndNak = 1, EndSilent = 2 };  // Option1(0..2)

  Mode5Session(LinkPort& link, SessionEvents& log, Pause& pause);

  // The play list's message: DLE STX "C", the count character, two
  // characters per channel, DLE ETX and the check byte.
  static QByteArray playList(const QList<qint64>& channels);
  static char countCharacter(qsizetype channels);

  void InitForm() override;
  // 送信, once the entries have passed their check.
  void Send(const QList<qint64>& channels);
  void SendStop();
  void SendAck();
  void SendNak();
  void OnComm(int event) override;
  void Unload() override;

  // The window's fields.
  std::vector<qint64> ChannelList;  // from index 0
  qint16 EndAnswer = EndAck;        // which Option1 is selected

 private:
  void sendFixed(const QByteArray& bytes);
  void logReceived(const QByteArray& message);

  // The start of a message cut before its third byte, kept for the next
  // arrival: the three bytes that tell a message apart may come apart.
  QByteArray partial_;
};

}  // namespace kestrel
