#include "kit/LogGrid.h"

#include "kit/Look.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace kestrel {

namespace {

Qt::Alignment alignmentOf(const QString& format) {
  if (format.startsWith(u'^')) return Qt::AlignHCenter | Qt::AlignVCenter;
  if (format.startsWith(u'>')) return Qt::AlignRight | Qt::AlignVCenter;
  return Qt::AlignLeft | Qt::AlignVCenter;
}

QString titleOf(const QString& format) {
  return format.startsWith(u'<') || format.startsWith(u'^') || format.startsWith(u'>') ? format.mid(1) : format;
}

bool setsColours(const LogGridStyle& style) {
  return std::any_of(style.colours.begin(), style.colours.end(),
                     [](const LineColours& c) { return c.background || c.text; });
}

// Kind colours for a grid whose window chose none.
class KindColourDelegate : public QStyledItemDelegate {
 public:
  explicit KindColourDelegate(LogGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QColor colour = grid_->textColour(index.row());
    if (colour.isValid()) option->palette.setColor(QPalette::Text, colour);
  }

 private:
  LogGrid* grid_;
};

}  // namespace

QString lineHexDump(const QByteArray& bytes) {
  QStringList lines;
  for (qsizetype at = 0; at < bytes.size(); at += 16) {
    QString line = QStringLiteral("%1 ").arg(at, 4, 16, QLatin1Char('0')).toUpper();
    for (qsizetype i = at; i < at + 16 && i < bytes.size(); ++i)
      line += QStringLiteral(" %1").arg(quint8(bytes[i]), 2, 16, QLatin1Char('0')).toUpper();
    lines.append(line);
  }
  return lines.join(u'\n');
}

QString lineKindName(LineKind kind) {
  switch (kind) {
    case LineKind::Sent: return QStringLiteral("送信");
    case LineKind::Received: return QStringLiteral("受信");
    case LineKind::Note: return QStringLiteral("注記");
    case LineKind::Info: return QStringLiteral("情報");
    case LineKind::Error: return QStringLiteral("エラー");
    case LineKind::Judged: return QStringLiteral("判定");
    case LineKind::JudgedNg: return QStringLiteral("判定NG");
    case LineKind::Fault: return QStringLiteral("障害");
  }
  return {};
}

QColor defaultLineColour(LineKind kind) {
  switch (kind) {
    case LineKind::Sent: return QColor(0x00, 0x00, 0x80);
    case LineKind::Received: return QColor(0x00, 0x60, 0x00);
    case LineKind::Note: return QColor(0x60, 0x60, 0x60);
    case LineKind::Info: return QColor(0x00, 0x50, 0x90);
    case LineKind::Error: return QColor(0xC0, 0x00, 0x00);
    case LineKind::Judged: return QColor(0x00, 0x70, 0x00);
    case LineKind::JudgedNg: return QColor(0xC0, 0x00, 0x00);
    case LineKind::Fault: return QColor(0xA0, 0x00, 0x50);
  }
  return {};
}

LogModel::LogModel(LogGridStyle style, QObject* parent)
    : QAbstractTableModel(parent), style_(std::move(style)), logRow_(style_.firstLogRow), topRow_(headerRows()) {
  lines_.resize(std::size_t(qMax(style_.visibleRows - headerRows(), 0)));
}

const LogModel::Line* LogModel::line(int row) const {
  const int i = row - firstKeptRow();
  return i >= 0 && i < int(lines_.size()) ? &lines_[std::size_t(i)] : nullptr;
}

void LogModel::setRows(int rows) {
  const int current = Rows();
  if (rows > current) {
    beginInsertRows({}, current - firstKeptRow(), rows - 1 - firstKeptRow());
    lines_.resize(std::size_t(rows - firstKeptRow()));
    endInsertRows();
  }
}

void LogModel::AddLog(const QString& text, LineKind kind) {
  if (style_.clearAfter > 0 && logRow_ > style_.clearAfter) reset();
  const qint64 stamp = QDateTime::currentMSecsSinceEpoch();
  if (journal_) journal_->append(stamp, text);
  ++sinceClear_;
  const int row = logRow_ + style_.rowOffset;
  const int at = row - firstKeptRow();

  if (style_.insertRows && row <= Rows()) {
    beginInsertRows({}, at, at);
    lines_.insert(lines_.begin() + at, Line{text, stamp, kind});
    endInsertRows();
  } else {
    if (row >= Rows()) setRows(row + 1);
    lines_[std::size_t(at)] = Line{text, stamp, kind};
    const QModelIndex cell = index(at, 0);
    emit dataChanged(cell, cell);
  }

  ++logRow_;
  if (Rows() - 1 <= logRow_) setRows(Rows() + 1);
  if (int(lines_.size()) - style_.maxLines > style_.maxLines / 8) dropOldest();
  if (Rows() >= style_.visibleRows + 1 && topRow_ != Rows() - style_.visibleRows) {
    topRow_ = Rows() - style_.visibleRows;
    emit topRowChanged(topRow_);
  }
}

void LogModel::dropOldest() {
  // A slice at a time: the rows behind the kept ones move once per slice.
  const int count = int(lines_.size()) - style_.maxLines;
  beginRemoveRows({}, 0, count - 1);
  lines_.erase(lines_.begin(), lines_.begin() + count);
  dropped_ += count;
  endRemoveRows();
}

void LogModel::reset() {
  beginResetModel();
  lines_.assign(std::size_t(qMax(style_.visibleRows - headerRows(), 0)), Line{});
  dropped_ = 0;
  logRow_ = style_.firstLogRow;
  topRow_ = headerRows();
  endResetModel();
  emit topRowChanged(topRow_);
}

void LogModel::Clear() {
  reset();
  sinceClear_ = 0;
  if (journal_) journal_->markClear();
}

void LogModel::setJournal(std::unique_ptr<LogJournal> journal) { journal_ = std::move(journal); }

bool LogModel::writeSinceClear(QIODevice& out) const {
  if (journal_ && !journal_->failed()) return journal_->copySinceClear(out);
  LogLineEncoder encoder(textFormat_);
  for (const Line& l : lines_)
    if (!l.text.isEmpty() && out.write(encoder.line(l.stamp, l.text)) < 0) return false;
  return true;
}

QString LogModel::lineText(int viewRow) const {
  return viewRow >= 0 && viewRow < int(lines_.size()) ? lines_[std::size_t(viewRow)].text : QString();
}

QString LogModel::TextMatrix(int row) const {
  if (row == 0 && style_.header) return style_.format;
  const Line* l = line(row);
  return l ? l->text : QString();
}

QColor LogModel::colour(int row, std::optional<QColor> LineColours::*which) const {
  const Line* l = line(row);
  if (!l || l->text.isEmpty()) return {};
  return (style_.colours[std::size_t(l->kind)].*which).value_or(QColor());
}

QColor LogModel::CellBackColor(int row) const { return colour(row, &LineColours::background); }

QColor LogModel::CellForeColor(int row) const { return colour(row, &LineColours::text); }

QStringList LogModel::lines() const {
  QStringList out;
  for (const Line& l : lines_)
    if (!l.text.isEmpty()) out.append(l.text);
  return out;
}

int LogModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(lines_.size()); }

int LogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(lines_.size())) return {};
  const int row = index.row() + firstKeptRow();
  const Line& l = lines_[std::size_t(index.row())];
  if (role == Qt::DisplayRole) return l.text;
  if (role == KindRole) return l.text.isEmpty() ? QVariant() : QVariant(int(l.kind));
  if (role == StampRole) return l.text.isEmpty() ? QVariant() : QVariant(l.stamp);
  if (role == Qt::BackgroundRole && CellBackColor(row).isValid()) return CellBackColor(row);
  if (role == Qt::ForegroundRole && CellForeColor(row).isValid()) return CellForeColor(row);
  return {};
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    // The time of each line, for a view that shows it beside the line.
    if (role != Qt::DisplayRole || section < 0 || section >= int(lines_.size())) return {};
    const Line& l = lines_[std::size_t(section)];
    if (l.text.isEmpty()) return QString();
    return QDateTime::fromMSecsSinceEpoch(l.stamp).toString(QStringLiteral("HH:mm:ss.zzz"));
  }
  if (section != 0 || !style_.header) return {};
  if (role == Qt::DisplayRole) return titleOf(style_.format);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(alignmentOf(style_.format));
  return {};
}

LogGrid::LogGrid(LogModel* model, QWidget* parent) : QTableView(parent), model_(model) {
  setObjectName(QStringLiteral("FG1"));
  setAccessibleName(model->style().accessibleName);
  setModel(model);
  setEditTriggers(NoEditTriggers);
  setSelectionMode(ExtendedSelection);
  setSelectionBehavior(SelectRows);
  setVerticalScrollMode(ScrollPerItem);
  setWordWrap(false);
  verticalHeader()->hide();
  if (!model->style().header) horizontalHeader()->hide();
  // Uniform rows keep a very long log cheap to lay out.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setDefaultAlignment(alignmentOf(model->style().format));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // the window is made wide enough for the column
  setColumnWidth(0, twipsToPixels(model->style().widthTwips, this));

  const int rows = model->style().visibleRows;
  const int header = model->style().header ? horizontalHeader()->sizeHint().height() : 0;
  const int dataRows = model->style().header ? rows - 1 : rows;
  setMinimumHeight(header + dataRows * verticalHeader()->defaultSectionSize() + 2 * frameWidth());
  setMinimumWidth(columnWidth(0) + 2 * frameWidth() + verticalScrollBar()->sizeHint().width());

  connect(model, &LogModel::topRowChanged, this, &LogGrid::followTopRow);

  auto* copy = new QAction(QStringLiteral("選択行をコピー"), this);
  connect(copy, &QAction::triggered, this, &LogGrid::copySelection);
  addAction(copy);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  // Kind colours only where the window chose none of its own.
  kindColours_ = !setsColours(model->style());
  if (kindColours_) setItemDelegate(new KindColourDelegate(this));

  shown_.fill(true);
  findAction_ = new QAction(QStringLiteral("検索..."), this);
  findAction_->setShortcut(QKeySequence::Find);
  findAction_->setShortcutContext(Qt::WindowShortcut);
  connect(findAction_, &QAction::triggered, this, &LogGrid::showFindBar);
  addAction(findAction_);
  stampAction_ = new QAction(QStringLiteral("時刻を表示"), this);
  stampAction_->setCheckable(true);
  connect(stampAction_, &QAction::toggled, this, &LogGrid::setShowStamps);
  addAction(stampAction_);
  hexAction_ = new QAction(QStringLiteral("16進表示..."), this);
  connect(hexAction_, &QAction::triggered, this, &LogGrid::showHex);
  addAction(hexAction_);
  auto* kinds = new QMenu(QStringLiteral("表示する行"), this);
  for (std::size_t k = 0; k < kLineKinds; ++k) {
    QAction* a = kinds->addAction(lineKindName(LineKind(k)));
    a->setCheckable(true);
    a->setChecked(true);
    connect(a, &QAction::toggled, this, [this, k](bool on) { setKindShown(LineKind(k), on); });
    kindActions_[k] = a;
  }
  addAction(kinds->menuAction());

  connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from, const QModelIndex& to) {
    if (showStamps()) verticalHeader()->viewport()->update();
    if (filtering()) applyFilter(from.row(), to.row());
  });
  connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
    if (filtering()) applyFilter(first, last);
  });
  connect(model, &QAbstractItemModel::modelReset, this, [this] {
    if (filtering()) applyFilter(0, model_->rowCount() - 1);
  });

  findBar_ = new LogFindBar(this);
  findBar_->hide();
  connect(findBar_->CmdNext, &QToolButton::clicked, this, [this] { find(findBar_->TxtFind->text()); });
  connect(findBar_->CmdPrevious, &QToolButton::clicked, this, [this] { find(findBar_->TxtFind->text(), true); });
  connect(findBar_->TxtFind, &QLineEdit::returnPressed, this, [this] { find(findBar_->TxtFind->text()); });
}

LogFindBar::LogFindBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LogFindBar"));
  setAutoFillBackground(true);
  TxtFind = new QLineEdit;
  TxtFind->setObjectName(QStringLiteral("TxtFind"));
  TxtFind->setAccessibleName(QStringLiteral("ログの検索"));
  TxtFind->setPlaceholderText(QStringLiteral("検索"));
  CmdNext = new QToolButton;
  CmdNext->setObjectName(QStringLiteral("CmdFindNext"));
  CmdNext->setText(QStringLiteral("次へ"));
  CmdNext->setToolTip(QStringLiteral("次を検索 (Enter)"));
  CmdPrevious = new QToolButton;
  CmdPrevious->setObjectName(QStringLiteral("CmdFindPrevious"));
  CmdPrevious->setText(QStringLiteral("前へ"));
  auto* close = new QToolButton;
  close->setText(QStringLiteral("×"));
  close->setAccessibleName(QStringLiteral("検索を閉じる"));
  connect(close, &QToolButton::clicked, this, &QWidget::hide);
  LblFound = new QLabel;
  LblFound->setObjectName(QStringLiteral("LblFound"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->addWidget(TxtFind, 1);
  layout->addWidget(CmdPrevious);
  layout->addWidget(CmdNext);
  layout->addWidget(LblFound);
  layout->addWidget(close);
}

void LogFindBar::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    hide();
    if (parentWidget()) parentWidget()->setFocus();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void LogGrid::showFindBar() {
  placeFindBar();
  findBar_->show();
  findBar_->raise();
  findBar_->TxtFind->setFocus();
  findBar_->TxtFind->selectAll();
}

void LogGrid::placeFindBar() {
  const QRect area = viewport()->geometry();
  const int height = findBar_->sizeHint().height();
  findBar_->setGeometry(area.left(), area.bottom() + 1 - height, area.width(), height);
}

void LogGrid::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  if (findBar_ && findBar_->isVisible()) placeFindBar();
}

bool LogGrid::find(const QString& text, bool backwards) {
  const int rows = model_->rowCount();
  if (text.isEmpty() || rows == 0) {
    findBar_->LblFound->clear();
    return false;
  }
  const int current = currentIndex().isValid() ? currentIndex().row() : (backwards ? rows : -1);
  for (int step = 1; step <= rows; ++step) {
    const int row = ((backwards ? current - step : current + step) % rows + rows) % rows;
    if (isRowHidden(row) || !model_->lineText(row).contains(text, Qt::CaseInsensitive)) continue;
    const QModelIndex at = model_->index(row, 0);
    setCurrentIndex(at);
    selectionModel()->select(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(at);
    findBar_->LblFound->clear();
    return true;
  }
  findBar_->LblFound->setText(QStringLiteral("見つかりません"));
  return false;
}

void LogGrid::setShowStamps(bool on) {
  if (stampAction_->isChecked() != on) stampAction_->setChecked(on);  // comes back here through toggled
  verticalHeader()->setVisible(on);
}

QColor LogGrid::textColour(int viewRow) const {
  const QModelIndex at = model_->index(viewRow, 0);
  const QVariant set = at.data(Qt::ForegroundRole);
  if (set.isValid()) return set.value<QColor>();
  const QVariant kind = at.data(LogModel::KindRole);
  return kindColours_ && kind.isValid() ? defaultLineColour(LineKind(kind.toInt())) : QColor();
}

bool LogGrid::showStamps() const { return !verticalHeader()->isHidden(); }

bool LogGrid::filtering() const {
  return std::any_of(shown_.begin(), shown_.end(), [](bool shown) { return !shown; });
}

void LogGrid::setKindShown(LineKind kind, bool shown) {
  const std::size_t k = std::size_t(kind);
  if (shown_[k] == shown) return;
  shown_[k] = shown;
  if (kindActions_[k]->isChecked() != shown) kindActions_[k]->setChecked(shown);
  applyFilter(0, model_->rowCount() - 1);
}

void LogGrid::applyFilter(int first, int last) {
  // Rows not yet written stay shown: the grid's documented empty rows.
  for (int row = qMax(first, 0); row <= last && row < model_->rowCount(); ++row) {
    const QVariant kind = model_->index(row, 0).data(LogModel::KindRole);
    setRowHidden(row, kind.isValid() && !shown_[std::size_t(kind.toInt())]);
  }
}

void LogGrid::showHex() {
  const QModelIndex at = currentIndex();
  const QString text = at.isValid() ? model_->lineText(at.row()) : QString();
  if (text.isEmpty()) return;
  // The bytes as a saved log holds them.
  QStringEncoder encoder(model_->textFormat() == LogTextFormat::Utf8Lf ? "UTF-8" : "windows-31j");
  const QByteArray bytes = encoder.encode(text);
  auto* dialog = new QDialog(this);
  dialog->setObjectName(QStringLiteral("LogHexView"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("16進表示"));
  auto* line = new QLabel(text);
  line->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* dump = new QPlainTextEdit(lineHexDump(bytes));
  dump->setObjectName(QStringLiteral("TxtHex"));
  dump->setReadOnly(true);
  dump->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(line);
  layout->addWidget(dump);
  dialog->resize(520, 200);
  dialog->show();
}

void LogGrid::followTopRow() {
  // Once per pass of the event loop: a burst of lines scrolls once.
  if (scrollPending_) return;
  scrollPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        scrollPending_ = false;
        updateGeometries();  // the scroll range must include the rows just added
        verticalScrollBar()->setValue(model_->TopRow() - model_->firstKeptRow());
      },
      Qt::QueuedConnection);
}

int LogGrid::visibleTopRow() const { return verticalScrollBar()->value() + model_->firstKeptRow(); }

void LogGrid::copySelection() {
  QModelIndexList rows = selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList text;
  for (const QModelIndex& row : rows)
    if (const QString line = model_->lineText(row.row()); !line.isEmpty()) text.append(line);
  if (!text.isEmpty()) QApplication::clipboard()->setText(text.join(u'\n') + u'\n');
}

void LogGrid::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    copySelection();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace kestrel
