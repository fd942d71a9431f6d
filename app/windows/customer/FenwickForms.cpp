#include "windows/customer/FenwickForms.h"

#include "core/ChannelEntry.h"
#include "link/SerialLink.h"
#include "kit/BrowseForFolder.h"
#include "kit/FocusSelect.h"
#include "kit/ModRegistry.h"
#include "core/ModString.h"
#include "core/Pause.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace kestrel {

namespace {

const QString kFolderValue = QStringLiteral("CardDataFolder");

SerialFormSpec formSpec(const FenwickVariant& v, const QString& name) {
  SerialFormSpec spec = serialFormSpec(windowProfile(name), v.caption);
  spec.port.busyTitle = kTitle3J;
  spec.log = {.header = false, .widthTwips = 8500, .visibleRows = 17, .firstLogRow = 0};
  spec.log.colours[std::size_t(LineKind::Info)].text = QColor(0, 0, 255);
  spec.log.colours[std::size_t(LineKind::Error)].text = QColor(255, 0, 0);
  spec.log.colours[std::size_t(LineKind::JudgedNg)].text = QColor(255, 0, 0);
  spec.log.accessibleName = QStringLiteral("通信状況");
  spec.logTools = false;  // ログ出力 is the window's own
  return spec;
}

QLineEdit* box(const QString& name, const QString& label) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  edit->setAccessibleName(label);
  selectAllOnFocus(edit);
  return edit;
}

QPushButton* button(const QString& name, const QString& caption) {
  auto* b = new QPushButton(caption);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

FenwickForm::FenwickForm(const WindowContext& context, Pause& pause, const FenwickVariant& variant, const QString& name)
    : SessionForm(context, formSpec(variant, name), pause, variant, Timer1, prompter_),
      Timer1([this] { session_.Timer1_Timer(); }) {
  FG1->setObjectName(QStringLiteral("FlexGrid1"));

  auto* pathFrame = new QGroupBox(QStringLiteral("対象のカードデータフォルダ"));
  auto* pathRow = new QHBoxLayout(pathFrame);
  TxtPath = box(QStringLiteral("TxtPath"), pathFrame->title());
  CmdPath = button(QStringLiteral("CmdPath"), QStringLiteral("参照..."));
  pathRow->addWidget(TxtPath, 1);
  pathRow->addWidget(CmdPath);

  auto* requestFrame = new QGroupBox(QStringLiteral("送信要求（送信モードを指定し送信ボタンをクリック）"));
  auto* requestRow = new QHBoxLayout(requestFrame);
  if (variant.range) {
    TextStartCH = box(QStringLiteral("TextStartCH"), QStringLiteral("Start CH"));
    TextEndCH = box(QStringLiteral("TextEndCH"), QStringLiteral("End CH"));
    requestRow->addWidget(new QLabel(QStringLiteral("Start CH")));
    requestRow->addWidget(TextStartCH);
    requestRow->addWidget(new QLabel(QStringLiteral("End CH")));
    requestRow->addWidget(TextEndCH);
  } else {
    OptOutMode = {new QRadioButton(QStringLiteral("すべてのチャンネル")),
                  new QRadioButton(QStringLiteral("指定のチャンネル"))};
    TxtCh = box(QStringLiteral("TxtCh"), OptOutMode[1]->text());
    for (int i = 0; i < 2; ++i) {
      OptOutMode[i]->setObjectName(QStringLiteral("OptOutMode(%1)").arg(i));
      requestRow->addWidget(OptOutMode[i]);
    }
    requestRow->addWidget(TxtCh);
    connect(OptOutMode[1], &QRadioButton::toggled, TxtCh, &QLineEdit::setEnabled);
    OptOutMode[0]->setChecked(true);
    TxtCh->setEnabled(false);
  }
  CmdOutput = button(QStringLiteral("CmdOutput"), QStringLiteral("送信"));
  requestRow->addStretch(1);
  requestRow->addWidget(CmdOutput);

  CmdLog = button(QStringLiteral("CmdLog"), QStringLiteral("ログ出力"));
  CmdClear = button(QStringLiteral("CmdClear"), QStringLiteral("履歴をクリア"));
  CmdEnd = button(QStringLiteral("CmdEnd"), QStringLiteral("終了"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {CmdLog, CmdClear, CmdEnd}) buttons->addWidget(b);

  auto* top = new QVBoxLayout;
  top->addWidget(pathFrame);
  top->addWidget(requestFrame);
  top->addLayout(buttons);
  extras()->addLayout(top);

  connect(CmdPath, &QPushButton::clicked, this,
          [this] { guarded(QStringLiteral("CmdPath_Click"), [this] { CmdPath_Click(); }); });
  connect(CmdOutput, &QPushButton::clicked, this,
          [this] { guarded(QStringLiteral("CmdOutput_Click"), [this] { CmdOutput_Click(); }); });
  connect(CmdLog, &QPushButton::clicked, this,
          [this] { guarded(QStringLiteral("CmdLog_Click"), [this] { CmdLog_Click(); }); });
  connect(CmdClear, &QPushButton::clicked, log, &LogModel::Clear);
  connect(CmdEnd, &QPushButton::clicked, this, &QDialog::close);
  session_.setBusy = [this](bool on) {
    setEnabled(!on);
    if (on)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  };
}

bool FenwickForm::guarded(const QString& procedure, const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    MsgBox(this,
           QStringLiteral("システムエラー発生\r\nモジュール  ： %1\r\nエラー内容 ： %2　　")
               .arg(procedure, QString::fromLocal8Bit(e.what())),
           MsgIcon::Critical);
    return false;
  }
}

void FenwickForm::PDQ_COM_OnComm(int event) {
  if (guarded(QStringLiteral("PDQ_COM_OnComm"), [&] { session_.OnComm(event); })) return;
  // As at the end of an exchange.
  Timer1.stop();
  setEnabled(true);
  session_.ExchangeState = FenwickSession::Idle;
}

void FenwickForm::CmdPath_Click() {
#ifdef _WIN32
  const QString start = QStringLiteral("C:\\Program Files\\Kestrel Editor 1J\\CardData\\");
#else
  // The card editor's install folder exists only on its own machines: start
  // from the folder last chosen, while it is there.
  QString start = GetRegString(kRegistryKey, kFolderValue, QString());
  if (start.isEmpty() || !QDir(start).exists()) start = QDir::homePath();
#endif
  // Kind 18 is the one that opens at the start path; the others ignore it.
  const QString folder = BrowseForFolder(this, 18, start);
  if (folder.isEmpty()) return;
#ifndef _WIN32
  SetRegValue(kRegistryKey, kFolderValue, 1, folder);
#endif
  const QStringList files = QDir(folder).entryList({QStringLiteral("*.wmj")}, QDir::Files, QDir::Name);
  if (files.isEmpty()) {
    TxtPath->setText(QDir::toNativeSeparators(folder));
    MsgBox(this, withPath(QStringLiteral("指定フォルダにＷＭＪファイルが見つかりません。"), folder),
           MsgIcon::Exclamation);
    return;
  }
  TxtPath->setText(QDir::toNativeSeparators(QDir(folder).filePath(files.first())));
}

std::optional<FenwickSession::Request> FenwickForm::request() {
  const auto refuse = [this](QLineEdit* where, const QString& message, bool select) {
    MsgBox(this, message, MsgIcon::Exclamation);
    where->setFocus();
    if (select) where->selectAll();
    return std::nullopt;
  };
  const FenwickVariant& v = session_.variant();
  FenwickSession::Request r;
  if (!v.range && !OptOutMode[1]->isChecked()) return r;
  const QList<QLineEdit*> boxes = v.range ? QList<QLineEdit*>{TextStartCH, TextEndCH} : QList<QLineEdit*>{TxtCh};
  QStringList texts;
  for (const QLineEdit* b : boxes) texts.append(b->text());
  if (const EntryCheck c = checkRequest(texts, v.maxChannel, v.rangeMessage); !c.ok)
    return refuse(boxes[c.index], c.message, c.select);
  r.all = false;
  r.first = int(*integerValue(texts.front()));
  r.last = int(*integerValue(texts.back()));
  return r;
}

void FenwickForm::CmdOutput_Click() {
  session_.InitForm();
  const QString path = QDir::fromNativeSeparators(TxtPath->text());
  if (!isScheduleFile(path)) {
    MsgBox(this, withPath(kNoScheduleFile, path), MsgIcon::Exclamation);
    TxtPath->setFocus();
    TxtPath->selectAll();
    return;
  }
  const std::optional<FenwickSession::Request> r = request();
  if (!r) return;
  // The session's own message cannot name the file: say which one here.
  ScheduleTable check = emptySchedule(session_.variant().maxChannel);
  if (!readScheduleFile(path, check)) {
    MsgBox(this, withPath(QStringLiteral("スケジュールファイルの取得に失敗しました。"), path), MsgIcon::Critical);
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);  // while the file is read
  session_.Start(path, *r);
  QApplication::restoreOverrideCursor();
}

void FenwickForm::CmdLog_Click() {
  bool any = false;
  for (int row = 0; row < log->Rows() && !any; ++row) any = !log->TextMatrix(row).trimmed().isEmpty();
  saveLogFile(this, any, chooseLogFile, [this](QIODevice& out) {
    QString text;
    for (int row = 0; row < log->Rows(); ++row) text += log->TextMatrix(row) + QStringLiteral("\r\n");
    const QByteArray bytes = toCp932(text);
    return out.write(bytes) == bytes.size();
  });
}

FrmFenwick::FrmFenwick(const WindowContext& context) : FrmFenwick(context, realPause()) {}

FrmFenwick::FrmFenwick(const WindowContext& context, Pause& pause)
    : FenwickForm(context, pause, kFenwick, QStringLiteral("FrmFenwick")) {
  load(kFenwick.caption);
}

FrmFenwick1000CH::FrmFenwick1000CH(const WindowContext& context) : FrmFenwick1000CH(context, realPause()) {}

FrmFenwick1000CH::FrmFenwick1000CH(const WindowContext& context, Pause& pause)
    : FenwickForm(context, pause, kFenwick1000, QStringLiteral("FrmFenwick1000CH")) {
  load(kFenwick1000.caption);
}

}  // namespace kestrel
