#include "kit/SerialTestForm.h"

#include "link/SerialLink.h"
#include "sessions/SerialSession.h"

#include <QBoxLayout>
#include <QPushButton>

namespace kestrel {

SerialFormSpec serialFormSpec(const ModeProfile& mode, const QString& designCaption) {
  return {QString::fromLatin1(mode.entry->window), designCaption, {mode.port.value_or(PortSettings{})}, {}, mode.panel,
          mode.buttons};
}

SerialTestForm::SerialTestForm(const WindowContext& context, const SerialFormSpec& spec)
    : TestWindow(context, spec.window(), QStringLiteral("COM%1").arg(context.ComPortNumber)),
      port_(spec.port),
      comPort_(context.ComPortNumber) {
  PDQ_COM = new SerialLink(this);
  CmdReopen = new QPushButton(QStringLiteral("ポート再接続"));
  CmdReopen->setObjectName(QStringLiteral("CmdReopen"));
  CmdReopen->setAccessibleName(QStringLiteral("通信ポートを開き直す"));
  CmdReopen->setAutoDefault(false);
  CmdReopen->hide();
  extras()->addWidget(CmdReopen);
  connect(CmdReopen, &QPushButton::clicked, this, &SerialTestForm::ReopenPort);
  connect(PDQ_COM, &SerialLink::lost, this, [this](const QString& reason) {
    if (session_) session_->PortLost(reason);
    runStopped();
    CmdReopen->show();
  });
}

void SerialTestForm::ReopenPort() {
  if (PDQ_COM->isOpen()) {
    CmdReopen->hide();
    return;
  }
  QString failure;
  const PortSetupResult result = SetUpPort(*PDQ_COM, port_, comPort_, this, &failure);
  const QString port = QStringLiteral("COM%1（%2）").arg(PDQ_COM->commPort()).arg(PDQ_COM->device());
  if (result == PortSetupResult::Opened) {
    log->AddLog(QStringLiteral("[情報]：%1を開き直しました").arg(port), LineKind::Info);
    CmdReopen->hide();
    return;
  }
  log->AddLog(QStringLiteral("[エラー]：%1を開き直せませんでした：%2").arg(port, failure), LineKind::Fault);
}

SerialTestForm::~SerialTestForm() = default;

void SerialTestForm::load(SerialSession& session, const QString& caption) {
  session_ = &session;
  connect(PDQ_COM, &SerialLink::comm, this, [this](int event) { PDQ_COM_OnComm(event); });
  showLoaded(caption);
  InitForm();
  QString failure;
  if (SetUpPort(*PDQ_COM, port_, comPort_, this, &failure) == PortSetupResult::Failed) {
    log->AddLog(QStringLiteral("[エラー]：COM%1（%2）を開けませんでした：%3")
                    .arg(PDQ_COM->commPort())
                    .arg(PDQ_COM->device(), failure),
                LineKind::Fault);
  }
}

void SerialTestForm::PDQ_COM_OnComm(int event) { session_->OnComm(event); }

void SerialTestForm::InitForm() {
  if (panel) panel->InitForm();
  log->Clear();
  session_->InitForm();
}

void SerialTestForm::Unload() {
  if (session_) session_->Unload();
}

}  // namespace kestrel
