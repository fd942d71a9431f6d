#pragma once
// Where a port number goes on this machine: KESTREL_COM<n> if set, else the
// device chosen for it on the settings screen, otherwise the n-th built-in
// serial port.

#include <QList>
#include <QString>
#include <functional>

namespace kestrel {

constexpr int kComPortCount = 8;

QString comPortDevice(int portNumber);

// A serial port this machine has.
struct SerialPortEntry {
  QString device;       // "/dev/ttyUSB0"
  QString byIdName;     // "/dev/serial/by-id/usb-…", "" where there is none
  QString description;  // what the driver calls it, may be ""
};

// The machine's serial ports (/dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS* that
// exist), sorted by device; through the installed enumeration if any.
QList<SerialPortEntry> serialPorts();
using PortEnumeration = std::function<QList<SerialPortEntry>()>;
// Replaces the enumeration (tests); an empty function restores the real one.
void installPortEnumeration(PortEnumeration enumeration);
// The real enumeration, from QSerialPortInfo and /dev/serial/by-id.
QList<SerialPortEntry> systemSerialPorts();

enum class ComPortSource { Environment, Stored, Default };
ComPortSource comPortSource(int portNumber);
// "KESTREL_COM3"
QString comPortVariable(int portNumber);
// The built-in port a number means when nothing else is set.
QString defaultComPortDevice(int portNumber);
// The device kept in the settings store for a number; "" when none.
QString storedComPortDevice(int portNumber);
// Keeps (or with "" forgets) the device for a number; false when the store
// could not be written.
bool storeComPortDevice(int portNumber, const QString& device);

}  // namespace kestrel
