#pragma once

#include "sessions/Mode1Session.h"
#include "kit/SerialTestForm.h"

namespace kestrel {

class Pause;

// RS-232C control mode 1: channel lines of text, paced by the unit's ACKs.
class FrmRS232CMode1 : public SessionForm<Mode1Session> {
  Q_OBJECT
 public:
  explicit FrmRS232CMode1(const WindowContext& context = {});
  FrmRS232CMode1(const WindowContext& context, Pause& pause);
 protected:
  void CmdAction_Click(int index) override;
};

}  // namespace kestrel
