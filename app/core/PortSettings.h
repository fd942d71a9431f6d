#pragma once
// How a mode's serial port is set up before it opens, apart from the link
// that applies it.

#include <QString>

namespace kestrel {

enum class ReceiveProfile {
  Text,               // one character per read, RTS on, an event per arrival
  Raw,                // everything waiting per read, an event per arrival
  TextWithoutEvents,  // as Text, but the window polls instead of taking events
};

struct PortSettings {
  QString settings;  // empty: keep the link's "9600,N,8,1"
  ReceiveProfile receive = ReceiveProfile::Text;
  bool lineEvents = false;  // the modem lines' changes are logged by number
};

}  // namespace kestrel
