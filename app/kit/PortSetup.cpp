#include "kit/PortSetup.h"

#include "link/SerialLink.h"
#include "kit/AppEnd.h"

namespace kestrel {

PortSetupResult SetUpPort(SerialLink& link, const PortProfile& p, int number, QWidget* owner, QString* failure) {
  auto failed = [&](const QString& why) {
    if (failure) *failure = why;
    return PortSetupResult::Failed;
  };
  link.setCommPort(number);
  if (!configurePort(link, p.port))
    return failed(QStringLiteral("通信設定が正しくありません（%1）").arg(p.port.settings));
  if (link.open()) return PortSetupResult::Opened;
  if (link.openError() == SerialLink::OpenError::Busy) {
    // The documented text, then who holds the port where that is known.
    const QString holder = link.holder();
    MsgBox(owner, holder.isEmpty() ? kPortBusyMessage : kPortBusyMessage + QStringLiteral("\r\n使用中：") + holder,
           p.busyIcon, p.busyTitle);
    if (failure) *failure = link.errorString();
    EndApplication();
    return PortSetupResult::Busy;
  }
  return failed(link.errorString());
}

}  // namespace kestrel
