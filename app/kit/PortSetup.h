#pragma once
// Opening a serial window's port when the window loads.

#include "core/PortSettings.h"
#include "kit/MessageService.h"

#include <QString>

class QWidget;

namespace kestrel {

class SerialLink;

// The mode's port, and how the window tells a port held by another program.
struct PortProfile {
  PortSettings port;
  QString busyTitle = kTitle;
  MsgIcon busyIcon = MsgIcon::Exclamation;
};

enum class PortSetupResult { Opened, Failed, Busy };

inline const QString kPortBusyMessage =
    QStringLiteral("通信ポートをオープンできませんでした。\r\nアプリケーションを終了します。");

// COM`number`, then the profile, then open. A port held
// by another program is reported, naming the holder when it can be found,
// and ends the application; any failure leaves the port closed and says why
// in `failure`.
PortSetupResult SetUpPort(SerialLink& link, const PortProfile& profile, int number, QWidget* owner,
                          QString* failure = nullptr);

}  // namespace kestrel
