#pragma once

#include "Mode5Session.h"
#include "SerialTestForm.h"

#include <memory>

class QGroupBox;
class QRadioButton;

namespace kestrel {

class Pause;

// The customer's DLE unit: a whole play list per message.
class FrmRS232CMode5 : public SerialTestForm {
  Q_OBJECT
 public:
  explicit FrmRS232CMode5(QWidget* parent = nullptr);
  FrmRS232CMode5(QWidget* parent, Pause& pause);
  ~FrmRS232CMode5() override;

  Mode5Session& session() { return *session_; }

  QGroupBox* FrEnd;
  QList<QRadioButton*> Option1;

 protected:
  void InitForm() override;
  void CmdAction_Click(int index) override;

 private:
  std::unique_ptr<Mode5Session> session_;
};

}  // namespace kestrel
