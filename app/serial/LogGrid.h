#pragma once
// The communication log: one column, one line per event, no time stamps.

#include "LogSink.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>
#include <array>
#include <optional>
#include <vector>

namespace kestrel {

struct LineColours {
  std::optional<QColor> background{};
  std::optional<QColor> text{};
};

// How a window's grid grows and scrolls. Rows are counted as the grid counts
// them: with a header, row 0 is the header and data rows start at 1.
struct LogGridStyle {
  bool header = true;
  QString format = QStringLiteral("<テスト状況");  // '<' left, '^' centre, '>' right
  int widthTwips = 8200;
  int visibleRows = 13;     // header included; also the row count after a clear
  int rowOffset = 0;        // 1: a line goes into row LogRow + 1
  int firstLogRow = 1;      // LogRow after a clear
  bool insertRows = false;  // a line is inserted as a new row at its row
  int clearAfter = 0;       // a LogRow beyond this clears the grid first; 0: never
  std::array<LineColours, kLineKinds> colours{};
  // Read by screen readers and UI automation.
  QString accessibleName = QStringLiteral("テスト状況");
};

class LogModel : public QAbstractTableModel, public LogSink {
  Q_OBJECT
 public:
  explicit LogModel(LogGridStyle style = {}, QObject* parent = nullptr);

  void AddLog(const QString& text, LineKind kind = LineKind::Sent) override;
  // Removes every line; the grid is back to its initial rows.
  void Clear();

  const LogGridStyle& style() const { return style_; }
  int Rows() const { return int(lines_.size()) + headerRows(); }
  int LogRow() const { return logRow_; }
  // The first data row in view.
  int TopRow() const { return topRow_; }
  QString TextMatrix(int row) const;
  QColor CellBackColor(int row) const;
  QColor CellForeColor(int row) const;
  // The non-empty lines in row order.
  QStringList lines() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 signals:
  void topRowChanged(int row);

 private:
  struct Line {
    QString text;
    LineKind kind = LineKind::Sent;
  };
  int headerRows() const { return style_.header ? 1 : 0; }
  const Line* line(int row) const;
  QColor colour(int row, std::optional<QColor> LineColours::*which) const;
  void setRows(int rows);

  LogGridStyle style_;
  std::vector<Line> lines_;  // grid rows 1..Rows-1
  int logRow_;
  int topRow_;
};

// The grid control itself (FG1), showing a LogModel.
class LogGrid : public QTableView {
  Q_OBJECT
 public:
  explicit LogGrid(LogModel* model, QWidget* parent = nullptr);
  LogModel* log() const { return model_; }
  // The first data row in view, as the scroll bar shows it.
  int visibleTopRow() const;

 private:
  void followTopRow();

  LogModel* model_;
  bool scrollPending_ = false;
};

}  // namespace kestrel
