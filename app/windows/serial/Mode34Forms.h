#pragma once
// Serial control modes A and B: one form over Mode34Session, the two told
// apart by their title and their single-command buttons.

#include "sessions/Mode34Session.h"
#include "kit/SerialTestForm.h"

class QGroupBox;
class QLabel;

namespace kestrel {

class Pause;

class Mode34Form : public SessionForm<Mode34Session> {
  Q_OBJECT
 protected:
  Mode34Form(const WindowContext& context, Pause& pause, bool modeB);
  void CmdAction_Click(int index) override;

 private:
  bool modeB_;
};

// Mode A: volume attenuation commands.
class FrmRS232CMode3 : public Mode34Form {
  Q_OBJECT
 public:
  explicit FrmRS232CMode3(const WindowContext& context = {});
  FrmRS232CMode3(const WindowContext& context, Pause& pause);
};

// Mode B: a bare ENQ, a fixed channel-1 frame and sixteen sheet numbers.
class FrmRS232CMode4 : public Mode34Form {
  Q_OBJECT
 public:
  explicit FrmRS232CMode4(const WindowContext& context = {});
  FrmRS232CMode4(const WindowContext& context, Pause& pause);

  QGroupBox* FrSheet;
  QLabel* LblSheet;
  QList<QPushButton*> SheetCmd;
};

}  // namespace kestrel
