#include "LogGrid.h"

#include "shell/Look.h"

#include <QHeaderView>
#include <QScrollBar>

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
    : QAbstractTableModel(parent), style_(std::move(style)), logRow_(style_.firstLogRow) {
  lines_.resize(std::size_t(qMax(style_.visibleRows - 1, 0)));
}

void LogModel::setRows(int rows) {
  const int current = Rows();
  if (rows > current) {
    beginInsertRows({}, current - 1, rows - 2);
    lines_.resize(std::size_t(rows - 1));
    endInsertRows();
  }
}

void LogModel::AddLog(const QString& text, LineKind kind) {
  const int row = logRow_ + style_.rowOffset;
  QColor background;
  if (kind == LineKind::Sent && style_.sentBackground) background = *style_.sentBackground;
  if (kind == LineKind::Received && style_.receivedBackground) background = *style_.receivedBackground;

  if (style_.insertRows && row <= Rows()) {
    beginInsertRows({}, row - 1, row - 1);
    lines_.insert(lines_.begin() + (row - 1), Line{text, background});
    endInsertRows();
  } else {
    if (row >= Rows()) setRows(row + 1);
    lines_[std::size_t(row - 1)] = Line{text, background};
    const QModelIndex cell = index(row - 1, 0);
    emit dataChanged(cell, cell);
  }

  ++logRow_;
  if (Rows() - 1 <= logRow_) setRows(Rows() + 1);
  if (Rows() >= style_.visibleRows + 1 && topRow_ != Rows() - style_.visibleRows) {
    topRow_ = Rows() - style_.visibleRows;
    emit topRowChanged(topRow_);
  }
}

void LogModel::Clear() {
  beginResetModel();
  lines_.assign(std::size_t(qMax(style_.visibleRows - 1, 0)), Line{});
  logRow_ = style_.firstLogRow;
  topRow_ = 1;
  endResetModel();
  emit topRowChanged(topRow_);
}

QString LogModel::TextMatrix(int row) const {
  if (row == 0) return style_.format;
  return row >= 1 && row < Rows() ? lines_[std::size_t(row - 1)].text : QString();
}

QColor LogModel::CellBackColor(int row) const {
  return row >= 1 && row < Rows() ? lines_[std::size_t(row - 1)].background : QColor();
}

QStringList LogModel::lines() const {
  QStringList out;
  for (const Line& line : lines_)
    if (!line.text.isEmpty()) out.append(line.text);
  return out;
}

int LogModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(lines_.size()); }

int LogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(lines_.size())) return {};
  const Line& line = lines_[std::size_t(index.row())];
  if (role == Qt::DisplayRole) return line.text;
  if (role == Qt::BackgroundRole && line.background.isValid()) return line.background;
  return {};
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section != 0) return {};
  if (role == Qt::DisplayRole) return titleOf(style_.format);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(alignmentOf(style_.format));
  return {};
}

LogGrid::LogGrid(LogModel* model, QWidget* parent) : QTableView(parent), model_(model) {
  setObjectName(QStringLiteral("FG1"));
  setModel(model);
  setEditTriggers(NoEditTriggers);
  setSelectionMode(SingleSelection);
  setVerticalScrollMode(ScrollPerItem);
  setWordWrap(false);
  verticalHeader()->hide();
  // Uniform rows keep a very long log cheap to lay out.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setDefaultAlignment(alignmentOf(model->style().format));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // the window is made wide enough for the column
  setColumnWidth(0, twipsToPixels(model->style().widthTwips, this));

  const int rows = model->style().visibleRows;
  setMinimumHeight(horizontalHeader()->sizeHint().height() + (rows - 1) * verticalHeader()->defaultSectionSize() +
                   2 * frameWidth());
  setMinimumWidth(columnWidth(0) + 2 * frameWidth() + verticalScrollBar()->sizeHint().width());

  connect(model, &LogModel::topRowChanged, this, &LogGrid::followTopRow);
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
        verticalScrollBar()->setValue(model_->TopRow() - 1);
      },
      Qt::QueuedConnection);
}

int LogGrid::visibleTopRow() const { return verticalScrollBar()->value() + 1; }

}  // namespace kestrel
