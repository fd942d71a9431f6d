#include "menu/FrmSettei.h"

#include "link/ComPorts.h"
#include "menu/BenchState.h"
#include "kit/Look.h"
#include "core/LogJournal.h"
#include "core/ModString.h"
#include "core/StoredSetting.h"
#include "kit/MessageService.h"
#include "results/ResultStore.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kestrel {

namespace {
const QStringList kStaff = {
    QStringLiteral("企画　　　佐伯 悠真"), QStringLiteral("設計　　　久保田 梓"), QStringLiteral("開発　　　真壁 亮介"),
    QStringLiteral("開発　　　小野寺 葵"), QStringLiteral("評価　　　杉浦 健吾"),
};
const QString kResultsSection = QStringLiteral("Results");
const QString kResultsName = QStringLiteral("Location");
}  // namespace

QString storedResultsLocation() { return readStoredSetting(kResultsSection, kResultsName); }

bool storeResultsLocation(const QString& text) { return writeStoredSetting(kResultsSection, kResultsName, text); }

QString readReleaseNotes(const QString& folder) {
  QFile file(folder + QDir::separator() + QStringLiteral("release.txt"));
  QString text;
  if (file.open(QIODevice::ReadOnly)) {
    text = fromCp932(file.readAll());
  } else {
    // An installed tester has them where documentation goes, in UTF-8.
    QFile installed(QDir(folder).filePath(QStringLiteral(KESTREL_RELEASE_NOTES_FROM_BIN)));
    if (!installed.open(QIODevice::ReadOnly)) return {};
    text = QString::fromUtf8(installed.readAll());
  }
  QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
  if (lines.size() > 1 && lines.last().isEmpty()) lines.removeLast();  // the final line break ends a line
  return lines.join(u'\n');
}

FrmSettei::FrmSettei(BenchState& bench, QWidget* parent) : QDialog(parent), bench_(bench) {
  setObjectName(QStringLiteral("FrmSettei"));
  setFont(japaneseFont(kGothic));

  Picture1 = new QFrame;
  Picture1->setObjectName(QStringLiteral("Picture1"));
  Picture1->setAutoFillBackground(true);
  Picture1->setStyleSheet(QStringLiteral("#Picture1 { background: #24384f; } QLabel { color: white; }"));
  LblCaption.append(new QLabel(QStringLiteral("Kestrel Tester  設定")));
  LblCaption[0]->setObjectName(QStringLiteral("LblCaption(0)"));
  LblCaption[0]->setFont(japaneseFont(kMincho, 16));
  auto* header = new QHBoxLayout(Picture1);
  header->addWidget(LblCaption[0]);

  StbSettei = new QTabWidget;
  StbSettei->setObjectName(QStringLiteral("StbSettei"));

  // Version information.
  auto* about = new QWidget;
  Label1 = new QLabel(QStringLiteral("バージョン情報"));
  lblModel = new QLabel;
  lblVersion = new QLabel;
  txtRelease = new QPlainTextEdit;
  txtRelease->setObjectName(QStringLiteral("txtRelease"));
  txtRelease->setReadOnly(true);
  txtRelease->setMinimumHeight(110);
  txtRelease->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* staff = new QWidget;  // laid out by hand: the list hangs below its title
  LblStuffTitle = new QLabel(QStringLiteral("開発スタッフ"), staff);
  LblStuff = new QLabel(staff);
  LblStuffTitle->move(0, 0);
  LblStuffTitle->adjustSize();
  LblCredit = {new QLabel(QStringLiteral("企画・開発　Kestrel Tester 開発チーム")),
               new QLabel(QStringLiteral("Copyright (C) Kestrel Tester Developers"))};
  auto* aboutLayout = new QGridLayout(about);
  aboutLayout->addWidget(Label1, 0, 0);
  aboutLayout->addWidget(lblModel, 1, 0);
  aboutLayout->addWidget(lblVersion, 2, 0);
  aboutLayout->addWidget(txtRelease, 3, 0, 1, 2);
  aboutLayout->addWidget(staff, 0, 1, 3, 1);
  aboutLayout->addWidget(LblCredit[0], 4, 0, 1, 2);
  aboutLayout->addWidget(LblCredit[1], 5, 0, 1, 2);
  StbSettei->addTab(about, QStringLiteral("バージョン情報"));

  // Port choice.
  auto* ports = new QWidget;
  auto* portLayout = new QGridLayout(ports);
  auto* portGroup = new QButtonGroup(this);
  for (int i = 0; i < kComPortCount; ++i) {
    auto* option = new QRadioButton(QStringLiteral("COM%1").arg(i + 1));
    option->setObjectName(QStringLiteral("Option1(%1)").arg(i));
    auto* device = new QLabel(QStringLiteral("→ %1").arg(comPortDevice(i + 1)));
    device->setObjectName(QStringLiteral("LblDevice(%1)").arg(i));
    device->setTextInteractionFlags(Qt::TextSelectableByMouse);
    portGroup->addButton(option, i);
    Option1.append(option);
    LblDevice.append(device);
    portLayout->addWidget(option, i, 0);
    portLayout->addWidget(device, i, 1);
    auto* choice = new QComboBox;
    choice->setObjectName(QStringLiteral("CboDevice(%1)").arg(i));
    choice->setAccessibleName(QStringLiteral("COM%1 のポート").arg(i + 1));
    auto* source = new QLabel;
    source->setObjectName(QStringLiteral("LblSource(%1)").arg(i));
    CboDevice.append(choice);
    LblSource.append(source);
    portLayout->addWidget(choice, i, 2);
    portLayout->addWidget(source, i, 3);
    fillDevices(i);
  }
  portLayout->setColumnStretch(1, 1);
  StbSettei->addTab(ports, QStringLiteral("COM設定"));

  // How logs are written; the default is the format other tools read.
  auto* logs = new QWidget;
  auto* logLayout = new QVBoxLayout(logs);
  chk_Utf8Log = new QCheckBox(QStringLiteral("ログを UTF-8（改行 LF）で記録・保存する"));
  chk_Utf8Log->setObjectName(QStringLiteral("chk_Utf8Log"));
  chk_Utf8Log->setChecked(logTextFormat() == LogTextFormat::Utf8Lf);
  auto* logNote = new QLabel(
      QStringLiteral("チェックしない場合は Shift-JIS（改行 CR+LF）です。次に開くテスト画面から有効になります。"));
  logNote->setWordWrap(true);
  logLayout->addWidget(chk_Utf8Log);
  logLayout->addWidget(logNote);
  logLayout->addStretch(1);
  StbSettei->addTab(logs, QStringLiteral("ログ設定"));

  // Where each run's result is kept.
  auto* resultsTab = new QWidget;
  auto* resultsLayout = new QGridLayout(resultsTab);
  auto* resultsLabel = new QLabel(QStringLiteral("結果の保存先"));
  txtResults = new QLineEdit(storedResultsLocation());
  txtResults->setObjectName(QStringLiteral("txtResults"));
  txtResults->setAccessibleName(QStringLiteral("結果の保存先"));
  txtResults->setPlaceholderText(QDir::toNativeSeparators(results::defaultResultsFile()));
  resultsLabel->setBuddy(txtResults);
  auto* resultsNote = new QLabel(
      QStringLiteral("ファイルのパス、または postgresql://ユーザー@ホスト/データベース。空欄は既定のファイルです。"));
  resultsNote->setWordWrap(true);
  LblResultsSource = new QLabel;
  LblResultsSource->setObjectName(QStringLiteral("LblResultsSource"));
  LblResultsSource->setAccessibleName(QStringLiteral("現在の結果の保存先"));
  LblResultsSource->setWordWrap(true);
  LblResultsSource->setTextInteractionFlags(Qt::TextSelectableByMouse);
  {
    QString error;
    const results::Location now = results::Location::parse(results::chooseLocation({}, storedResultsLocation()), &error);
    QString text = QStringLiteral("現在：%1").arg(error.isEmpty() ? now.display() : error);
    if (!qEnvironmentVariableIsEmpty("KESTREL_RESULTS"))
      text += QStringLiteral("（環境変数 KESTREL_RESULTS を使用中）");
    LblResultsSource->setText(text);
  }
  LblResultsError = new QLabel;
  LblResultsError->setObjectName(QStringLiteral("LblResultsError"));
  LblResultsError->setAccessibleName(QStringLiteral("結果の保存先のエラー"));
  LblResultsError->setWordWrap(true);
  LblResultsError->setStyleSheet(QStringLiteral("color: #c00000"));
  LblResultsError->hide();
  resultsLayout->addWidget(resultsLabel, 0, 0);
  resultsLayout->addWidget(txtResults, 0, 1);
  resultsLayout->addWidget(resultsNote, 1, 0, 1, 2);
  resultsLayout->addWidget(LblResultsSource, 2, 0, 1, 2);
  resultsLayout->addWidget(LblResultsError, 3, 0, 1, 2);
  resultsLayout->setRowStretch(4, 1);
  resultsLayout->setColumnStretch(1, 1);
  StbSettei->addTab(resultsTab, QStringLiteral("結果設定"));

  CmdOk = new QPushButton(QStringLiteral("ＯＫ"));
  CmdOk->setObjectName(QStringLiteral("CmdOk"));
  CmdCancel = new QPushButton(QStringLiteral("中止"));
  CmdCancel->setObjectName(QStringLiteral("CmdCancel"));
  connect(CmdOk, &QPushButton::clicked, this, &FrmSettei::CmdOk_Click);
  connect(CmdCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(CmdOk);
  buttons->addWidget(CmdCancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Picture1);
  setMinimumWidth(520);
  layout->addWidget(StbSettei, 1);
  layout->addLayout(buttons);

  // Load.
  setShiftJisCharset(this);
  txtRelease->setPlainText(readReleaseNotes(bench_.AppFolder));
  setWindowTitle(QStringLiteral("Kestrel Tester") + QStringLiteral("  設定"));
  lblModel->setText(QStringLiteral("MODEL  ") + QStringLiteral("Kestrel Tester"));
  lblVersion->setText(QStringLiteral("Version  %1.%2%3")
                          .arg(KESTREL_VERSION_MAJOR)
                          .arg(KESTREL_VERSION_MINOR)
                          .arg(KESTREL_VERSION_PATCH));
  LblStuff->setText(kStaff.join(QStringLiteral("\n")));
  LblStuff->adjustSize();
  LblStuff->move(LblStuffTitle->x(), LblStuffTitle->y() + LblStuffTitle->height() + twipsToPixels(120, this));
  staff->setMinimumSize(qMax(LblStuffTitle->width(), LblStuff->width()), LblStuff->y() + LblStuff->height());
  StbSettei->setCurrentIndex(0);
  const int port = bench_.ComPortNumber;
  if (port >= 1 && port <= kComPortCount) Option1[port - 1]->setChecked(true);
}

void FrmSettei::fillDevices(int index) {
  const int number = index + 1;
  QComboBox* choice = CboDevice[index];
  // The first entry keeps no choice: the number means the built-in port.
  choice->addItem(QStringLiteral("既定 (%1)").arg(defaultComPortDevice(number)), QString());
  for (const SerialPortEntry& port : serialPorts()) {
    QString text = port.device;
    if (!port.byIdName.isEmpty()) text += QStringLiteral("  ") + port.byIdName;
    if (!port.description.isEmpty()) text += QStringLiteral("  ") + port.description;
    // The stable name survives a re-plug that renumbers ttyUSB devices.
    choice->addItem(text, port.byIdName.isEmpty() ? port.device : port.byIdName);
  }
  const QString stored = storedComPortDevice(number);
  if (!stored.isEmpty()) {
    int at = choice->findData(stored);
    if (at < 0) {  // kept for a port that is not here now: keep it
      choice->addItem(QStringLiteral("%1  (見つかりません)").arg(stored), stored);
      at = choice->count() - 1;
    }
    choice->setCurrentIndex(at);
  }
  // Where the number goes follows the choice, unless the environment decides.
  connect(choice, &QComboBox::currentIndexChanged, this, [this, index, number] {
    if (comPortSource(number) == ComPortSource::Environment) return;
    const QString chosen = CboDevice[index]->currentData().toString();
    LblDevice[index]->setText(QStringLiteral("→ %1").arg(chosen.isEmpty() ? defaultComPortDevice(number) : chosen));
  });
  if (comPortSource(number) == ComPortSource::Environment) {
    choice->setEnabled(false);
    LblSource[index]->setText(QStringLiteral("環境変数 %1 を使用中").arg(comPortVariable(number)));
    LblSource[index]->setToolTip(QStringLiteral("環境変数 %1 が設定されているため、ここでの選択より優先されます。")
                                     .arg(comPortVariable(number)));
  }
}

void FrmSettei::CmdOk_Click() {
  // A location that names no store is not taken: nothing else is either.
  const QString location = txtResults->text().trimmed();
  if (!location.isEmpty()) {
    QString error;
    results::Location::parse(location, &error);
    if (!error.isEmpty()) {
      const QString text = QStringLiteral("結果の保存先が正しくありません：%1").arg(error);
      LblResultsError->setText(text);
      LblResultsError->setAccessibleDescription(text);
      LblResultsError->show();
      StbSettei->setCurrentWidget(txtResults->parentWidget());
      txtResults->setFocus();
      txtResults->selectAll();
      return;
    }
  }
  LblResultsError->hide();
  for (int i = 0; i < Option1.size(); ++i) {
    if (Option1[i]->isChecked()) bench_.ComPortNumber = qint16(i + 1);
  }
  QStringList unsaved;
  for (int i = 0; i < CboDevice.size(); ++i) {
    const QString chosen = CboDevice[i]->currentData().toString();
    if (chosen == storedComPortDevice(i + 1)) continue;
    if (!storeComPortDevice(i + 1, chosen)) unsaved.append(QStringLiteral("COM%1").arg(i + 1));
  }
  const LogTextFormat format = chk_Utf8Log->isChecked() ? LogTextFormat::Utf8Lf : LogTextFormat::Cp932Crlf;
  if (format != logTextFormat() && !setLogTextFormat(format)) unsaved.append(QStringLiteral("ログ設定"));
  if (location != storedResultsLocation() && !storeResultsLocation(location)) unsaved.append(QStringLiteral("結果設定"));
  if (!unsaved.isEmpty())
    MsgBox(this, QStringLiteral("設定を保存できませんでした。\n") + unsaved.join(u' '), MsgIcon::Exclamation);
  accept();
}

}  // namespace kestrel
