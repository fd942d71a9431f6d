#pragma once
// 結果一覧: the latest runs in the results store, filtered, with a chosen
// run's measurements and the tail of its journal.

#include "results/ResultStore.h"

#include <QDialog>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace kestrel {

class FrmResults : public QDialog {
  Q_OBJECT
 public:
  // `location`: the store's text as the recorder was given it.
  explicit FrmResults(const QString& location, QWidget* parent = nullptr);
  ~FrmResults() override;

  QLineEdit* TxtDut;
  QComboBox* CboMode;     // すべて, then each menu entry
  QComboBox* CboVerdict;  // すべて, 合格, 不合格
  QCheckBox* chk_Since;
  QDateEdit* DateSince;
  QPushButton* CmdRefresh;
  QLabel* LblStatus;  // the store, how many runs, or what went wrong
  QTableWidget* GrdRuns;
  QPlainTextEdit* TxtMeasure;
  QLabel* LblJournal;
  QPlainTextEdit* TxtJournal;
  QPushButton* CmdClose;

  // 更新: the store's newest runs under the filters.
  void Refresh();
  // The runs the table shows, in its order.
  const std::vector<results::Record>& shown() const { return runs_; }

  static constexpr int kListLimit = 500;
  static constexpr qint64 kJournalTail = 1 << 20;
  static constexpr int kConnectTimeoutS = 5;

 private:
  void showRun(int row);
  void showError(const QString& text);

  QString location_;
  std::unique_ptr<results::Store> store_;
  std::vector<results::Record> runs_;
};

// The measurements as 結果一覧 shows them: the window's line, then each spread.
QString measurementText(const Measurements& m);
// The last `limit` bytes of a journal as text in the log setting's code page,
// from the first whole line; "journal not found" when it is gone.
QString journalTail(const QString& path, qint64 limit);

}  // namespace kestrel
