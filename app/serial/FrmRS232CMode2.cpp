#include "FrmRS232CMode2.h"

#include "EntryPanel.h"
#include "LogGrid.h"
#include "PortSetup.h"
#include "SerialLink.h"
#include "shell/FrmMenu.h"
#include "shell/Look.h"
#include "shell/Pause.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

namespace {
const QString kButtonCaptions[7] = {QStringLiteral("再生"),
                                    QStringLiteral("停止"),
                                    QStringLiteral("音量減衰（-6dB）"),
                                    QStringLiteral("音量減衰（-14dB）"),
                                    QStringLiteral("音量減衰（ﾃﾞﾌｫﾙﾄ）"),
                                    QStringLiteral("一覧クリア"),
                                    QStringLiteral("終了")};
}  // namespace

FrmRS232CMode2::FrmRS232CMode2(QWidget* parent) : FrmRS232CMode2(parent, realPause()) {}

FrmRS232CMode2::FrmRS232CMode2(QWidget* parent, Pause& pause) : QDialog(parent) {
  setObjectName(QStringLiteral("FrmRS232CMode2"));
  setWindowTitle(QStringLiteral("バッファリング機能付RS232C制御モード2"));
  setFont(japaneseFont(kGothic));

  PDQ_COM = new SerialLink(this);
  log = new LogModel({}, this);
  FG1 = new LogGrid(log);
  panel = new EntryPanel({});
  session_ = std::make_unique<BufferedSession>(FrmMenu::SubMode, *PDQ_COM, *log, pause);

  auto* buttons = new QGridLayout;
  for (int i = 0; i < 7; ++i) {
    auto* button = new QPushButton(kButtonCaptions[i]);
    button->setObjectName(QStringLiteral("CmdAction(%1)").arg(i));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i] { CmdAction_Click(i); });
    CmdAction.append(button);
  }
  buttons->addWidget(CmdAction[0], 0, 0);
  buttons->addWidget(CmdAction[1], 0, 1);
  buttons->addWidget(CmdAction[2], 1, 0);
  buttons->addWidget(CmdAction[3], 1, 1);
  buttons->addWidget(CmdAction[4], 2, 0);
  buttons->addWidget(CmdAction[5], 3, 0);
  buttons->addWidget(CmdAction[6], 3, 1);

  auto* top = new QHBoxLayout;
  top->addWidget(panel, 1);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(FG1, 1);

  connect(panel, &EntryPanel::manualModeChanged, this, [this](bool manual) { session_->ManualMode = manual; });
  connect(panel, &EntryPanel::repeatChanged, this, [this](int value) { session_->RepeatOn = qint16(value); });
  connect(PDQ_COM, &SerialLink::comm, this, [this](int event) { session_->OnComm(event); });
  connect(PDQ_COM, &SerialLink::lost, this, [this](const QString& reason) {
    log->AddLog(QStringLiteral("[エラー]：通信ポートが切断されました（%1）").arg(reason), LineKind::Note);
  });

  // Load.
  setShiftJisCharset(this);
  setWindowTitle(session_->variant().caption);
  InitForm();
  QString failure;
  if (SetUpPort(*PDQ_COM, {session_->variant().settings, ReceiveProfile::Text}, this, &failure) ==
      PortSetupResult::Failed) {
    log->AddLog(QStringLiteral("[エラー]：COM%1（%2）を開けませんでした：%3")
                    .arg(PDQ_COM->commPort())
                    .arg(PDQ_COM->device(), failure),
                LineKind::Note);
  }
}

FrmRS232CMode2::~FrmRS232CMode2() = default;

void FrmRS232CMode2::InitForm() {
  const BufferedVariant& v = session_->variant();
  for (int i = 2; i <= 4; ++i) CmdAction[i]->setEnabled(v.volumeButtons);
  panel->setAutoCaption(v.autoCaption);
  panel->InitForm();
  log->Clear();
  session_->InitForm();
}

void FrmRS232CMode2::CmdAction_Click(int index) {
  BufferedSession& s = *session_;
  switch (index) {
    case 0:
      if (!panel->CheckInput(s.MaxChannel, s.variant().rangeMessage)) return;
      s.Play(panel->channelList(s.MaxChannel, 3), panel->channelUnit());
      break;
    case 1: s.Stop(); break;
    case 2: s.SendVolume(BufferedSession::Volume6dB); break;
    case 3: s.SendVolume(BufferedSession::Volume14dB); break;
    case 4: s.SendVolume(BufferedSession::VolumeDefault); break;
    case 5: log->Clear(); break;
    case 6: close(); break;
  }
}

void FrmRS232CMode2::done(int result) {
  if (!unloaded_) {
    unloaded_ = true;
    session_->Unload();
  }
  QDialog::done(result);
}

}  // namespace kestrel
