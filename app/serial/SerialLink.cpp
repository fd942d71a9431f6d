#include "SerialLink.h"

#include "shell/ComPorts.h"
#include "shell/ModString.h"

#include <QFileInfo>

namespace kestrel {

bool LinkPort::writeText(const QString& text) { return write(toCp932(text)); }

std::optional<LineSettings> LineSettings::parse(const QString& text) {
  const QStringList parts = text.split(u',');
  if (parts.size() != 4) return std::nullopt;
  LineSettings s;
  bool ok = false;
  s.baud = parts[0].trimmed().toInt(&ok);
  if (!ok || s.baud <= 0) return std::nullopt;

  const QString parity = parts[1].trimmed().toUpper();
  if (parity == u"N") {
    s.parity = QSerialPort::NoParity;
  } else if (parity == u"E") {
    s.parity = QSerialPort::EvenParity;
  } else {
    return std::nullopt;
  }

  const int data = parts[2].trimmed().toInt(&ok);
  if (!ok || data < 5 || data > 8) return std::nullopt;
  s.dataBits = QSerialPort::DataBits(data);

  const QString stop = parts[3].trimmed();
  if (stop == u"1") {
    s.stopBits = QSerialPort::OneStop;
  } else if (stop == u"2") {
    s.stopBits = QSerialPort::TwoStop;
  } else {
    return std::nullopt;
  }
  return s;
}

bool isPseudoTerminal(const QString& device) {
  return QFileInfo(device).canonicalFilePath().startsWith(QStringLiteral("/dev/pts/"));
}

SerialLink::SerialLink(QObject* parent)
    : QObject(parent), device_(comPortDevice(1)), settingsText_(QStringLiteral("9600,N,8,1")) {
  connect(&port_, &QSerialPort::readyRead, this, [this] {
    if (threshold_ > 0) emit comm(kEventReceive);
  });
  connect(&port_, &QSerialPort::errorOccurred, this, &SerialLink::onError);
}

void SerialLink::setCommPort(int portNumber) {
  portNumber_ = portNumber;
  device_ = comPortDevice(portNumber);
}

bool SerialLink::setSettings(const QString& text) {
  const std::optional<LineSettings> parsed = LineSettings::parse(text);
  if (!parsed) return false;
  settingsText_ = text;
  line_ = *parsed;
  return true;
}

void SerialLink::setRTSEnable(bool on) {
  rts_ = on;
  if (port_.isOpen()) port_.setRequestToSend(on);
}

bool SerialLink::fail(OpenError error, const QString& text) {
  openError_ = error;
  errorString_ = text;
  if (port_.isOpen()) port_.close();
  return false;
}

bool SerialLink::open() {
  openError_ = OpenError::None;
  errorString_.clear();
  port_.setPortName(device_);
  if (!port_.open(QIODevice::ReadWrite)) {
    // Another program holding the port shows up as a lock or permission failure.
    return fail(port_.error() == QSerialPort::PermissionError ? OpenError::Busy : OpenError::Other,
                port_.errorString());
  }
  const bool pty = isPseudoTerminal(device_);
  if (!port_.setBaudRate(line_.baud) || !port_.setDataBits(line_.dataBits) || !port_.setStopBits(line_.stopBits) ||
      !port_.setFlowControl(QSerialPort::NoFlowControl))
    return fail(OpenError::Other, port_.errorString());
  if (!port_.setParity(line_.parity) && !pty) return fail(OpenError::Other, port_.errorString());
  if (rts_ && !port_.setRequestToSend(true) && !pty) return fail(OpenError::Other, port_.errorString());
  port_.clearError();
  return true;
}

void SerialLink::close() {
  if (port_.isOpen()) port_.close();
}

int SerialLink::InBufferCount() const { return port_.isOpen() ? int(port_.bytesAvailable()) : 0; }

QByteArray SerialLink::read() {
  if (!port_.isOpen()) return {};
  return inputLen_ == 0 ? port_.readAll() : port_.read(inputLen_);
}

bool SerialLink::write(const QByteArray& bytes) {
  if (!port_.isOpen()) return false;
  if (port_.write(bytes) != bytes.size()) return false;
  port_.flush();  // out now, not when the event loop next runs
  return true;
}

void SerialLink::onError(QSerialPort::SerialPortError error) {
  // A vanished device shows up as failing reads (or writes) that repeat for
  // as long as the port stays open: close it rather than spin.
  const bool gone =
      error == QSerialPort::ResourceError || error == QSerialPort::ReadError || error == QSerialPort::WriteError;
  if (!gone || !port_.isOpen()) return;
  const QString reason = port_.errorString();
  port_.close();
  emit lost(reason);
}

}  // namespace kestrel
