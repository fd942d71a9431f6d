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
  if (!p.settings.isEmpty() && !link.setSettings(p.settings))
    return failed(QStringLiteral("通信設定が正しくありません（%1）").arg(p.settings));
  if (p.profile == ReceiveProfile::Raw) {
    link.setInputMode(SerialLink::comInputModeBinary);
    link.setInputLen(0);
  } else {
    link.setInputLen(1);
    link.setRTSEnable(true);
  }
  link.setRThreshold(p.profile == ReceiveProfile::TextWithoutEvents ? 0 : 1);
  if (link.open()) return PortSetupResult::Opened;
  if (link.openError() == SerialLink::OpenError::Busy) {
    MsgBox(owner, kPortBusyMessage, p.busyIcon, p.busyTitle);
    EndApplication();
    return PortSetupResult::Busy;
  }
  return failed(link.errorString());
}

}  // namespace kestrel
