#include "windows/serial/BufferedForms.h"

#include "link/SerialLink.h"
#include "core/Pause.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace kestrel {

BufferedForm::BufferedForm(const WindowContext& context, Pause& pause, const ModeProfile& mode,
                           const QString& designCaption)
    : SessionForm(context, serialFormSpec(mode, designCaption), pause, *mode.buffered) {
  connect(panel, &EntryPanel::manualModeChanged, this, [this](bool manual) { session_.ManualMode = manual; });
  connect(panel, &EntryPanel::repeatChanged, this, [this](int value) { session_.RepeatOn = qint16(value); });
}

void BufferedForm::InitForm() {
  const BufferedVariant& v = session_.variant();
  for (int i = 2; i <= 4 && i < CmdAction.size(); ++i)
    if (CmdAction[i]) CmdAction[i]->setEnabled(v.volumeButtons);
  panel->setAutoCaption(v.autoCaption);
  SerialTestForm::InitForm();
}

void BufferedForm::CmdAction_Click(int index) {
  BufferedSession& s = session_;
  switch (index) {
    case 0:
      if (!panel->CheckInput()) return;
      s.Play(panel->channelNumbers(s.MaxChannel), panel->channelUnit());
      break;
    case 1: s.Stop(); break;
    case 2: s.SendVolume(BufferedSession::Volume6dB); break;
    case 3: s.SendVolume(BufferedSession::Volume14dB); break;
    case 4: s.SendVolume(BufferedSession::VolumeDefault); break;
    case 5: log->Clear(); break;
    case 6: close(); break;
  }
}

FrmRS232CMode2::FrmRS232CMode2(const WindowContext& context) : FrmRS232CMode2(context, realPause()) {}

FrmRS232CMode2::FrmRS232CMode2(const WindowContext& context, Pause& pause)
    : BufferedForm(context, pause, windowProfile(QStringLiteral("FrmRS232CMode2"), context.SubMode),
                   QStringLiteral("バッファリング機能付RS232C制御モード2")) {
  session_.SubMode = context.SubMode;
  load(session_.variant().caption);
}

FrmRS232CMode2_1000CH::FrmRS232CMode2_1000CH(const WindowContext& context) : FrmRS232CMode2_1000CH(context, realPause()) {}

FrmRS232CMode2_1000CH::FrmRS232CMode2_1000CH(const WindowContext& context, Pause& pause)
    : BufferedForm(context, pause, windowProfile(QStringLiteral("FrmRS232CMode2_1000CH")), kBuffered1000.caption) {
  load(kBuffered1000.caption);
}

FrmTARN4RS1000CH::FrmTARN4RS1000CH(const WindowContext& context) : FrmTARN4RS1000CH(context, realPause()) {}

FrmTARN4RS1000CH::FrmTARN4RS1000CH(const WindowContext& context, Pause& pause)
    : BufferedForm(context, pause, windowProfile(QStringLiteral("FrmTARN4RS1000CH")), kBufferedTarn4Lan.caption) {
  FrLine = new QGroupBox;
  FrLine->setObjectName(QStringLiteral("FrLine"));
  Label2 = new QLabel(QStringLiteral("LINE番号#"));
  Label2->setObjectName(QStringLiteral("Label2"));
  FrLine->setAccessibleName(Label2->text());
  auto* options = new QGridLayout(FrLine);
  options->addWidget(Label2, 0, 0, 1, 5);
  for (int i = 0; i < 9; ++i) {
    auto* option = new QRadioButton(QString::number(i + 1));
    option->setObjectName(QStringLiteral("OptSp(%1)").arg(i));
    option->setAccessibleName(Label2->text() + QString::number(i + 1));
    options->addWidget(option, 1 + i / 5, i % 5);
    OptSp.append(option);
  }
  extras()->addWidget(FrLine);
  session_.selectedLine = [this] {
    for (int i = 0; i < OptSp.size(); ++i)
      if (OptSp[i]->isChecked()) return i + 1;
    return 0;
  };
  load(kBufferedTarn4Lan.caption);
}

void FrmTARN4RS1000CH::InitForm() {
  OptSp[0]->setChecked(true);
  BufferedForm::InitForm();
}

}  // namespace kestrel
