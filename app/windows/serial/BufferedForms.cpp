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

namespace {

SerialFormSpec formSpec(const BufferedVariant& v, const QString& name, const QString& designCaption, bool volumeRow) {
  SerialFormSpec spec{name, designCaption, {v.settings, ReceiveProfile::Text}};
  spec.panel = EntryPanelSpec{.autoCaption = v.autoCaption,
                              .boxMaxLength = v.channelWidth,
                              .help = v.help,
                              .unitDefault = v.unitDefault,
                              .rules = {.high = v.maxChannel, .rangeMessage = v.rangeMessage}};
  spec.buttons = {{0, QStringLiteral("再生"), 0, 0},
                  {1, QStringLiteral("停止"), 0, 1},
                  {5, QStringLiteral("一覧クリア"), 3, 0},
                  {6, QStringLiteral("終了"), 3, 1}};
  if (volumeRow) {
    spec.buttons.push_back({2, QStringLiteral("音量減衰（-6dB）"), 1, 0});
    spec.buttons.push_back({3, QStringLiteral("音量減衰（-14dB）"), 1, 1});
    spec.buttons.push_back({4, QStringLiteral("音量減衰（ﾃﾞﾌｫﾙﾄ）"), 2, 0});
  }
  return spec;
}

}  // namespace

BufferedForm::BufferedForm(const WindowContext& context, Pause& pause, const BufferedVariant& variant, const QString& name,
                           const QString& designCaption, bool volumeRow)
    : SessionForm(context, formSpec(variant, name, designCaption, volumeRow), pause, variant) {
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

RunProgress BufferedForm::runProgress() const {
  const BufferedSession& s = session_;
  // ListRemain is the whole range before the first 再生.
  if (s.ListTotal < 1) return {};
  return {s.ListTotal - s.ListRemain, s.ListTotal, s.ListRemain > 0 || s.FramePending};
}

FrmRS232CMode2::FrmRS232CMode2(const WindowContext& context) : FrmRS232CMode2(context, realPause()) {}

FrmRS232CMode2::FrmRS232CMode2(const WindowContext& context, Pause& pause)
    : BufferedForm(context, pause, bufferedVariant(context.SubMode), QStringLiteral("FrmRS232CMode2"),
                   QStringLiteral("バッファリング機能付RS232C制御モード2"), true) {
  session_.SubMode = context.SubMode;
  load(session_.variant().caption);
}

FrmRS232CMode2_1000CH::FrmRS232CMode2_1000CH(const WindowContext& context) : FrmRS232CMode2_1000CH(context, realPause()) {}

FrmRS232CMode2_1000CH::FrmRS232CMode2_1000CH(const WindowContext& context, Pause& pause)
    : BufferedForm(context, pause, kBuffered1000, QStringLiteral("FrmRS232CMode2_1000CH"), kBuffered1000.caption,
                   false) {
  load(kBuffered1000.caption);
}

FrmTARN4RS1000CH::FrmTARN4RS1000CH(const WindowContext& context) : FrmTARN4RS1000CH(context, realPause()) {}

FrmTARN4RS1000CH::FrmTARN4RS1000CH(const WindowContext& context, Pause& pause)
    : BufferedForm(context, pause, kBufferedTarn4Lan, QStringLiteral("FrmTARN4RS1000CH"), kBufferedTarn4Lan.caption,
                   false) {
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
