#include "SerialTestForm.h"

#include "SerialLink.h"
#include "SerialSession.h"
#include "shell/Look.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

SerialTestForm::SerialTestForm(QWidget* parent, const SerialFormSpec& spec) : QDialog(parent), port_(spec.port) {
  setObjectName(spec.name);
  setWindowTitle(spec.designCaption);
  setFont(japaneseFont(kGothic));

  PDQ_COM = new SerialLink(this);
  log = new LogModel(spec.log, this);
  FG1 = new LogGrid(log);
  if (spec.panel) panel = new EntryPanel(*spec.panel);

  auto* buttons = new QGridLayout;
  for (const ButtonSpec& b : spec.buttons) {
    auto* button = new QPushButton(b.caption);
    button->setObjectName(QStringLiteral("CmdAction(%1)").arg(b.index));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i = b.index] { CmdAction_Click(i); });
    if (CmdAction.size() <= b.index) CmdAction.resize(b.index + 1);
    CmdAction[b.index] = button;
    buttons->addWidget(button, b.row, b.column);
  }
  auto* side = new QVBoxLayout;
  side->addLayout(buttons);
  extras_ = new QVBoxLayout;
  side->addLayout(extras_);
  side->addStretch(1);

  auto* top = new QHBoxLayout;
  if (panel) top->addWidget(panel, 1);
  top->addLayout(side);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(FG1, 1);

  connect(PDQ_COM, &SerialLink::lost, this, [this](const QString& reason) {
    log->AddLog(QStringLiteral("[エラー]：通信ポートが切断されました（%1）").arg(reason), LineKind::Note);
  });
}

SerialTestForm::~SerialTestForm() = default;

void SerialTestForm::load(SerialSession& session, const QString& caption) {
  session_ = &session;
  connect(PDQ_COM, &SerialLink::comm, this, [this](int event) { PDQ_COM_OnComm(event); });
  // Whatever a window adds, no button of a test window is a default button:
  // Return in an entry box must not press one.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);

  setShiftJisCharset(this);
  setWindowTitle(caption);
  InitForm();
  QString failure;
  if (SetUpPort(*PDQ_COM, port_, this, &failure) == PortSetupResult::Failed) {
    log->AddLog(QStringLiteral("[エラー]：COM%1（%2）を開けませんでした：%3")
                    .arg(PDQ_COM->commPort())
                    .arg(PDQ_COM->device(), failure),
                LineKind::Note);
  }
}

void SerialTestForm::PDQ_COM_OnComm(int event) { session_->OnComm(event); }

void SerialTestForm::InitForm() {
  if (panel) panel->InitForm();
  log->Clear();
  session_->InitForm();
}

void SerialTestForm::done(int result) {
  if (!unloaded_ && session_) {
    unloaded_ = true;
    session_->Unload();
  }
  QDialog::done(result);
}

void SerialTestForm::keyPressEvent(QKeyEvent* event) {
  // Escape would close the window and end the unit's run; Return would press
  // a default button. Only 終了 and the title bar close a test window.
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: event->accept(); return;
    default: QDialog::keyPressEvent(event);
  }
}

}  // namespace kestrel
