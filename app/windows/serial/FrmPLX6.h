#pragma once

#include "sessions/Plx6Session.h"
#include "kit/SerialTestForm.h"

namespace kestrel {

class Pause;

// The PLX6 controller, paced by its "Ready" texts.
class FrmPLX6 : public SessionForm<Plx6Session> {
  Q_OBJECT
 public:
  explicit FrmPLX6(const WindowContext& context = {});
  FrmPLX6(const WindowContext& context, Pause& pause);
 protected:
  void CmdAction_Click(int index) override;
};

}  // namespace kestrel
