#include "HtmlReport.h"

#include <QDate>
#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace kestrel::results::tool {

namespace {

constexpr std::size_t kSlowest = 10;
// A page, not an archive: past this many the failing runs are counted only.
constexpr std::size_t kFailingShown = 500;

// Answer-time buckets in ms: [0,1), [1,2), [2,5) ... [1000, infinity).
constexpr std::array<double, 11> kBucketFrom{0, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};

struct Tally {
  qint64 runs = 0;
  qint64 passed = 0;
};

struct Histogram {
  std::array<qint64, kBucketFrom.size()> counts{};
  qint64 answers = 0;
};

QString esc(const QString& text) { return text.toHtmlEscaped(); }

QString rate(const Tally& t) {
  return t.runs == 0 ? QStringLiteral("-") : QString::number(100.0 * double(t.passed) / double(t.runs), 'f', 1) + " %";
}

QString localTime(const QDateTime& t) {
  return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("?");
}

QString msText(double v) { return QString::number(v, 'f', 1) + " ms"; }

QString modeName(int mode) { return mode < 0 ? QStringLiteral("?") : QString::number(mode); }

QString bucketName(std::size_t i) {
  if (i + 1 == kBucketFrom.size()) return QStringLiteral("≥%1").arg(kBucketFrom[i]);
  return QStringLiteral("%1–%2").arg(kBucketFrom[i]).arg(kBucketFrom[i + 1]);
}

std::size_t bucketOf(double v) {
  std::size_t i = 0;
  while (i + 1 < kBucketFrom.size() && v >= kBucketFrom[i + 1]) ++i;
  return i;
}

// Bars of a height between 0 and 1 each, with a label under each and a
// tooltip; the numbers stand in the table beside the chart.
struct Bar {
  QString label;
  double height = 0;
  QString title;
};

QString barChart(const std::vector<Bar>& bars, const QString& caption, const QString& axisTop) {
  constexpr int kBar = 28, kGap = 8, kLeft = 48, kTop = 12, kPlot = 140, kBottom = 56;
  const int width = kLeft + int(bars.size()) * (kBar + kGap) + kGap;
  const int height = kTop + kPlot + kBottom;
  QString s = QStringLiteral(
                  "<svg class=\"chart\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\">"
                  "<title>%3</title>")
                  .arg(width)
                  .arg(height)
                  .arg(esc(caption));
  s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" class=\"axis\"/>")
           .arg(kLeft)
           .arg(kTop)
           .arg(kTop + kPlot);
  s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" class=\"axis\"/>")
           .arg(kLeft)
           .arg(kTop + kPlot)
           .arg(width);
  s += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"tick\" text-anchor=\"end\">%3</text>")
           .arg(kLeft - 4)
           .arg(kTop + 8)
           .arg(esc(axisTop));
  s += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"tick\" text-anchor=\"end\">0</text>")
           .arg(kLeft - 4)
           .arg(kTop + kPlot);
  int x = kLeft + kGap;
  for (const Bar& b : bars) {
    const int h = int(std::clamp(b.height, 0.0, 1.0) * kPlot + 0.5);
    s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" class=\"bar\"><title>%5</title></rect>")
             .arg(x)
             .arg(kTop + kPlot - h)
             .arg(kBar)
             .arg(h)
             .arg(esc(b.title));
    const int lx = x + kBar / 2, ly = kTop + kPlot + 12;
    s += QStringLiteral(
             "<text x=\"%1\" y=\"%2\" class=\"tick\" text-anchor=\"end\" transform=\"rotate(-40 %1 %2)\">%3</text>")
             .arg(lx)
             .arg(ly)
             .arg(esc(b.label));
    x += kBar + kGap;
  }
  return s + QStringLiteral("</svg>\n");
}

QString rateTable(const QString& first, const std::vector<std::pair<QString, Tally>>& rows) {
  QString s =
      QStringLiteral("<table><tr><th>%1</th><th>Runs</th><th>Passed</th><th>Failed</th><th>Pass rate</th></tr>\n")
          .arg(esc(first));
  for (const auto& [name, t] : rows)
    s += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>\n")
             .arg(esc(name))
             .arg(t.runs)
             .arg(t.passed)
             .arg(t.runs - t.passed)
             .arg(rate(t));
  return s + QStringLiteral("</table>\n");
}

QString rateSection(const QString& heading, const QString& first, const std::vector<std::pair<QString, Tally>>& rows) {
  std::vector<Bar> bars;
  for (const auto& [name, t] : rows)
    bars.push_back({name, t.runs == 0 ? 0 : double(t.passed) / double(t.runs),
                    QStringLiteral("%1: %2 of %3 runs passed").arg(name, rate(t)).arg(t.runs)});
  return QStringLiteral("<h2>%1</h2>\n<div class=\"pair\">").arg(esc(heading)) + rateTable(first, rows) +
         barChart(bars, heading, QStringLiteral("100 %")) + QStringLiteral("</div>\n");
}

const char* kStyle = R"css(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.6em; }
table { border-collapse: collapse; margin: 0.5em 1.5em 0.5em 0; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.6em; text-align: left; }
td.n { text-align: right; }
.pair { display: flex; flex-wrap: wrap; align-items: flex-start; }
.chart .bar { fill: #3a7bd5; } .chart .axis { stroke: #666; } .chart .tick { font-size: 10px; fill: #444; }
.fail { color: #b00; } .note { color: #555; }
)css";

}  // namespace

QByteArray htmlReport(const Store& store, const Filter& f, const ReportInput& in, QString* error) {
  Tally all;
  std::map<QDate, Tally> days;
  std::map<int, Tally> modes;
  std::map<int, Histogram> answerTimes;
  std::vector<RunRow> slowest;  // slowest first, at most kSlowest
  std::vector<RunRow> failing;  // newest first, at most kFailingShown
  qint64 failingTotal = 0;

  const bool read = forEachRun(
      store, f,
      [&](const RunRow& r, const Measurements& m) {
        for (Tally* t : {&all, &days[r.started.isValid() ? r.started.toLocalTime().date() : QDate()], &modes[r.mode]}) {
          ++t->runs;
          if (r.pass) ++t->passed;
        }
        Histogram& h = answerTimes[r.mode];
        for (const double v : m.answerMs) {
          ++h.counts[bucketOf(v)];
          ++h.answers;
        }
        if (r.answers.count > 0) {
          const auto slower = [](const RunRow& a, const RunRow& b) { return a.answers.max > b.answers.max; };
          if (slowest.size() < kSlowest || slower(r, slowest.back())) {
            if (slowest.size() == kSlowest) slowest.pop_back();
            slowest.insert(std::upper_bound(slowest.begin(), slowest.end(), r, slower), r);
          }
        }
        if (!r.pass) {
          ++failingTotal;
          if (failing.size() < kFailingShown) failing.push_back(r);
        }
        return true;
      },
      error);
  if (!read) return {};

  QString s = QStringLiteral(
                  "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                  "<title>Kestrel Tester results</title>\n<style>") +
              QLatin1String(kStyle) + QStringLiteral("</style>\n</head>\n<body>\n<h1>Kestrel Tester results</h1>\n");
  // One arg() for all: a store's name may hold "%2" itself.
  s += QStringLiteral("<p>Store: %1<br>Runs: %2 (%3 passed, %4 failed)")
           .arg(esc(in.store), QString::number(all.runs), QString::number(all.passed),
                QString::number(all.runs - all.passed));
  if (!in.filter.isEmpty()) s += QStringLiteral("<br>Picked by: %1").arg(esc(in.filter));
  s += QStringLiteral("<br>Made: %1</p>\n").arg(localTime(in.made));

  if (all.runs == 0) {
    s += QStringLiteral("<p class=\"note\">No runs.</p>\n");
  } else {
    std::vector<std::pair<QString, Tally>> rows;
    for (const auto& [day, t] : days)
      rows.emplace_back(day.isValid() ? day.toString(QStringLiteral("yyyy-MM-dd")) : QStringLiteral("?"), t);
    s += rateSection(QStringLiteral("Pass rate per day"), QStringLiteral("Day"), rows);
    rows.clear();
    for (const auto& [mode, t] : modes) rows.emplace_back(QStringLiteral("mode ") + modeName(mode), t);
    s += rateSection(QStringLiteral("Pass rate per mode"), QStringLiteral("Mode"), rows);

    s += QStringLiteral("<h2>Answer times per mode</h2>\n");
    bool any = false;
    for (const auto& [mode, h] : answerTimes) {
      if (h.answers == 0) continue;
      any = true;
      const qint64 most = *std::max_element(h.counts.begin(), h.counts.end());
      std::vector<Bar> bars;
      QString table = QStringLiteral("<table><tr><th>Answer time (ms)</th><th>Answers</th></tr>\n");
      for (std::size_t i = 0; i < h.counts.size(); ++i) {
        bars.push_back({bucketName(i), double(h.counts[i]) / double(most),
                        QStringLiteral("%1 ms: %2 answers").arg(bucketName(i)).arg(h.counts[i])});
        table += QStringLiteral("<tr><td>%1</td><td class=\"n\">%2</td></tr>\n").arg(bucketName(i)).arg(h.counts[i]);
      }
      table += QStringLiteral("</table>\n");
      const QString caption = QStringLiteral("mode %1: %2 answers").arg(modeName(mode)).arg(h.answers);
      s += QStringLiteral("<h3>%1</h3>\n<div class=\"pair\">").arg(esc(caption)) + table +
           barChart(bars, caption, QString::number(most)) + QStringLiteral("</div>\n");
    }
    if (!any) s += QStringLiteral("<p class=\"note\">No answer was timed.</p>\n");

    s += QStringLiteral("<h2>Slowest units</h2>\n");
    if (slowest.empty()) {
      s += QStringLiteral("<p class=\"note\">No answer was timed.</p>\n");
    } else {
      s += QStringLiteral(
          "<table><tr><th>DUT</th><th>Slowest answer</th><th>Median answer</th><th>Mode</th>"
          "<th>Station</th><th>Started</th><th>Run</th></tr>\n");
      for (const RunRow& r : slowest)
        s += QStringLiteral(
                 "<tr><td>%1</td><td class=\"n\">%2</td><td class=\"n\">%3</td><td>%4</td><td>%5</td>"
                 "<td>%6</td><td>%7</td></tr>\n")
                 .arg(esc(r.dut), msText(r.answers.max), msText(r.answers.median), modeName(r.mode), esc(r.station),
                      localTime(r.started), esc(r.id.left(8)));
      s += QStringLiteral("</table>\n");
    }

    s += QStringLiteral("<h2>Failing units</h2>\n");
    if (failing.empty()) {
      s += QStringLiteral("<p class=\"note\">No run failed.</p>\n");
    } else {
      if (failingTotal > qint64(failing.size()))
        s += QStringLiteral("<p class=\"note\">The newest %1 of %2 failed runs.</p>\n")
                 .arg(failing.size())
                 .arg(failingTotal);
      s += QStringLiteral(
          "<table><tr><th>DUT</th><th>Started</th><th>Reason</th><th>Mode</th><th>Station</th>"
          "<th>Run</th></tr>\n");
      for (const RunRow& r : failing)
        s += QStringLiteral(
                 "<tr class=\"fail\"><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td></tr>\n")
                 .arg(esc(r.dut), localTime(r.started), esc(r.reason), modeName(r.mode), esc(r.station),
                      esc(r.id.left(8)));
      s += QStringLiteral("</table>\n");
    }
  }
  s += QStringLiteral("</body>\n</html>\n");
  return s.toUtf8();
}

}  // namespace kestrel::results::tool
