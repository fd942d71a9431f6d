#include "kit/LogGrid.h"

#include "kit/Look.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
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

}  // namespace

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
  if (role == Qt::DisplayRole) return lines_[std::size_t(index.row())].text;
  if (role == Qt::BackgroundRole && CellBackColor(row).isValid()) return CellBackColor(row);
  if (role == Qt::ForegroundRole && CellForeColor(row).isValid()) return CellForeColor(row);
  return {};
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section != 0 || !style_.header) return {};
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
