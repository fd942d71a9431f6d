#include "kit/SerialTestForm.h"

#include "link/SerialLink.h"
#include "sessions/SerialSession.h"

namespace kestrel {

SerialFormSpec serialFormSpec(const ModeProfile& mode, const QString& designCaption) {
  return {QString::fromLatin1(mode.entry->window), designCaption, {mode.port.value_or(PortSettings{})}, {}, mode.panel,
          mode.buttons};
}

SerialTestForm::SerialTestForm(const WindowContext& context, const SerialFormSpec& spec)
    : TestWindow(context.parent, spec.window()), port_(spec.port), comPort_(context.ComPortNumber) {
  PDQ_COM = new SerialLink(this);
  connect(PDQ_COM, &SerialLink::lost, this, [this](const QString& reason) {
    if (session_) session_->PortLost(reason);
    runStopped();
  });
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
