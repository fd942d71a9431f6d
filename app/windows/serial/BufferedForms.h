#pragma once
// The buffered RS-232C windows: one form over BufferedSession, told apart by
// their variant.

#include "sessions/BufferedSession.h"
#include "kit/SerialTestForm.h"

class QGroupBox;
class QLabel;
class QRadioButton;

namespace kestrel {

class Pause;

class BufferedForm : public SessionForm<BufferedSession> {
  Q_OBJECT
 protected:
  BufferedForm(const WindowContext& context, Pause& pause, const ModeProfile& mode, const QString& designCaption);
  void InitForm() override;
  void CmdAction_Click(int index) override;
};

// 255 and 250 channels and TARN5-KLV, chosen by the menu's SubMode.
class FrmRS232CMode2 : public BufferedForm {
  Q_OBJECT
 public:
  explicit FrmRS232CMode2(const WindowContext& context = {});
  FrmRS232CMode2(const WindowContext& context, Pause& pause);
};

class FrmRS232CMode2_1000CH : public BufferedForm {
  Q_OBJECT
 public:
  explicit FrmRS232CMode2_1000CH(const WindowContext& context = {});
  FrmRS232CMode2_1000CH(const WindowContext& context, Pause& pause);
};

// The LAN-capable 1000-channel unit: frames carry the line number chosen here.
class FrmTARN4RS1000CH : public BufferedForm {
  Q_OBJECT
 public:
  explicit FrmTARN4RS1000CH(const WindowContext& context = {});
  FrmTARN4RS1000CH(const WindowContext& context, Pause& pause);

  QGroupBox* FrLine;
  QLabel* Label2;
  QList<QRadioButton*> OptSp;

 protected:
  void InitForm() override;
};

}  // namespace kestrel
