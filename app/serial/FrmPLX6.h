#pragma once

#include "Plx6Session.h"
#include "SerialTestForm.h"

namespace kestrel {

class Pause;

// The PLX6 controller, paced by its "Ready" texts.
class FrmPLX6 : public SessionForm<Plx6Session> {
  Q_OBJECT
 public:
  explicit FrmPLX6(QWidget* parent = nullptr);
  FrmPLX6(QWidget* parent, Pause& pause);
  RunProgress runProgress() const override;

 protected:
  void CmdAction_Click(int index) override;
};

}  // namespace kestrel
