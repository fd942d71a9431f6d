#include "menu/FrmResults.h"

#include "core/LogJournal.h"
#include "core/ModString.h"
#include "kit/Look.h"
#include "sessions/ModeCatalogue.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kestrel {

namespace {

const QString kNotFound = QStringLiteral("journal not found");

QString ms(double value) { return QString::number(value, 'f', 1); }

QString spreadLine(const QString& what, const Spread& s) {
  return QStringLiteral("%1：%2 件　最小 %3　中央値 %4　95% %5　最大 %6 ms")
      .arg(what)
      .arg(s.count)
      .arg(ms(s.min), ms(s.median), ms(s.p95), ms(s.max));
}

}  // namespace

QString measurementText(const Measurements& m) {
  QStringList lines{measurementLine(m)};
  lines << spreadLine(QStringLiteral("応答時間"), m.answers());
  if (!m.busyMs.empty() || m.busyWaits > 0) lines << spreadLine(QStringLiteral("BUSY時間"), m.busy());
  if (!m.ngChannels.isEmpty()) {
    QStringList ng;
    for (int c : m.ngChannels) ng << QString::number(c);
    lines << QStringLiteral("NG CH：%1").arg(ng.join(u','));
  }
  return lines.join(u'\n');
}

QString journalTail(const QString& path, qint64 limit) {
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return kNotFound;
  const qint64 size = file.size();
  const bool cut = size > limit;
  if (cut && !file.seek(size - limit)) return kNotFound;
  QByteArray bytes = file.read(limit);
  // A cut may fall inside a character: start at the next whole line.
  if (cut) bytes.remove(0, bytes.indexOf('\n') + 1);
  return logTextFormat() == LogTextFormat::Utf8Lf ? QString::fromUtf8(bytes) : fromCp932(bytes);
}

FrmResults::FrmResults(const QString& location, QWidget* parent) : QDialog(parent), location_(location) {
  setObjectName(QStringLiteral("FrmResults"));
  setFont(japaneseFont(kGothic));
  setWindowTitle(QStringLiteral("結果一覧"));

  TxtDut = new QLineEdit;
  TxtDut->setObjectName(QStringLiteral("TxtDut"));
  TxtDut->setAccessibleName(QStringLiteral("DUT で絞り込み"));
  // Room for a serial number; the modes' long captions must not take it.
  TxtDut->setMinimumWidth(TxtDut->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 14);
  CboMode = new QComboBox;
  CboMode->setObjectName(QStringLiteral("CboMode"));
  CboMode->setAccessibleName(QStringLiteral("モードで絞り込み"));
  CboMode->addItem(QStringLiteral("すべて"), -1);
  for (int i = 0; i < kModeCount; ++i)
    CboMode->addItem(QStringLiteral("%1  %2").arg(i).arg(kModeCatalogue[std::size_t(i)].caption), i);
  CboVerdict = new QComboBox;
  CboVerdict->setObjectName(QStringLiteral("CboVerdict"));
  CboVerdict->setAccessibleName(QStringLiteral("判定で絞り込み"));
  CboVerdict->addItems({QStringLiteral("すべて"), QStringLiteral("合格"), QStringLiteral("不合格")});
  chk_Since = new QCheckBox(QStringLiteral("開始日"));
  chk_Since->setObjectName(QStringLiteral("chk_Since"));
  chk_Since->setAccessibleName(QStringLiteral("開始日で絞り込む"));
  DateSince = new QDateEdit(QDate::currentDate());
  DateSince->setObjectName(QStringLiteral("DateSince"));
  DateSince->setAccessibleName(QStringLiteral("この日以降"));
  DateSince->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
  DateSince->setCalendarPopup(true);
  // The style's size hint leaves the date's last digit under the button.
  DateSince->setMinimumWidth(DateSince->sizeHint().width() + DateSince->fontMetrics().horizontalAdvance(QLatin1Char('0')));
  DateSince->setEnabled(false);
  connect(chk_Since, &QCheckBox::toggled, DateSince, &QWidget::setEnabled);
  CmdRefresh = new QPushButton(QStringLiteral("更新"));
  CmdRefresh->setObjectName(QStringLiteral("CmdRefresh"));
  CmdRefresh->setAccessibleName(QStringLiteral("更新"));
  connect(CmdRefresh, &QPushButton::clicked, this, &FrmResults::Refresh);

  auto* filters = new QHBoxLayout;
  auto* dutLabel = new QLabel(QStringLiteral("DUT"));
  dutLabel->setBuddy(TxtDut);
  auto* modeLabel = new QLabel(QStringLiteral("モード"));
  modeLabel->setBuddy(CboMode);
  auto* verdictLabel = new QLabel(QStringLiteral("判定"));
  verdictLabel->setBuddy(CboVerdict);
  filters->addWidget(dutLabel);
  filters->addWidget(TxtDut, 1);
  filters->addWidget(modeLabel);
  filters->addWidget(CboMode, 1);
  CboMode->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  CboMode->setMinimumContentsLength(16);
  filters->addWidget(verdictLabel);
  filters->addWidget(CboVerdict);
  filters->addWidget(chk_Since);
  filters->addWidget(DateSince);
  filters->addWidget(CmdRefresh);

  LblStatus = new QLabel;
  LblStatus->setObjectName(QStringLiteral("LblStatus"));
  LblStatus->setAccessibleName(QStringLiteral("結果の保存先の状態"));
  LblStatus->setWordWrap(true);
  LblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

  GrdRuns = new QTableWidget(0, 6);
  GrdRuns->setObjectName(QStringLiteral("GrdRuns"));
  GrdRuns->setAccessibleName(QStringLiteral("結果の一覧"));
  GrdRuns->setHorizontalHeaderLabels({QStringLiteral("開始"), QStringLiteral("ステーション"), QStringLiteral("DUT"),
                                      QStringLiteral("モード"), QStringLiteral("判定"), QStringLiteral("理由")});
  GrdRuns->setEditTriggers(QAbstractItemView::NoEditTriggers);
  GrdRuns->setSelectionBehavior(QAbstractItemView::SelectRows);
  GrdRuns->setSelectionMode(QAbstractItemView::SingleSelection);
  GrdRuns->verticalHeader()->hide();
  GrdRuns->horizontalHeader()->setStretchLastSection(true);
  connect(GrdRuns, &QTableWidget::currentCellChanged, this, [this](int row) { showRun(row); });

  TxtMeasure = new QPlainTextEdit;
  TxtMeasure->setObjectName(QStringLiteral("TxtMeasure"));
  TxtMeasure->setAccessibleName(QStringLiteral("測定値"));
  TxtMeasure->setReadOnly(true);
  TxtMeasure->setMaximumHeight(90);
  LblJournal = new QLabel;
  LblJournal->setObjectName(QStringLiteral("LblJournal"));
  LblJournal->setAccessibleName(QStringLiteral("ログの記録ファイル"));
  LblJournal->setTextInteractionFlags(Qt::TextSelectableByMouse);
  TxtJournal = new QPlainTextEdit;
  TxtJournal->setObjectName(QStringLiteral("TxtJournal"));
  TxtJournal->setAccessibleName(QStringLiteral("ログ"));
  TxtJournal->setReadOnly(true);
  TxtJournal->setLineWrapMode(QPlainTextEdit::NoWrap);

  CmdClose = new QPushButton(QStringLiteral("閉じる"));
  CmdClose->setObjectName(QStringLiteral("CmdClose"));
  CmdClose->setAccessibleName(QStringLiteral("閉じる"));
  connect(CmdClose, &QPushButton::clicked, this, &QDialog::accept);
  auto* closeRow = new QHBoxLayout;
  closeRow->addStretch(1);
  closeRow->addWidget(CmdClose);

  auto* details = new QWidget;
  auto* detailLayout = new QVBoxLayout(details);
  detailLayout->setContentsMargins(0, 0, 0, 0);
  detailLayout->addWidget(TxtMeasure);
  detailLayout->addWidget(LblJournal);
  detailLayout->addWidget(TxtJournal, 1);
  auto* split = new QSplitter(Qt::Vertical);
  split->addWidget(GrdRuns);
  split->addWidget(details);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(LblStatus);
  layout->addWidget(split, 1);
  layout->addLayout(closeRow);
  resize(900, 640);

  // No default button: Return in the DUT box filters, nothing else.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  connect(TxtDut, &QLineEdit::returnPressed, this, &FrmResults::Refresh);
  Refresh();
}

FrmResults::~FrmResults() = default;

void FrmResults::showError(const QString& text) {
  setStatus(LblStatus, text);
  LblStatus->setStyleSheet(QStringLiteral("color: #c00000"));
}

void FrmResults::Refresh() {
  GrdRuns->setRowCount(0);
  runs_.clear();
  TxtMeasure->clear();
  TxtJournal->clear();
  LblJournal->clear();
  QString error;
  const results::Location where = results::Location::parse(location_, &error);
  if (!error.isEmpty()) {
    showError(QStringLiteral("結果の保存先が正しくありません：%1").arg(error));
    return;
  }
  if (!store_) {
    store_ = results::Store::open(where, &error, kConnectTimeoutS);
    if (!store_) {
      showError(QStringLiteral("結果の保存先を開けません：%1：%2").arg(where.display(), error));
      return;
    }
  }
  results::Filter filter;
  filter.dut = TxtDut->text().trimmed();
  if (const int mode = CboMode->currentData().toInt(); mode >= 0) filter.mode = mode;
  if (CboVerdict->currentIndex() > 0) filter.pass = CboVerdict->currentIndex() == 1;
  if (chk_Since->isChecked()) filter.since = DateSince->date().startOfDay().toUTC();
  filter.limit = kListLimit;
  runs_ = store_->list(filter, &error);
  if (!error.isEmpty()) {
    runs_.clear();
    // A server that went away is opened again at the next 更新.
    store_.reset();
    showError(QStringLiteral("結果を読めません：%1：%2").arg(where.display(), error));
    return;
  }
  GrdRuns->setRowCount(int(runs_.size()));
  for (int row = 0; row < int(runs_.size()); ++row) {
    const results::Record& r = runs_[std::size_t(row)];
    const QStringList cells{r.started.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")),
                            r.station,
                            r.dut,
                            QString::number(r.mode),
                            r.pass ? QStringLiteral("合格") : QStringLiteral("不合格"),
                            r.reason};
    for (int column = 0; column < cells.size(); ++column)
      GrdRuns->setItem(row, column, new QTableWidgetItem(cells[column]));
  }
  GrdRuns->resizeColumnsToContents();
  setStatus(LblStatus, QStringLiteral("%1：%2 件").arg(where.display()).arg(runs_.size()));
  LblStatus->setStyleSheet({});
}

void FrmResults::showRun(int row) {
  if (row < 0 || row >= int(runs_.size())) {
    TxtMeasure->clear();
    TxtJournal->clear();
    LblJournal->clear();
    return;
  }
  const results::Record& r = runs_[std::size_t(row)];
  TxtMeasure->setPlainText(measurementText(r.measured));
  setStatus(LblJournal, QDir::toNativeSeparators(r.journal));
  TxtJournal->setPlainText(journalTail(r.journal, kJournalTail));
}

}  // namespace kestrel
