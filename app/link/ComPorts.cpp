#include "link/ComPorts.h"

#include "core/StoredSetting.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

namespace kestrel {
namespace {

const QString kPortsSection = QStringLiteral("Ports");

PortEnumeration& installedEnumeration() {
  static PortEnumeration enumeration;
  return enumeration;
}

QString valueName(int portNumber) { return QStringLiteral("COM%1").arg(portNumber); }

#ifndef _WIN32
bool isListedDevice(const QString& name) {
  return name.startsWith(QStringLiteral("ttyUSB")) || name.startsWith(QStringLiteral("ttyACM")) ||
         name.startsWith(QStringLiteral("ttyS"));
}
#endif

}  // namespace

QString comPortVariable(int portNumber) { return QStringLiteral("KESTREL_COM%1").arg(portNumber); }

QString defaultComPortDevice(int portNumber) {
#ifdef _WIN32
  return QStringLiteral("COM%1").arg(portNumber);
#else
  return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

QString storedComPortDevice(int portNumber) { return readStoredSetting(kPortsSection, valueName(portNumber)); }

bool storeComPortDevice(int portNumber, const QString& device) {
  return writeStoredSetting(kPortsSection, valueName(portNumber), device);
}

ComPortSource comPortSource(int portNumber) {
  if (!qEnvironmentVariable(qPrintable(comPortVariable(portNumber))).isEmpty()) return ComPortSource::Environment;
  if (!storedComPortDevice(portNumber).isEmpty()) return ComPortSource::Stored;
  return ComPortSource::Default;
}

QString comPortDevice(int portNumber) {
  const QString override = qEnvironmentVariable(qPrintable(comPortVariable(portNumber)));
  if (!override.isEmpty()) return override;
  const QString stored = storedComPortDevice(portNumber);
  if (!stored.isEmpty()) return stored;
  return defaultComPortDevice(portNumber);
}

QList<SerialPortEntry> systemSerialPorts() {
  // Stable names: the links in /dev/serial/by-id, by the device they point at.
  QHash<QString, QString> byId;
  const QDir byIdDir(QStringLiteral("/dev/serial/by-id"));
  for (const QFileInfo& link : byIdDir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
    byId.insert(link.canonicalFilePath(), link.absoluteFilePath());

  QList<SerialPortEntry> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifndef _WIN32
    if (!isListedDevice(info.portName()) || !QFileInfo::exists(info.systemLocation())) continue;
#endif
    ports.append(
        {info.systemLocation(), byId.value(QFileInfo(info.systemLocation()).canonicalFilePath()), info.description()});
  }
  return ports;
}

QList<SerialPortEntry> serialPorts() {
  QList<SerialPortEntry> ports = installedEnumeration() ? installedEnumeration()() : systemSerialPorts();
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.device < b.device; });
  return ports;
}

void installPortEnumeration(PortEnumeration enumeration) { installedEnumeration() = std::move(enumeration); }

}  // namespace kestrel
