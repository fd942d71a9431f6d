#pragma once

#include "Plx6Session.h"
#include "SerialTestForm.h"

#include <memory>

namespace kestrel {

class Pause;

// The PLX6 controller, paced by its "Ready" texts.
class FrmPLX6 : public SerialTestForm {
  Q_OBJECT
 public:
  explicit FrmPLX6(QWidget* parent = nullptr);
  FrmPLX6(QWidget* parent, Pause& pause);
  ~FrmPLX6() override;

  Plx6Session& session() { return *session_; }

 protected:
  void CmdAction_Click(int index) override;

 private:
  std::unique_ptr<Plx6Session> session_;
};

}  // namespace kestrel
