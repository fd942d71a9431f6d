#include "windows/binary/BinaryForms.h"

#include "core/ChannelEntry.h"
#include "kit/AppEnd.h"
#include "kit/FocusSelect.h"
#include "kit/MessageService.h"
#include "core/Pause.h"

#include <QBoxLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace kestrel {

namespace {

const QString kLibraryMissing = QStringLiteral("必要なファイルが見つかりませんでした。    \r\n確認して下さい。(Wexford.dll)");

// A mode's window: named as the menu names it, with its entry panel and buttons.
TestWindowSpec windowSpec(const ModeProfile& mode, const QString& designCaption) {
  return {QString::fromLatin1(mode.entry->window), designCaption, {}, mode.panel, mode.buttons};
}

const ModeProfile& mode2Profile(int subMode) { return windowProfile(QStringLiteral("FrmBinaryMode2"), subMode); }

}  // namespace

BufferedBinaryForm::BufferedBinaryForm(const WindowContext& context, WexfordApi& board, Pause& pause,
                                       const BufferedBinaryVariant& variant, const QString& name)
    : BinaryForm(context, windowSpec(windowProfile(name), variant.caption), board, pause, variant),
      positiveLogic_(context.PositiveLogic) {
  TxtIoTime = new QLineEdit(variant.timingText);
  TxtIoTime->setObjectName(QStringLiteral("TxtIoTime"));
  TxtIoTime->setMaxLength(3);
  selectAllOnFocus(TxtIoTime);
  auto* label = new QLabel(QStringLiteral("タイミング時間"));
  label->setBuddy(TxtIoTime);
  TxtIoTime->setAccessibleName(label->text());
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(TxtIoTime);
  row->addWidget(new QLabel(QStringLiteral("ms")));
  extras()->addLayout(row);
  connect(panel, &EntryPanel::manualModeChanged, this, [this] { keepResetAsItIs(); });
  keepResetAsItIs();
}

// The LUMO7Q window never offers its reset button.
void BufferedBinaryForm::keepResetAsItIs() {
  if (lumo()) panel->CmdCls->setEnabled(false);
}

void BufferedBinaryForm::load() {
  BufferedBinarySession& s = session_;
  showLoaded(s.variant().caption);
  if (!lumo()) s.PositiveLogic = positiveLogic_;
  if (const BoardResult opened = s.Load(); !opened.ok()) {
    if (opened.fault == BoardFault::Unavailable)
      libraryUnavailable();
    else
      MsgBox(this, withDriverProblem(kBoardOpenFailed), MsgIcon::None, kTitle3J);
    return;
  }
  panel->InitForm();
  log->Clear();
  Time1.stop();
}

// The LUMO7Q window cannot go on without its library; the other tells it as
// a board it cannot reach.
void BufferedBinaryForm::libraryUnavailable() {
  if (lumo()) {
    MsgBox(this, withDriverProblem(kLibraryMissing), MsgIcon::None, kTitle3J);
    EndApplication();
  } else {
    MsgBox(this, withDriverProblem(kBoardOpenFailed), MsgIcon::None, kTitle3J);
  }
}

void BufferedBinaryForm::CmdAction_Click(int index) {
  BufferedBinarySession& s = session_;
  switch (index) {
    case 0: {
      if (!panel->CheckInput()) return;
      const TimingCheck timing = checkTiming(TxtIoTime->text(), s.variant().timingDefault);
      if (!timing.ok) {
        MsgBox(this, timing.message, MsgIcon::Exclamation, kTitle3J);
        TxtIoTime->setFocus();
        return;
      }
      s.Play(panel->channelNumbers(s.variant().maxChannel), panel->manualMode(), timing.widthMs);
      break;
    }
    case 1: checked(s.Stop()); break;
    case 5: log->Clear(); break;
    case 6:
      Time1.stop();
      s.Playing = false;
      close();
      break;
  }
}

FrmBiMode7Q::FrmBiMode7Q(const WindowContext& context) : FrmBiMode7Q(context, wexford(), realPause()) {}

FrmBiMode7Q::FrmBiMode7Q(const WindowContext& context, WexfordApi& board, Pause& pause)
    : BufferedBinaryForm(context, board, pause, kLumo7Q, QStringLiteral("FrmBiMode7Q")) {
  load();
}

FrmBiMode1000CH::FrmBiMode1000CH(const WindowContext& context) : FrmBiMode1000CH(context, wexford(), realPause()) {}

FrmBiMode1000CH::FrmBiMode1000CH(const WindowContext& context, WexfordApi& board, Pause& pause)
    : BufferedBinaryForm(context, board, pause, kTarn2G1M, QStringLiteral("FrmBiMode1000CH")) {
  load();
}

FrmBinaryMode2::FrmBinaryMode2(const WindowContext& context) : FrmBinaryMode2(context, wexford(), realPause()) {}

FrmBinaryMode2::FrmBinaryMode2(const WindowContext& context, WexfordApi& board, Pause& pause)
    : BinaryForm(context,
                 windowSpec(mode2Profile(context.SubMode), QStringLiteral("バッファリング機能付バイナリ制御モード２")),
                 board, pause) {
  BinaryMode2Session& s = session_;
  s.PositiveLogic = context.PositiveLogic;
  s.SubMode = context.SubMode;
  s.Maximum = qint16(mode2Profile(s.SubMode).autoMax);
  showLoaded(s.caption());
  Time1.stop();
  connect(panel, &EntryPanel::repeatChanged, this, [this](int value) { session_.Repeat = qint16(value); });
  if (!s.Load().ok()) {
    MsgBox(this, withDriverProblem(kBoardOpenFailed), MsgIcon::None, kTitle3J);
    return;
  }
  const bool max255 = s.SubMode == 0;
  panel->setAutoCaption(max255 ? QStringLiteral("オートモード（１～２５５まで自動再生）")
                               : QStringLiteral("オートモード（１～２５０まで自動再生）"));
  for (int i = 2; i <= 4; ++i) CmdAction[i]->setVisible(!max255);
  panel->InitForm();
  log->Clear();
  Time1.stop();
}

void FrmBinaryMode2::libraryUnavailable() {
  MsgBox(this, withDriverProblem(kBoardOpenFailed), MsgIcon::None, kTitle3J);
}

void FrmBinaryMode2::CmdAction_Click(int index) {
  BinaryMode2Session& s = session_;
  s.CodePending = false;
  switch (index) {
    case 0:
      if (!panel->CheckInput()) return;
      s.Play(panel->channelNumbers(s.Maximum));
      break;
    case 1: checked(s.Stop()); break;
    case 2:
    case 3:
    case 4: s.SendCode(251 + index - 2); break;
    case 5: log->Clear(); break;
    case 6:
      Time1.stop();
      close();
      break;
  }
}

}  // namespace kestrel
