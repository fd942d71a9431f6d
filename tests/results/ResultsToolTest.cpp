// kestrel-results as a process, over a store filled through Store::insert.
#include "results/ResultStore.h"
#include "run/RunTool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <map>

namespace {

using namespace kestrel;
using namespace kestrel::results;

struct Result {
  int code = -1;
  QString out;
  QString err;
};

Result runResults(const QStringList& args, const QString& tz = QStringLiteral("UTC"),
                  const std::map<QString, QString>& extraEnv = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TZ"), tz);
  env.remove(QStringLiteral("KESTREL_RESULTS"));
  for (const auto& [name, value] : extraEnv) env.insert(name, value);
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KESTREL_RESULTS_TOOL), args);
  Result r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    ADD_FAILURE() << "kestrel-results did not end";
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QString readFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

Record makeRecord(const QString& id, const QString& station, const QString& dut, int mode, const QString& port,
                  const QString& started, int lengthMs, Failure failure, const QString& reason,
                  std::vector<double> answers) {
  Record r;
  r.id = id;
  r.station = station;
  r.dut = dut;
  r.mode = mode;
  r.port = port;
  r.options = QJsonObject{{"channels", "auto"}};
  r.started = QDateTime::fromString(started, Qt::ISODateWithMs);
  r.ended = r.started.addMSecs(lengthMs);
  r.failure = failure;
  r.pass = failure == Failure::None;
  r.reason = reason;
  r.measured.answerMs = std::move(answers);
  r.measured.frames = int(r.measured.answerMs.size());
  r.measured.acks = r.measured.frames;
  return r;
}

const QString kId1 = QStringLiteral("11111111-aaaa-4000-8000-000000000001");
const QString kId2 = QStringLiteral("22222222-bbbb-4000-8000-000000000002");
const QString kId3 = QStringLiteral("22223333-cccc-4000-8000-000000000003");
const QString kId4 = QStringLiteral("44444444-dddd-4000-8000-000000000004");
const QString kId5 = QStringLiteral("55555555-eeee-4000-8000-000000000005");

// Five runs on two benches over two days (UTC): 12-01 has three, two
// passed; 12-02 has two, one passed.
std::vector<Record> knownRecords() {
  std::vector<Record> records;
  records.push_back(makeRecord(kId1, "bench-1", "SN100", 1, "COM1", "2026-12-01T08:00:00.000Z", 12500, Failure::None,
                               {}, {2.0, 4.0, 3.0}));
  records.push_back(makeRecord(kId2, "bench-1", "SN101", 1, "COM1", "2026-12-01T09:30:00.000Z", 2000,
                               Failure::AnswerTime, "answer time 25.3 ms over the limit of 20 ms", {25.3, 5.0}));
  Record ng = makeRecord(kId3, "bench-2", "SN, \"quoted\"", 7, "COM2", "2026-12-02T10:00:00.250Z", 750,
                         Failure::NgChannels, "NG channels: 2", {});
  ng.channels = {{1, true}, {2, false}};
  ng.measured.judgedOk = 1;
  ng.measured.ngChannels = {2};
  ng.journal = QStringLiteral("/var/lib/kestrel/journal-3.log");
  records.push_back(ng);
  Record binary =
      makeRecord(kId4, "bench-2", "<b>x</b>", 13, "", "2026-12-02T23:30:00.000Z", 4000, Failure::None, {}, {1.0});
  binary.measured.busyMs = {50.0, 60.0};
  binary.measured.busyWaits = 7;
  records.push_back(binary);
  records.push_back(
      makeRecord(kId5, "bench-1", "SN100", 2, "COM1", "2026-12-01T10:00:00.000Z", 1000, Failure::None, {}, {}));
  return records;
}

class ResultsTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    file = dir.filePath("results.sqlite");
    QString error;
    std::unique_ptr<Store> store = Store::open(Location::parse(file, &error), &error);
    ASSERT_TRUE(store) << error.toStdString();
    for (const Record& r : knownRecords()) ASSERT_TRUE(store->insert(r, &error)) << error.toStdString();
  }
  Result run(QStringList args, const QString& tz = QStringLiteral("UTC")) {
    return runResults(QStringList{"--results", file} + args, tz);
  }
  QTemporaryDir dir;
  QString file;
};

// The list's line of each known record, in UTC.
const std::map<QString, QString> kLines{
    {kId1, "11111111  2026-12-01 08:00:00  bench-1       SN100                1  PASS"},
    {kId2,
     "22222222  2026-12-01 09:30:00  bench-1       SN101                1  FAIL    answer time 25.3 ms over the limit "
     "of 20 ms"},
    {kId3, "22223333  2026-12-02 10:00:00  bench-2       SN, \"quoted\"         7  FAIL    NG channels: 2"},
    {kId4, "44444444  2026-12-02 23:30:00  bench-2       <b>x</b>            13  PASS"},
    {kId5, "55555555  2026-12-01 10:00:00  bench-1       SN100                2  PASS"},
};
const QString kHeader =
    QStringLiteral("ID        STARTED              STATION       DUT               MODE  RESULT  REASON");

QString listing(const QStringList& ids) {
  QString text = kHeader + u'\n';
  for (const QString& id : ids) text += kLines.at(id) + u'\n';
  return text;
}

TEST_F(ResultsTool, ListsEveryRunNewestFirst) {
  const Result r = run({"list"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.err, QString());
  EXPECT_EQ(r.out, listing({kId4, kId3, kId5, kId2, kId1}));
}

struct FilterCase {
  const char* name;
  QStringList args;
  QStringList ids;
};

class ResultsToolFilter : public ResultsTool, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(ResultsToolFilter, ListsThePickedRuns) {
  const Result r = run(QStringList{"list"} + GetParam().args);
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, listing(GetParam().ids));
}

INSTANTIATE_TEST_SUITE_P(
    Each, ResultsToolFilter,
    ::testing::Values(FilterCase{"Dut", {"--dut", "SN100"}, {kId5, kId1}},
                      FilterCase{"DutIsExact", {"--dut", "SN10"}, {}},
                      FilterCase{"Mode", {"--mode", "1"}, {kId2, kId1}},
                      FilterCase{"Pass", {"--verdict", "pass"}, {kId4, kId5, kId1}},
                      FilterCase{"Fail", {"--verdict=fail"}, {kId3, kId2}},
                      FilterCase{"Limit", {"--limit", "2"}, {kId4, kId3}},
                      FilterCase{"SinceDay", {"--since", "2026-12-02"}, {kId4, kId3}},
                      FilterCase{"SinceIsInclusive", {"--since", "2026-12-01T09:30:00Z"}, {kId4, kId3, kId5, kId2}},
                      FilterCase{"SinceWithOffset", {"--since", "2026-12-02T19:00:00+09:00"}, {kId4, kId3}},
                      FilterCase{"Combined", {"--dut", "SN100", "--mode", "2", "--verdict", "pass"}, {kId5}},
                      FilterCase{"LimitAfterFilter", {"--verdict", "pass", "--limit", "1"}, {kId4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResultsTool, ListAndSinceUseLocalTime) {
  // 23:30 UTC on 12-02 is 08:30 on 12-03 in Tokyo, and its midnight is 15:00 UTC on 12-02.
  const Result r = run({"list", "--since", "2026-12-03"}, QStringLiteral("Asia/Tokyo"));
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, kHeader + "\n44444444  2026-12-03 08:30:00  bench-2       <b>x</b>            13  PASS\n");
}

TEST_F(ResultsTool, ShowsEveryFieldOfOneRun) {
  const Result r = run({"show", "2222"});
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.err, "kestrel-results: more than one run's ID starts with '2222'\n");
  EXPECT_EQ(r.out, QString());

  const Result none = run({"show", "ffff"});
  EXPECT_EQ(none.code, 3);
  EXPECT_EQ(none.err, "kestrel-results: no run has the ID 'ffff'\n");

  const Result ng = run({"show", "22223"});
  ASSERT_EQ(ng.code, 0) << ng.err.toStdString();
  const QStringList lines = ng.out.split(u'\n');
  for (const char* line :
       {"id:             22223333-cccc-4000-8000-000000000003", "station:        bench-2",
        "dut:            SN, \"quoted\"", "mode:           7", "port:           COM2",
        "started:        2026-12-02 10:00:00.250 (2026-12-02T10:00:00.250Z)",
        "ended:          2026-12-02 10:00:01.000 (2026-12-02T10:00:01.000Z)", "verdict:        FAIL",
        "failure:        ng-channels", "reason:         NG channels: 2", "options:        {\"channels\":\"auto\"}",
        "answers:        none", "judged OK:      1", "NG channels:    2", "channels:       1 OK, 2 NG",
        "journal:        /var/lib/kestrel/journal-3.log"})
    EXPECT_TRUE(lines.contains(QString::fromUtf8(line))) << line << "\n" << ng.out.toStdString();

  const Result binary = run({"show", kId4});
  ASSERT_EQ(binary.code, 0) << binary.err.toStdString();
  const QStringList more = binary.out.split(u'\n');
  for (const char* line :
       {"port:           the expansion board", "verdict:        PASS", "failure:        none", "reason:         none",
        "answers:        1; min 1.000 ms, median 1.000 ms, p95 1.000 ms, max 1.000 ms",
        "busy:           2; min 50.000 ms, median 55.000 ms, p95 60.000 ms, max 60.000 ms", "busy waits:     7",
        "channels:       none", "journal:        none"})
    EXPECT_TRUE(more.contains(QString::fromUtf8(line))) << line << "\n" << binary.out.toStdString();
}

const QString kCsv = QStringLiteral(
    "id,station,dut,mode,port,started,ended,verdict,failure,reason,answer_count,answer_min_ms,answer_median_ms,"
    "answer_p95_ms,answer_max_ms,journal\r\n"
    "44444444-dddd-4000-8000-000000000004,bench-2,<b>x</b>,13,,2026-12-02T23:30:00.000Z,2026-12-02T23:30:04.000Z,"
    "pass,none,,1,1.000,1.000,1.000,1.000,\r\n"
    "22223333-cccc-4000-8000-000000000003,bench-2,\"SN, \"\"quoted\"\"\",7,COM2,2026-12-02T10:00:00.250Z,"
    "2026-12-02T10:00:01.000Z,fail,ng-channels,NG channels: 2,0,,,,,/var/lib/kestrel/journal-3.log\r\n"
    "55555555-eeee-4000-8000-000000000005,bench-1,SN100,2,COM1,2026-12-01T10:00:00.000Z,2026-12-01T10:00:01.000Z,"
    "pass,none,,0,,,,,\r\n"
    "22222222-bbbb-4000-8000-000000000002,bench-1,SN101,1,COM1,2026-12-01T09:30:00.000Z,2026-12-01T09:30:02.000Z,"
    "fail,answer-time,answer time 25.3 ms over the limit of 20 ms,2,5.000,15.150,25.300,25.300,\r\n"
    "11111111-aaaa-4000-8000-000000000001,bench-1,SN100,1,COM1,2026-12-01T08:00:00.000Z,2026-12-01T08:00:12.500Z,"
    "pass,none,,3,2.000,3.000,4.000,4.000,\r\n");

TEST_F(ResultsTool, ExportsCsv) {
  const Result r = run({"export", "--format", "csv"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, kCsv);

  const QString out = dir.filePath("failed.csv");
  const Result toFile = run({"export", "--format", "csv", "--verdict", "fail", "--output", out});
  EXPECT_EQ(toFile.code, 0) << toFile.err.toStdString();
  EXPECT_EQ(toFile.out, QString());
  const QStringList rows = kCsv.split(QStringLiteral("\r\n"));
  EXPECT_EQ(readFile(out), rows[0] + "\r\n" + rows[2] + "\r\n" + rows[4] + "\r\n");
}

std::optional<QString> schemaProblems(const QString& file) { return kestrel::test::junitSchemaProblems(file, JUNIT_XSD); }

TEST_F(ResultsTool, ExportsJUnitWithASuitePerStation) {
  if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty())
    GTEST_SKIP() << "xmllint is not installed: the report cannot be checked against its schema";
  const QString out = dir.filePath("runs.xml");
  const Result r = run({"export", "--format", "junit", "--output", out});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const std::optional<QString> problems = schemaProblems(out);
  ASSERT_TRUE(problems.has_value());
  EXPECT_EQ(*problems, QString());

  QFile f(out);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&f);
  QStringList suites, failures;
  int cases = 0;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const auto a = xml.attributes();
    if (xml.name() == u"testsuites")
      suites += QStringLiteral("all %1/%2").arg(a.value("tests"), a.value("failures"));
    else if (xml.name() == u"testsuite")
      suites +=
          QStringLiteral("%1 %2/%3 %4s").arg(a.value("name"), a.value("tests"), a.value("failures"), a.value("time"));
    else if (xml.name() == u"testcase")
      ++cases;
    else if (xml.name() == u"failure")
      failures += QStringLiteral("%1: %2").arg(a.value("type"), a.value("message"));
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(suites, QStringList({"all 5/2", "bench-1 3/1 15.500s", "bench-2 2/1 4.750s"}));
  EXPECT_EQ(cases, 5);
  EXPECT_EQ(failures,
            QStringList({"answer-time: answer time 25.3 ms over the limit of 20 ms", "ng-channels: NG channels: 2"}));
}

TEST_F(ResultsTool, ReportIsOneSelfContainedPage) {
  const QString out = dir.filePath("report.html");
  const Result r = run({"report", "--html", out});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QString());
  const QString html = readFile(out);
  ASSERT_FALSE(html.isEmpty());
  EXPECT_TRUE(html.startsWith("<!DOCTYPE html>"));
  // Nothing it would fetch: no script, no link, no source or reference at all.
  for (const char* outside : {"http://", "https://", "src=", "href=", "<script", "<link", "@import", "url("})
    EXPECT_FALSE(html.contains(QLatin1String(outside), Qt::CaseInsensitive)) << outside;
  EXPECT_GE(html.count("<svg"), 3);
  EXPECT_FALSE(html.contains("<b>x</b>"));
  EXPECT_TRUE(html.contains("<td>&lt;b&gt;x&lt;/b&gt;</td>"));
  EXPECT_TRUE(html.contains("<td>SN, &quot;quoted&quot;</td>"));
  for (const char* row : {"<tr><td>2026-12-01</td><td>3</td><td>2</td><td>1</td><td>66.7 %</td></tr>",
                          "<tr><td>2026-12-02</td><td>2</td><td>1</td><td>1</td><td>50.0 %</td></tr>",
                          "<tr><td>mode 1</td><td>2</td><td>1</td><td>1</td><td>50.0 %</td></tr>",
                          "<tr><td>mode 7</td><td>1</td><td>0</td><td>1</td><td>0.0 %</td></tr>",
                          "<tr><td>mode 13</td><td>1</td><td>1</td><td>0</td><td>100.0 %</td></tr>"})
    EXPECT_TRUE(html.contains(QString::fromUtf8(row))) << row;
  // Mode 1's five answers: 2, 3 and 4 ms from 2 to 5, 5 ms from 5 to 10, 25.3 ms from 20 to 50.
  const qsizetype mode1 = html.indexOf("<h3>mode 1: 5 answers</h3>");
  ASSERT_GE(mode1, 0);
  const QString buckets = html.mid(mode1, html.indexOf("</table>", mode1) - mode1);
  for (const char* row :
       {"<tr><td>1–2</td><td class=\"n\">0</td></tr>", "<tr><td>2–5</td><td class=\"n\">3</td></tr>",
        "<tr><td>5–10</td><td class=\"n\">1</td></tr>", "<tr><td>20–50</td><td class=\"n\">1</td></tr>"})
    EXPECT_TRUE(buckets.contains(QString::fromUtf8(row))) << row;
  // The slowest first, and the failing newest first.
  const qsizetype slowest = html.indexOf("<h2>Slowest units</h2>");
  const qsizetype failing = html.indexOf("<h2>Failing units</h2>");
  ASSERT_TRUE(slowest > 0 && failing > slowest);
  const QString slow = html.mid(slowest, failing - slowest);
  EXPECT_LT(slow.indexOf("<td>SN101</td><td class=\"n\">25.3 ms</td>"),
            slow.indexOf("<td>SN100</td><td class=\"n\">4.0 ms</td>"));
  EXPECT_GE(slow.indexOf("<td>SN101</td>"), 0);
  const QString fails = html.mid(failing);
  EXPECT_LT(fails.indexOf("NG channels: 2"), fails.indexOf("answer time 25.3 ms over the limit of 20 ms"));
  EXPECT_GE(fails.indexOf("NG channels: 2"), 0);
  EXPECT_TRUE(fails.contains("<td>2026-12-01 09:30:00</td>"));

  // The filters pick the runs a report counts.
  const Result picked = run({"report", "--html", out, "--dut", "SN100"});
  ASSERT_EQ(picked.code, 0) << picked.err.toStdString();
  const QString page = readFile(out);
  EXPECT_TRUE(page.contains("<tr><td>2026-12-01</td><td>2</td><td>2</td><td>0</td><td>100.0 %</td></tr>"));
  EXPECT_FALSE(page.contains("<td>2026-12-02</td>"));
  EXPECT_TRUE(page.contains("No run failed."));
}

struct BadCase {
  const char* name;
  QStringList args;
  const char* error;
};

class ResultsToolBadArguments : public ResultsTool, public ::testing::WithParamInterface<BadCase> {};

TEST_P(ResultsToolBadArguments, OneLineAndExitTwo) {
  const Result r = run(GetParam().args);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, QStringLiteral("kestrel-results: ") + QString::fromUtf8(GetParam().error) + u'\n');
  EXPECT_EQ(r.out, QString());
}

INSTANTIATE_TEST_SUITE_P(
    Each, ResultsToolBadArguments,
    ::testing::Values(BadCase{"NoCommand", {}, "no command (list, show, export or report); --help tells more"},
                      BadCase{"UnknownCommand", {"purge"}, "unknown command 'purge' (list, show, export or report)"},
                      BadCase{"UnknownOption", {"list", "--station", "x"}, "unknown option '--station'"},
                      BadCase{"MissingValue", {"list", "--mode"}, "--mode needs a value"},
                      BadCase{"Mode", {"list", "--mode", "20"}, "--mode: '20' is not a mode (0-19)"},
                      BadCase{"ModeText", {"list", "--mode", "one"}, "--mode: 'one' is not a mode (0-19)"},
                      BadCase{"SinceDay",
                              {"list", "--since", "2026-02-30"},
                              "--since: '2026-02-30' is not a date (yyyy-MM-dd) or an ISO date-time"},
                      BadCase{"SinceText",
                              {"list", "--since", "yesterday"},
                              "--since: 'yesterday' is not a date (yyyy-MM-dd) or an ISO date-time"},
                      BadCase{"Verdict", {"list", "--verdict", "ok"}, "--verdict: 'ok' is not pass or fail"},
                      BadCase{"Limit", {"list", "--limit", "0"}, "--limit: '0' is not a whole number of 1 or more"},
                      BadCase{
                          "LimitSign", {"list", "--limit", "-3"}, "--limit: '-3' is not a whole number of 1 or more"},
                      BadCase{"Twice", {"list", "--dut", "a", "--dut", "b"}, "--dut given twice"},
                      BadCase{"FormatMissing", {"export"}, "export needs --format csv|junit"},
                      BadCase{"Format", {"export", "--format", "xml"}, "--format: 'xml' is not csv or junit"},
                      BadCase{"HtmlMissing", {"report"}, "report needs --html FILE"},
                      BadCase{"ShowNoId", {"show"}, "show needs a run's ID (or the start of one)"},
                      BadCase{"ShowFilter", {"show", "1111", "--dut", "x"}, "show takes no --dut"},
                      BadCase{"ListFormat", {"list", "--format", "csv"}, "list takes no --format"},
                      BadCase{"Extra", {"list", "more"}, "unexpected argument 'more'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResultsTool, StoreErrorsNameTheStore) {
  const QString missing = dir.filePath("none.sqlite");
  Result r = runResults({"--results", missing, "list"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "kestrel-results: results store " + missing + ": no such file\n");
  EXPECT_FALSE(QFile::exists(missing));

  const QString garbage = dir.filePath("garbage.sqlite");
  {
    QFile g(garbage);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    ASSERT_EQ(g.write(QByteArray(4096, 'x')), 4096);
  }
  r = runResults({"--results", garbage, "list"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.startsWith("kestrel-results: results store " + garbage + ": ")) << r.err.toStdString();
  EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
  EXPECT_EQ(r.out, QString());
}

TEST_F(ResultsTool, UnwritableOutputIsAFailure) {
  const QString blocked = dir.filePath("no-such-folder/runs.csv");
  Result r = run({"export", "--format", "csv", "--output", blocked});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.startsWith("kestrel-results: cannot write " + blocked + ": ")) << r.err.toStdString();
  EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
  EXPECT_FALSE(QFile::exists(blocked));

  // A folder in the report's place stays as it was.
  const QString folder = dir.filePath("report.html");
  ASSERT_TRUE(QDir().mkdir(folder));
  r = run({"report", "--html", folder});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.startsWith("kestrel-results: cannot write " + folder + ": ")) << r.err.toStdString();
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"results.sqlite"})) << "a temporary file was left";

  // Nor is a failed write to stdout taken for success.
  if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full to write to";
  QProcess p;
  p.setStandardOutputFile(QStringLiteral("/dev/full"));
  p.start(QStringLiteral(KESTREL_RESULTS_TOOL), {"--results", file, "export", "--format", "csv"});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).startsWith("kestrel-results: cannot write to stdout: "));
  p.start(QStringLiteral(KESTREL_RESULTS_TOOL), {"--results", file, "list"});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_EQ(QString::fromUtf8(p.readAllStandardError()),
            "kestrel-results: cannot write to stdout: No space left on device\n");
}

TEST_F(ResultsTool, StoreFromTheEnvironment) {
  const Result r = runResults({"list", "--limit", "1"}, QStringLiteral("UTC"), {{"KESTREL_RESULTS", file}});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, listing({kId4}));
  // The command line wins over the environment.
  const Result named = runResults({"--results", dir.filePath("other.sqlite"), "list"}, QStringLiteral("UTC"),
                                  {{"KESTREL_RESULTS", file}});
  EXPECT_EQ(named.code, 1);
}

// Without --results or KESTREL_RESULTS: the tester's own file in the user's
// data folder (the test's main points XDG_DATA_HOME at a temporary one).
TEST_F(ResultsTool, DefaultStoreIsTheTestersFile) {
  const QString data = qEnvironmentVariable("XDG_DATA_HOME");
  ASSERT_FALSE(data.isEmpty());
  const QString tester = data + QStringLiteral("/KestrelTester/results.sqlite");
  QFile::remove(tester);
  Result r = runResults({"list"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "kestrel-results: results store " + tester + ": no such file\n");

  ASSERT_TRUE(QDir().mkpath(data + QStringLiteral("/KestrelTester")));
  ASSERT_TRUE(QFile::copy(file, tester));
  r = runResults({"list", "--dut", "SN101"});
  QFile::remove(tester);
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, listing({kId2}));
}

// More runs than one read of the store holds, many started at the same
// moment: each is listed once, in order.
TEST(ResultsToolPages, EveryRunOnceAcrossPages) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("many.sqlite");
  QString error;
  std::unique_ptr<Store> store = Store::open(Location::parse(file, &error), &error);
  ASSERT_TRUE(store) << error.toStdString();
  constexpr int kRuns = 700;
  for (int i = 0; i < kRuns; ++i) {
    // Every third run at one shared moment; the rest a second apart.
    const QString started =
        i % 3 == 0 ? QStringLiteral("2026-12-05T12:00:00.000Z")
                   : QDateTime(QDate(2026, 12, 1), QTime(0, 0), Qt::UTC).addSecs(i).toString(Qt::ISODateWithMs);
    const Record r = makeRecord(QStringLiteral("%1-0000-4000-8000-000000000000").arg(i, 8, 10, QChar(u'0')), "bench",
                                QStringLiteral("SN%1").arg(i), 1, "COM1", started, 10, Failure::None, {}, {1.0});
    ASSERT_TRUE(store->insert(r, &error)) << error.toStdString();
  }
  store.reset();
  const Result r = runResults({"--results", file, "list"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), kRuns + 1);
  lines.removeFirst();
  QSet<QString> seen;
  QString previous;
  for (const QString& line : lines) {
    const QString key = line.mid(10, 19) + line.left(8);  // started, then ID
    seen.insert(line.left(8));
    if (!previous.isEmpty()) {
      EXPECT_LT(key, previous) << line.toStdString();
    }
    previous = key;
  }
  EXPECT_EQ(seen.size(), kRuns);
}

}  // namespace
