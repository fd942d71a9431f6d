#pragma once
// Opening a serial window's port when the window loads.

#include "kit/MessageService.h"

#include <QString>

class QWidget;

namespace kestrel {

class SerialLink;

enum class ReceiveProfile {
  Text,               // one character per read, RTS on, an event per arrival
  Raw,                // everything waiting per read, an event per arrival
  TextWithoutEvents,  // as Text, but the window polls instead of taking events
};

struct PortProfile {
  QString settings;  // empty: keep the link's "9600,N,8,1"
  ReceiveProfile profile = ReceiveProfile::Text;
  QString busyTitle = kTitle;
  MsgIcon busyIcon = MsgIcon::Exclamation;
};

enum class PortSetupResult { Opened, Failed, Busy };

inline const QString kPortBusyMessage =
    QStringLiteral("通信ポートをオープンできませんでした。\r\nアプリケーションを終了します。");

// COM`number`, then the profile, then open. A port held
// by another program is reported and ends the application; any other
// failure leaves the port closed and says why in `failure`.
PortSetupResult SetUpPort(SerialLink& link, const PortProfile& profile, int number, QWidget* owner,
                          QString* failure = nullptr);

}  // namespace kestrel
