#include "RunReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

namespace kestrel::run {

namespace {

// The failure's kind in a JUnit report, by exit code.
QString failureType(int code) {
  switch (code) {
    case kExitBadArguments: return QStringLiteral("bad-arguments");
    case kExitPortUnavailable: return QStringLiteral("port-unavailable");
    case kExitPortBusy: return QStringLiteral("port-busy");
    case kExitNoAnswer: return QStringLiteral("no-answer");
    case kExitRefused: return QStringLiteral("refused");
    case kExitNoBoard: return QStringLiteral("no-board");
    case kExitNotSupported: return QStringLiteral("not-supported");
    case kExitInterrupted: return QStringLiteral("interrupted");
    default: return QStringLiteral("failed");
  }
}

QString seconds(double s) { return QString::number(s, 'f', 3); }

QJsonObject spread(const Spread& s, const std::vector<double>& samples) {
  QJsonArray all;
  for (const double v : samples) all.append(v);
  return {{"count", s.count}, {"min", s.min},     {"median", s.median},
          {"p95", s.p95},     {"max", s.max},     {"samples", all}};
}

QJsonValue optionalText(const std::optional<QString>& text) { return text ? QJsonValue(*text) : QJsonValue(); }
QJsonValue orNull(const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }
template <class T>
QJsonValue optionalNumber(const std::optional<T>& v) {
  return v ? QJsonValue(double(*v)) : QJsonValue();
}

}  // namespace

QString summaryLine(const StepReport& r) {
  QString who = r.inPlan ? QStringLiteral("step '%1' mode %2").arg(r.name).arg(r.mode) : QStringLiteral("mode %1").arg(r.mode);
  if (r.dut) who += QStringLiteral(" dut ") + *r.dut;
  if (r.skipped) return QStringLiteral("kestrel-run: SKIP %1: not run, as an earlier step failed").arg(who);
  return QStringLiteral("kestrel-run: %1 %2: %3 %4 sent; %5")
      .arg(r.pass() ? QStringLiteral("PASS") : QStringLiteral("FAIL (exit %1)").arg(r.code), who)
      .arg(r.sent)
      .arg(r.sent == 1 ? QLatin1String(r.unit).chopped(1) : QLatin1String(r.unit), measurementLine(r.measured));
}

QByteArray resultRecord(const StepReport& r) {
  const Measurements& m = r.measured;
  QJsonArray ng;
  for (const int channel : m.ngChannels) ng.append(channel);
  QJsonObject o{{"kind", "result"},
                {"verdict", r.pass() ? "pass" : "fail"},
                {"reason", r.reason},
                {"exit_code", r.code},
                {"mode", r.mode},
                {"port", orNull(r.port)},
                {"dut", optionalText(r.dut)},
                {"limits",
                 QJsonObject{{"answer_ms", optionalNumber(r.limits.answerMs)},
                             {"naks", optionalNumber(r.limits.naks)},
                             {"busy_ms", optionalNumber(r.limits.busyMs)},
                             {"judged", optionalNumber(r.limits.judged)}}},
                {"sent", r.sent},
                {"frames", m.frames},
                {"acks", m.acks},
                {"naks", m.naks},
                {"other", m.otherAnswers},
                {"refusals", m.refusals},
                {"answer_ms", spread(m.answers(), m.answerMs)},
                {"busy_ms", spread(m.busy(), m.busyMs)},
                {"busy_waits", m.busyWaits},
                {"judged_ok", m.judgedOk},
                {"ng_channels", ng},
                {"run_ms", m.runMs}};
  if (r.inPlan) o.insert("step", r.name);
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

SaveResult writeJUnit(const QString& path, const SuiteReport& suite) {
  return saveAtomically(path, [&suite](QIODevice& device) {
    int failures = 0, skipped = 0;
    double total = 0;
    for (const StepReport& s : suite.steps) {
      if (s.skipped)
        ++skipped;
      else if (!s.pass())
        ++failures;
      total += s.seconds;
    }
    QXmlStreamWriter xml(&device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("testsuite");
    xml.writeAttribute("name", suite.name);
    xml.writeAttribute("tests", QString::number(suite.steps.size()));
    xml.writeAttribute("failures", QString::number(failures));
    xml.writeAttribute("errors", QStringLiteral("0"));
    xml.writeAttribute("skipped", QString::number(skipped));
    xml.writeAttribute("time", seconds(total));
    xml.writeStartElement("properties");
    for (const auto& [name, value] : {std::pair{QStringLiteral("dut"), suite.dut.value_or(QString())},
                                      std::pair{QStringLiteral("port"), suite.port}}) {
      xml.writeStartElement("property");
      xml.writeAttribute("name", name);
      xml.writeAttribute("value", value);
      xml.writeEndElement();
    }
    xml.writeEndElement();
    for (const StepReport& s : suite.steps) {
      xml.writeStartElement("testcase");
      xml.writeAttribute("name", s.name);
      xml.writeAttribute("classname", QStringLiteral("%1.mode%2").arg(suite.name).arg(s.mode));
      xml.writeAttribute("time", seconds(s.seconds));
      if (s.skipped) {
        xml.writeStartElement("skipped");
        xml.writeAttribute("message", QStringLiteral("not run, as an earlier step failed"));
        xml.writeEndElement();
      } else {
        if (!s.pass()) {
          xml.writeStartElement("failure");
          xml.writeAttribute("message", s.reason);
          xml.writeAttribute("type", failureType(s.code));
          xml.writeCharacters(QStringLiteral("exit %1").arg(s.code));
          xml.writeEndElement();
        }
        xml.writeTextElement("system-out", measurementLine(s.measured));
      }
      xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
  });
}

}  // namespace kestrel::run
