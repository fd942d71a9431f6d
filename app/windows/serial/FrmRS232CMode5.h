#pragma once

#include "sessions/Mode5Session.h"
#include "kit/SerialTestForm.h"

class QGroupBox;
class QRadioButton;

namespace kestrel {

class Pause;

// The customer's DLE unit: a whole play list per message.
class FrmRS232CMode5 : public SessionForm<Mode5Session> {
  Q_OBJECT
 public:
  explicit FrmRS232CMode5(const WindowContext& context = {});
  FrmRS232CMode5(const WindowContext& context, Pause& pause);

  QGroupBox* FrEnd;
  QList<QRadioButton*> Option1;

 protected:
  void InitForm() override;
  void CmdAction_Click(int index) override;
};

}  // namespace kestrel
