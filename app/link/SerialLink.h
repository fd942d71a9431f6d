#pragma once
// The serial control every serial window owns, over QSerialPort.

#include "core/LinkPort.h"
#include "core/PortSettings.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QList>
#include <QString>
#include <QTimer>
#include <deque>
#include <optional>

namespace kestrel {

// "9600,N,8,1": baud, parity (N or E), data bits, stop bits.
struct LineSettings {
  qint32 baud = 9600;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  QSerialPort::DataBits dataBits = QSerialPort::Data8;
  QSerialPort::StopBits stopBits = QSerialPort::OneStop;

  static std::optional<LineSettings> parse(const QString& text);
};

// The communication events a change of the modem lines raises: CTS 3, DSR 4,
// CD 5, ring 6.
QList<int> lineEvents(QSerialPort::PinoutSignals before, QSerialPort::PinoutSignals after);

class SerialLink : public QObject, public LinkPort {
  Q_OBJECT
 public:
  static constexpr int kLinePollMs = 50;
  enum InputMode { comInputModeText = 0, comInputModeBinary = 1 };
  enum class OpenError { None, Busy, Other };

  explicit SerialLink(QObject* parent = nullptr);

  void setCommPort(int portNumber);
  int commPort() const { return portNumber_; }
  // A device by path, for callers that name the port rather than its number.
  void setDevice(const QString& device) { device_ = device; }
  QString device() const { return device_; }
  // False for a malformed text, which is a set-up error.
  bool setSettings(const QString& text);
  QString settings() const { return settingsText_; }
  void setInputMode(int mode) { inputMode_ = mode; }
  int inputMode() const { return inputMode_; }
  void setInputLen(int length) { inputLen_ = length; }
  void setRThreshold(int threshold) { threshold_ = threshold; }
  void setRTSEnable(bool on);
  // Watches the modem lines while open and raises their events; a device
  // that cannot report its lines (a pseudo-terminal) raises none.
  void setLineEvents(bool on) { lineEvents_ = on; }

  // Opens with the settings given. Data bits, parity and RTS, which
  // pseudo-terminals do not carry, are best effort there and required on a
  // real port.
  bool open();
  OpenError openError() const { return openError_; }
  QString errorString() const { return errorString_; }
  // Who holds the port when the open found it busy ("PID 1234（name）, lock
  // file"); "" when not busy or when nobody could be named.
  QString holder() const { return holder_; }
  void close();

  bool isOpen() const override { return port_.isOpen(); }
  int InBufferCount() const override;
  QByteArray read() override;
  EventClock::time_point lastReadArrival() const override { return lastReadArrival_; }
  bool write(const QByteArray& bytes) override;

 signals:
  // The communication event; kEventReceive when data has arrived.
  void comm(int event);
  // The device went away while open (a USB adapter unplugged, the far end of
  // a pseudo-terminal closed); the port is closed.
  void lost(const QString& reason);

 private:
  void receive();
  void pollLines();
  bool fail(OpenError error, const QString& text);
  int drainTimeoutMs(qsizetype bytes) const;
  void onError(QSerialPort::SerialPortError error);
  bool hungUp() const;

  QSerialPort port_;
  int portNumber_ = 1;
  QString device_;
  QString settingsText_;
  LineSettings line_;
  int inputMode_ = comInputModeText;
  int inputLen_ = 0;
  int threshold_ = 0;
  bool rts_ = false;
  bool writing_ = false;
  bool arrivedWhileWriting_ = false;
  bool raisePending_ = false;
  quint64 reads_ = 0;
  // When each chunk of the input not yet read arrived, oldest first.
  struct Arrival {
    qint64 bytes;
    EventClock::time_point at;
  };
  std::deque<Arrival> arrivals_;
  qint64 stamped_ = 0;  // bytes the chunks account for
  EventClock::time_point lastReadArrival_{};
  void stampArrival();
  void consumeArrivals(qint64 bytes);
  bool lineEvents_ = false;
  // Failed reads on a port that is still there, since bytes last came; a
  // device that keeps failing without hanging up is lost all the same.
  static constexpr int kMaxTransientErrors = 64;
  int transientErrors_ = 0;
  QTimer linePoll_;
  QSerialPort::PinoutSignals lines_;
  OpenError openError_ = OpenError::None;
  QString errorString_;
  QString holder_;
};

bool isPseudoTerminal(const QString& device);

// The settings, the receive profile and the line events onto a link that
// is still closed; false, with the rest left as it was, when the settings
// do not parse.
bool configurePort(SerialLink& link, const PortSettings& port);

}  // namespace kestrel
