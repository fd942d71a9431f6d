#include "link/ComPorts.h"

#include <QtGlobal>

namespace kestrel {

QString comPortDevice(int portNumber) {
  const QString override = qEnvironmentVariable(qPrintable(QStringLiteral("KESTREL_COM%1").arg(portNumber)));
  if (!override.isEmpty()) return override;
#ifdef _WIN32
  return QStringLiteral("COM%1").arg(portNumber);
#else
  return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

}  // namespace kestrel
