#pragma once

#include "Mode1Session.h"
#include "SerialTestForm.h"

#include <memory>

namespace kestrel {

class Pause;

// RS-232C control mode 1: channel lines of text, paced by the unit's ACKs.
class FrmRS232CMode1 : public SerialTestForm {
  Q_OBJECT
 public:
  explicit FrmRS232CMode1(QWidget* parent = nullptr);
  FrmRS232CMode1(QWidget* parent, Pause& pause);
  ~FrmRS232CMode1() override;

  Mode1Session& session() { return *session_; }

 protected:
  void CmdAction_Click(int index) override;

 private:
  std::unique_ptr<Mode1Session> session_;
};

}  // namespace kestrel
