#pragma once
// The communication log: one column, one line per event. Each line keeps the
// time it was logged for the saved log; the grid itself shows none.

#include "core/LogJournal.h"
#include "core/SessionEvents.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>
#include <array>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;

namespace kestrel {

struct LineColours {
  std::optional<QColor> background{};
  std::optional<QColor> text{};
};

// How a window's grid grows and scrolls. Rows are counted as the grid counts
// them: with a header, row 0 is the header and data rows start at 1.
// The newest lines a grid holds. A night-long run logs millions; older lines
// leave the grid (not the journal) a slice at a time.
inline constexpr int kLogGridLines = 100000;

struct LogGridStyle {
  bool header = true;
  QString format = QStringLiteral("<テスト状況");  // '<' left, '^' centre, '>' right
  int widthTwips = 8200;
  int visibleRows = 13;     // header included; also the row count after a clear
  int rowOffset = 0;        // 1: a line goes into row LogRow + 1
  int firstLogRow = 1;      // LogRow after a clear
  bool insertRows = false;  // a line is inserted as a new row at its row
  int clearAfter = 0;       // a LogRow beyond this clears the grid first; 0: never
  int maxLines = kLogGridLines;
  std::array<LineColours, kLineKinds> colours{};
  // Read by screen readers and UI automation.
  QString accessibleName = QStringLiteral("テスト状況");
};

class LogModel : public QAbstractTableModel, public SessionEvents {
  Q_OBJECT
 public:
  // What a view may ask of a line besides its text.
  enum Role { KindRole = Qt::UserRole + 1, StampRole };

  explicit LogModel(LogGridStyle style = {}, QObject* parent = nullptr);

  void AddLog(const QString& text, LineKind kind = LineKind::Sent) override;
  // The operator's clear: every line goes, the grid is back to its initial
  // rows, and a saved log starts here.
  void Clear();

  // Every line from now on also goes to `journal`.
  void setJournal(std::unique_ptr<LogJournal> journal);
  LogJournal* journal() const { return journal_.get(); }
  // Lines logged since the last Clear, the grid's own clears included.
  qint64 linesSinceClear() const { return sinceClear_; }
  // The lines since the last Clear in the saved form, one per line in the
  // log's text format: from the journal, or from the grid when the journal
  // cannot serve.
  bool writeSinceClear(QIODevice& out) const;
  // How saved lines are written; a journal set later should be opened in it.
  void setTextFormat(LogTextFormat format) { textFormat_ = format; }
  LogTextFormat textFormat() const { return textFormat_; }

  const LogGridStyle& style() const { return style_; }
  // Rows are numbered as if no line had left the grid: a grid that dropped
  // its oldest lines still counts them.
  int Rows() const { return int(lines_.size()) + firstKeptRow(); }
  int LogRow() const { return logRow_; }
  // The first data row in view.
  int TopRow() const { return topRow_; }
  // The first row the grid still holds (after the header).
  int firstKeptRow() const { return headerRows() + dropped_; }
  QString TextMatrix(int row) const;
  QColor CellBackColor(int row) const;
  QColor CellForeColor(int row) const;
  // The non-empty lines held, in row order.
  QStringList lines() const;
  // The line at a view row.
  QString lineText(int viewRow) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 signals:
  void topRowChanged(int row);

 private:
  struct Line {
    QString text;
    qint64 stamp = 0;
    LineKind kind = LineKind::Sent;
  };
  int headerRows() const { return style_.header ? 1 : 0; }
  const Line* line(int row) const;
  QColor colour(int row, std::optional<QColor> LineColours::*which) const;
  void setRows(int rows);
  void reset();
  void dropOldest();

  LogGridStyle style_;
  std::vector<Line> lines_;  // grid rows firstKeptRow()..Rows-1
  int dropped_ = 0;          // data rows that left the grid
  int logRow_;
  int topRow_;
  qint64 sinceClear_ = 0;
  LogTextFormat textFormat_ = LogTextFormat::Cp932Crlf;
  std::unique_ptr<LogJournal> journal_;
};

// The bytes of a text as the log saves them, as a dump: "0000  5B 91 97 …"
// sixteen to a line.
QString lineHexDump(const QByteArray& bytes);
// The operator's name for a kind of line ("送信", "受信"…).
QString lineKindName(LineKind kind);
// The text colour a kind gets in a grid whose window sets no colours.
QColor defaultLineColour(LineKind kind);

// Ctrl+F's bar at the foot of the grid: a text, next and previous.
class LogFindBar : public QWidget {
  Q_OBJECT
 public:
  explicit LogFindBar(QWidget* parent);
  QLineEdit* TxtFind;
  QToolButton* CmdNext;
  QToolButton* CmdPrevious;
  QLabel* LblFound;  // "見つかりません" when nothing matches

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// The grid control itself (FG1), showing a LogModel. What the operator asks
// for on top (time stamps, a kind filter, search, a hex view) is the view's
// business: the model's rows stay numbered as documented.
class LogGrid : public QTableView {
  Q_OBJECT
 public:
  explicit LogGrid(LogModel* model, QWidget* parent = nullptr);
  LogModel* log() const { return model_; }
  // The first data row in view, as the scroll bar shows it.
  int visibleTopRow() const;
  // The selected lines, one per line, onto the clipboard (Ctrl+C does it too).
  void copySelection();

  // Each line's time in a column at the left.
  void setShowStamps(bool on);
  bool showStamps() const;
  // Which kinds of line are shown; all by default.
  void setKindShown(LineKind kind, bool shown);
  bool kindShown(LineKind kind) const { return shown_[std::size_t(kind)]; }
  // Selects the next (or previous) shown line holding `text`, from the
  // current line, wrapping round; false when none does.
  bool find(const QString& text, bool backwards = false);
  void showFindBar();
  LogFindBar* findBar() const { return findBar_; }
  // The colour a line's text is drawn in: the window's, else its kind's
  // where the window sets no colours; invalid for the palette's own.
  QColor textColour(int viewRow) const;
  // A dialog with the bytes of the current line, as the log saves them.
  void showHex();
  QAction* stampAction() const { return stampAction_; }
  QAction* hexAction() const { return hexAction_; }
  QAction* findAction() const { return findAction_; }
  QAction* kindAction(LineKind kind) const { return kindActions_[std::size_t(kind)]; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void followTopRow();
  bool filtering() const;
  void applyFilter(int first, int last);
  void placeFindBar();

  LogModel* model_;
  bool scrollPending_ = false;
  std::array<bool, kLineKinds> shown_;
  std::array<QAction*, kLineKinds> kindActions_{};
  QAction* stampAction_;
  QAction* hexAction_;
  QAction* findAction_;
  LogFindBar* findBar_ = nullptr;
  bool kindColours_ = false;
};

}  // namespace kestrel
