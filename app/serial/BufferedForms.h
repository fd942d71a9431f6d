#pragma once
// The buffered RS-232C windows: one form over BufferedSession, told apart by
// their variant.

#include "BufferedSession.h"
#include "SerialTestForm.h"

class QGroupBox;
class QLabel;
class QRadioButton;

namespace kestrel {

class Pause;

class BufferedForm : public SessionForm<BufferedSession> {
  Q_OBJECT
 public:
  RunProgress runProgress() const override;
 protected:
  BufferedForm(QWidget* parent, Pause& pause, const BufferedVariant& variant, const QString& name,
               const QString& designCaption, bool volumeRow);
  void InitForm() override;
  void CmdAction_Click(int index) override;
};

// 255 and 250 channels and TARN5-KLV, chosen by the menu's SubMode.
class FrmRS232CMode2 : public BufferedForm {
  Q_OBJECT
 public:
  explicit FrmRS232CMode2(QWidget* parent = nullptr);
  FrmRS232CMode2(QWidget* parent, Pause& pause);
};

class FrmRS232CMode2_1000CH : public BufferedForm {
  Q_OBJECT
 public:
  explicit FrmRS232CMode2_1000CH(QWidget* parent = nullptr);
  FrmRS232CMode2_1000CH(QWidget* parent, Pause& pause);
};

// The LAN-capable 1000-channel unit: frames carry the line number chosen here.
class FrmTARN4RS1000CH : public BufferedForm {
  Q_OBJECT
 public:
  explicit FrmTARN4RS1000CH(QWidget* parent = nullptr);
  FrmTARN4RS1000CH(QWidget* parent, Pause& pause);

  QGroupBox* FrLine;
  QLabel* Label2;
  QList<QRadioButton*> OptSp;

 protected:
  void InitForm() override;
};

}  // namespace kestrel
