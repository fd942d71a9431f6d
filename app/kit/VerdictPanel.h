#pragma once
// A run's verdict below a test window's documented controls: 合格 or 不合格
// with the reason, the run's measurements in one line, and on request a chart
// of the unit's answer times over the run. Hidden until a run ends; a run's
// start clears it.

#include "core/RunMeter.h"

#include <QWidget>

class QChartView;
class QLabel;
class QLineSeries;
class QPushButton;

namespace kestrel {

// The reason in the window's words.
QString reasonTextJa(const Verdict& v);

class VerdictPanel : public QWidget {
  Q_OBJECT
 public:
  explicit VerdictPanel(QWidget* parent = nullptr);

  // Attach to the window's session events.
  SessionEvents& events() { return meter_; }
  const Measurements& measurements() const { return meter_.measurements(); }
  // The last run's verdict; nothing while a run goes on or before the first.
  const std::optional<Verdict>& verdict() const { return verdict_; }

  QLabel* VerdictText;
  QLabel* ReasonText;
  QLabel* MeasureText;
  QPushButton* ChartToggle;
  // Built the first time it is asked for.
  QChartView* Chart = nullptr;
  // The chart's points: one per answered frame, up to kChartPoints.
  QLineSeries* answerSeries() const { return series_; }

  static constexpr int kChartPoints = 20000;

 private:
  struct Meter : RunMeter {
    VerdictPanel* panel = nullptr;
    void runStarted(const RunStarted& e) override;
    void runFinished(const RunFinished& e) override;
  };

  void clear();
  void showVerdict(const Verdict& v);
  void showChart(bool on);
  void fillChart();

  Meter meter_;
  std::optional<Verdict> verdict_;
  QLineSeries* series_ = nullptr;
};

}  // namespace kestrel
