#pragma once

#include "Mode5Session.h"
#include "SerialTestForm.h"

class QGroupBox;
class QRadioButton;

namespace kestrel {

class Pause;

// The customer's DLE unit: a whole play list per message.
class FrmRS232CMode5 : public SessionForm<Mode5Session> {
  Q_OBJECT
 public:
  explicit FrmRS232CMode5(QWidget* parent = nullptr);
  FrmRS232CMode5(QWidget* parent, Pause& pause);

  QGroupBox* FrEnd;
  QList<QRadioButton*> Option1;

 protected:
  void InitForm() override;
  void CmdAction_Click(int index) override;
};

}  // namespace kestrel
