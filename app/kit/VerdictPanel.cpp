#include "kit/VerdictPanel.h"
#include "kit/Look.h"

#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>

namespace kestrel {

namespace {

QString ms(double value) { return QString::number(value, 'f', 1); }

}  // namespace

QString reasonTextJa(const Verdict& v) {
  const auto withDetail = [&](const QString& what) { return v.detail.isEmpty() ? what : what + u'：' + v.detail; };
  switch (v.failure) {
    case Failure::None: return {};
    case Failure::Refused: return withDetail(QStringLiteral("ユニットが受け付けませんでした"));
    case Failure::NoAnswer: return withDetail(QStringLiteral("ユニットから応答がありません"));
    case Failure::PortLost: return withDetail(QStringLiteral("通信ポートのエラー"));
    case Failure::BoardLost: return withDetail(QStringLiteral("拡張ボードのエラー"));
    case Failure::BadReply: return withDetail(QStringLiteral("受信データが不正です"));
    case Failure::Stopped: return QStringLiteral("最後まで送信する前に停止しました");
    case Failure::Unfinished: return QStringLiteral("実行が終わっていません");
    case Failure::NgChannels: return QStringLiteral("NG %1 CH：%2").arg(int(v.measured)).arg(v.detail);
    case Failure::AnswerTime:
      return QStringLiteral("応答時間 %1 ms が上限 %2 ms を超えました").arg(ms(v.measured), ms(v.limit));
    case Failure::Naks: return QStringLiteral("NAK %1 回が上限 %2 回を超えました").arg(v.measured).arg(v.limit);
    case Failure::BusyTime:
      return QStringLiteral("BUSY時間 %1 ms が上限 %2 ms を超えました").arg(ms(v.measured), ms(v.limit));
    case Failure::TooFewJudged: return QStringLiteral("判定 %1 CH が下限 %2 CH に足りません").arg(v.measured).arg(v.limit);
  }
  return {};
}

void VerdictPanel::Meter::runStarted(const RunStarted& e) {
  RunMeter::runStarted(e);
  panel->clear();
}

void VerdictPanel::Meter::runFinished(const RunFinished& e) {
  const bool first = !measurements().finished;
  RunMeter::runFinished(e);
  if (first) panel->showVerdict(judge(measurements(), {}));
}

VerdictPanel::VerdictPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("VerdictPanel"));
  meter_.panel = this;
  VerdictText = new QLabel;
  VerdictText->setObjectName(QStringLiteral("VerdictText"));
  VerdictText->setAccessibleName(QStringLiteral("判定"));
  QFont big = VerdictText->font();
  big.setPointSize(big.pointSize() * 2);
  big.setBold(true);
  VerdictText->setFont(big);
  ReasonText = new QLabel;
  ReasonText->setObjectName(QStringLiteral("ReasonText"));
  ReasonText->setAccessibleName(QStringLiteral("判定の理由"));
  ReasonText->setWordWrap(true);
  MeasureText = new QLabel;
  MeasureText->setObjectName(QStringLiteral("MeasureText"));
  MeasureText->setAccessibleName(QStringLiteral("測定値"));
  MeasureText->setWordWrap(true);
  MeasureText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  ChartToggle = new QPushButton(QStringLiteral("応答時間グラフ"));
  ChartToggle->setObjectName(QStringLiteral("ChartToggle"));
  ChartToggle->setAccessibleName(QStringLiteral("応答時間グラフ"));
  ChartToggle->setCheckable(true);
  ChartToggle->setAutoDefault(false);
  // The button's state, not the click: assistive technology toggles without one.
  connect(ChartToggle, &QPushButton::toggled, this, &VerdictPanel::showChart);

  auto* texts = new QVBoxLayout;
  texts->addWidget(ReasonText);
  texts->addWidget(MeasureText);
  auto* row = new QHBoxLayout;
  row->addWidget(VerdictText);
  row->addLayout(texts, 1);
  row->addWidget(ChartToggle, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(row);
  setVisible(false);
}

void VerdictPanel::clear() {
  verdict_.reset();
  setStatus(VerdictText, {});
  setStatus(ReasonText, {});
  setStatus(MeasureText, {});
  if (series_) series_->clear();
  setVisible(false);
}

void VerdictPanel::showVerdict(const Verdict& v) {
  verdict_ = v;
  setStatus(VerdictText, v.pass() ? QStringLiteral("合格") : QStringLiteral("不合格"));
  VerdictText->setStyleSheet(v.pass() ? QStringLiteral("color: #007000") : QStringLiteral("color: #c00000"));
  setStatus(ReasonText, reasonTextJa(v));
  setStatus(MeasureText, measurementLine(measurements()));
  if (Chart && Chart->isVisible()) fillChart();
  setVisible(true);
}

void VerdictPanel::showChart(bool on) {
  if (on && !Chart) {
    series_ = new QLineSeries;
    series_->setName(QStringLiteral("応答時間 (ms)"));
    auto* chart = new QChart;
    chart->addSeries(series_);
    chart->legend()->hide();
    auto* x = new QValueAxis;
    x->setTitleText(QStringLiteral("フレーム"));
    x->setLabelFormat(QStringLiteral("%d"));
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("ms"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series_->attachAxis(x);
    series_->attachAxis(y);
    Chart = new QChartView(chart);
    Chart->setObjectName(QStringLiteral("AnswerChart"));
    Chart->setAccessibleName(QStringLiteral("応答時間グラフ表示"));
    Chart->setMinimumHeight(160);
    layout()->addWidget(Chart);
  }
  if (!Chart) return;
  if (on) fillChart();
  Chart->setVisible(on);
}

void VerdictPanel::fillChart() {
  const std::vector<double>& samples = measurements().answerMs;
  const int n = int(std::min<std::size_t>(samples.size(), kChartPoints));
  QList<QPointF> points;
  points.reserve(n);
  double top = 1;
  for (int i = 0; i < n; ++i) {
    points.append({double(i + 1), samples[std::size_t(i)]});
    top = std::max(top, samples[std::size_t(i)]);
  }
  series_->replace(points);
  const QList<QAbstractAxis*> axes = Chart->chart()->axes();
  for (QAbstractAxis* axis : axes) {
    auto* value = static_cast<QValueAxis*>(axis);
    if (axis->alignment() == Qt::AlignBottom)
      value->setRange(1, std::max(n, 2));
    else
      value->setRange(0, top * 1.1);
  }
}

}  // namespace kestrel
