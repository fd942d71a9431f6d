#include "link/SerialLink.h"

#include "link/ComPorts.h"
#include "link/PortHolder.h"
#include "core/ModString.h"

#include <QFile>
#include <QFileInfo>
#include <utility>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

namespace kestrel {

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
    transientErrors_ = 0;
    stampArrival();
    if (threshold_ <= 0) return;
    // Waiting for a write to drain can deliver data; the event must not run
    // inside the handler that is writing, so it comes once the write is done.
    if (writing_) {
      arrivedWhileWriting_ = true;
      return;
    }
    receive();
  });
  connect(&port_, &QSerialPort::errorOccurred, this, &SerialLink::onError);
  linePoll_.setInterval(kLinePollMs);
  connect(&linePoll_, &QTimer::timeout, this, &SerialLink::pollLines);
}

QList<int> lineEvents(QSerialPort::PinoutSignals before, QSerialPort::PinoutSignals after) {
  static constexpr std::pair<QSerialPort::PinoutSignal, int> kLines[] = {
      {QSerialPort::ClearToSendSignal, 3},
      {QSerialPort::DataSetReadySignal, 4},
      {QSerialPort::DataCarrierDetectSignal, 5},
      {QSerialPort::RingIndicatorSignal, 6},
  };
  QList<int> events;
  for (const auto& [line, event] : kLines)
    if (before.testFlag(line) != after.testFlag(line)) events.append(event);
  return events;
}

void SerialLink::pollLines() {
  if (!port_.isOpen()) {
    linePoll_.stop();
    return;
  }
  const QSerialPort::PinoutSignals now = port_.pinoutSignals();
  if (port_.error() != QSerialPort::NoError) {
    port_.clearError();
    linePoll_.stop();
    return;
  }
  const QSerialPort::PinoutSignals before = std::exchange(lines_, now);
  for (const int event : lineEvents(before, now)) emit comm(event);
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
  transientErrors_ = 0;
  arrivals_.clear();
  stamped_ = 0;
  errorString_.clear();
  holder_.clear();
  port_.setPortName(device_);
  if (!port_.open(QIODevice::ReadWrite)) {
    // Another program holding the port shows up as a lock or permission
    // failure; a device this user may not open at all is not "in use".
    bool busy = port_.error() == QSerialPort::PermissionError;
#ifndef _WIN32
    if (busy && ::access(QFile::encodeName(device_).constData(), R_OK | W_OK) != 0) busy = false;
#endif
    if (!busy) return fail(OpenError::Other, port_.errorString());
    // Say who holds it, so the operator knows what to close.
    holder_ = portHolderText(findPortHolder(device_));
    return fail(OpenError::Busy, holder_.isEmpty()
                                     ? port_.errorString()
                                     : QStringLiteral("%1（使用中：%2）").arg(port_.errorString(), holder_));
  }
  const bool pty = isPseudoTerminal(device_);
  if (!port_.setBaudRate(line_.baud) || !port_.setStopBits(line_.stopBits) ||
      !port_.setFlowControl(QSerialPort::NoFlowControl))
    return fail(OpenError::Other, port_.errorString());
  // A pseudo-terminal keeps its eight data bits and no parity whatever it is
  // asked; a real port must take both.
  if (!port_.setDataBits(line_.dataBits) && !pty) return fail(OpenError::Other, port_.errorString());
  if (!port_.setParity(line_.parity) && !pty) return fail(OpenError::Other, port_.errorString());
  if (rts_ && !port_.setRequestToSend(true) && !pty) return fail(OpenError::Other, port_.errorString());
  port_.clearError();
  if (lineEvents_ && !pty) {
    lines_ = port_.pinoutSignals();
    if (port_.error() == QSerialPort::NoError)
      linePoll_.start();
    else
      port_.clearError();
  }
  return true;
}

void SerialLink::close() {
  linePoll_.stop();
  if (port_.isOpen()) port_.close();
  arrivals_.clear();
  stamped_ = 0;
}

void SerialLink::stampArrival() {
  const qint64 waiting = port_.bytesAvailable();
  if (waiting <= stamped_) return;
  // A flood nobody reads keeps a bounded list: the newest chunks merge.
  if (arrivals_.size() >= 64)
    arrivals_.back().bytes += waiting - stamped_;
  else
    arrivals_.push_back({waiting - stamped_, EventClock::now()});
  stamped_ = waiting;
}

void SerialLink::consumeArrivals(qint64 bytes) {
  lastReadArrival_ = arrivals_.empty() ? EventClock::now() : arrivals_.front().at;
  stamped_ = qMax<qint64>(0, stamped_ - bytes);
  while (bytes > 0 && !arrivals_.empty()) {
    Arrival& first = arrivals_.front();
    const qint64 taken = qMin(bytes, first.bytes);
    first.bytes -= taken;
    bytes -= taken;
    if (first.bytes == 0) arrivals_.pop_front();
  }
}

int SerialLink::InBufferCount() const { return port_.isOpen() ? int(port_.bytesAvailable()) : 0; }

QByteArray SerialLink::read() {
  if (!port_.isOpen()) return {};
  ++reads_;
  stampArrival();  // bytes Qt took in since its last announcement
  QByteArray data = inputLen_ == 0 ? port_.readAll() : port_.read(inputLen_);
  consumeArrivals(data.size());
  return data;
}

bool SerialLink::write(const QByteArray& bytes) {
  if (!port_.isOpen()) return false;
  writing_ = true;
  bool ok = port_.write(bytes) == bytes.size();
  // Out now, not when the event loop next runs: the pauses between the parts
  // of a frame are on the line only if each part has left before the pause.
  port_.flush();
  if (ok && port_.bytesToWrite() > 0) ok = port_.waitForBytesWritten(drainTimeoutMs(bytes.size()));
  writing_ = false;
  if (arrivedWhileWriting_) {
    arrivedWhileWriting_ = false;
    QMetaObject::invokeMethod(this, &SerialLink::receive, Qt::QueuedConnection);
  }
  return ok && port_.isOpen();  // a write error closes the port on the way
}

void SerialLink::receive() {
  const quint64 readsBefore = reads_;
  emit comm(kEventReceive);
  // Qt announces a chunk once. A handler that reads one character per event
  // leaves the rest of it waiting, so another event follows while any is
  // left, as long as the handler takes something each time.
  if (inputLen_ == 1 && !raisePending_ && reads_ != readsBefore && InBufferCount() > 0) {
    raisePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          raisePending_ = false;
          if (InBufferCount() > 0) receive();
        },
        Qt::QueuedConnection);
  }
}

int SerialLink::drainTimeoutMs(qsizetype bytes) const {
  // Ten bits a character at the line's speed, with room for a busy machine.
  return int(bytes * 10 * 1000 / qMax(line_.baud, 1)) + 500;
}

bool SerialLink::hungUp() const {
#ifndef _WIN32
  // A device that went away (an adapter unplugged, the far end of a
  // pseudo-terminal closed) is hung up; a read that merely found nothing is
  // not. The error's own text cannot tell: errno is stale by then.
  pollfd p{int(port_.handle()), POLLIN | POLLOUT, 0};
  return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
  return true;
#endif
}

void SerialLink::onError(QSerialPort::SerialPortError error) {
  // A vanished device shows up as failing reads (or writes) that repeat for
  // as long as the port stays open: close it rather than spin.
  const bool failed =
      error == QSerialPort::ResourceError || error == QSerialPort::ReadError || error == QSerialPort::WriteError;
  if (!failed || !port_.isOpen()) return;
  if (!hungUp() && ++transientErrors_ <= kMaxTransientErrors) {
    // Another reader (or the wait inside a write) took the bytes first. Qt
    // stops reading after such a failure; setting the buffer size starts it
    // again.
    port_.clearError();
    port_.setReadBufferSize(port_.readBufferSize());
    return;
  }
  const QString reason = port_.errorString();
  port_.close();
  emit lost(reason);
}

bool configurePort(SerialLink& link, const PortSettings& port) {
  if (!port.settings.isEmpty() && !link.setSettings(port.settings)) return false;
  if (port.receive == ReceiveProfile::Raw) {
    link.setInputMode(SerialLink::comInputModeBinary);
    link.setInputLen(0);
  } else {
    link.setInputLen(1);
    link.setRTSEnable(true);
  }
  link.setRThreshold(port.receive == ReceiveProfile::TextWithoutEvents ? 0 : 1);
  link.setLineEvents(port.lineEvents);
  return true;
}

}  // namespace kestrel
