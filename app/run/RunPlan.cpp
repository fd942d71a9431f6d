#include "RunPlan.h"

#include "sessions/ModeCatalogue.h"
#include "sessions/ModeProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <string_view>

#include <toml++/toml.h>

namespace kestrel::run {

namespace {

QString text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
int lineOf(const toml::node& n) { return int(n.source().begin.line); }

// The option a key stands for, and its value as the command line would
// give it; a plan is checked by the same rules as the command line.
struct Given {
  QString key;
  int line = 0;
};

class PlanReader {
 public:
  PlanReader(const QString& path, const Options& commandLine)
      : path_(path), dir_(QFileInfo(path).absoluteDir()), cli_(commandLine) {}

  PlanLoad read() {
    PlanLoad load;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
      load.error = QStringLiteral("%1: cannot read the plan: %2").arg(path_, file.errorString());
      return load;
    }
    const QByteArray bytes = file.read(kMaxPlanBytes + 1);
    if (file.error() != QFileDevice::NoError) {
      load.error = QStringLiteral("%1: cannot read the plan: %2").arg(path_, file.errorString());
      return load;
    }
    if (bytes.size() > kMaxPlanBytes) {
      load.error = QStringLiteral("%1: a plan larger than %2 bytes is refused").arg(path_).arg(kMaxPlanBytes);
      return load;
    }
    toml::table root;
    try {
      root = toml::parse(std::string_view(bytes.constData(), std::size_t(bytes.size())), path_.toStdString());
    } catch (const toml::parse_error& e) {
      load.error = QStringLiteral("%1:%2: %3").arg(path_).arg(e.source().begin.line).arg(text(e.description()));
      return load;
    }
    if (!readPlan(root, load.plan)) load.error = error_;
    return load;
  }

 private:
  bool fail(int line, const QString& key, const QString& what) {
    QString where = QStringLiteral("%1:%2: ").arg(path_).arg(line);
    if (step_ > 0) where += QStringLiteral("step %1: ").arg(step_);
    if (!key.isEmpty()) where += QStringLiteral("key '%1': ").arg(key);
    error_ = where + what;
    return false;
  }

  std::optional<QString> string(const toml::node& n, const QString& key) {
    if (const auto* s = n.as_string()) return text(s->get());
    fail(lineOf(n), key, QStringLiteral("expected a text"));
    return std::nullopt;
  }
  // A whole number, or where the window takes a box's text, that text.
  std::optional<QString> wholeOrText(const toml::node& n, const QString& key, bool textToo) {
    if (const auto* i = n.as_integer()) return QString::number(i->get());
    if (textToo)
      if (const auto* s = n.as_string()) return text(s->get());
    fail(lineOf(n), key, textToo ? QStringLiteral("expected a whole number or a text") : QStringLiteral("expected a whole number"));
    return std::nullopt;
  }
  std::optional<QString> number(const toml::node& n, const QString& key) {
    if (const auto* i = n.as_integer()) return QString::number(i->get());
    if (const auto* f = n.as_floating_point()) return QString::number(f->get(), 'g', 17);
    fail(lineOf(n), key, QStringLiteral("expected a number"));
    return std::nullopt;
  }
  // A list as the command line writes it: "1,15,145".
  std::optional<QString> list(const toml::node& n, const QString& key, bool textToo) {
    if (const auto* a = n.as_array()) {
      QStringList items;
      for (const toml::node& item : *a) {
        if (const auto* i = item.as_integer())
          items << QString::number(i->get());
        else if (const auto* s = textToo ? item.as_string() : nullptr)
          items << text(s->get());
        else
          return fail(lineOf(item), key, QStringLiteral("expected a list of whole numbers")), std::nullopt;
      }
      return items.join(u',');
    }
    return wholeOrText(n, key, textToo);
  }

  bool readLimits(const toml::node& n, const QString& prefix, Limits& limits) {
    const toml::table* t = n.as_table();
    if (!t) return fail(lineOf(n), prefix, QStringLiteral("expected a table of limits"));
    for (auto&& [k, v] : *t) {
      const QString name = text(k.str());
      const QString key = prefix + u'.' + name;
      const std::optional<QString> value = number(v, key);
      if (!value) return false;
      if (const QString why = limits.set(name, *value); !why.isEmpty()) return fail(lineOf(v), key, why);
    }
    return true;
  }

  bool readPlan(const toml::table& root, Plan& plan) {
    plan.name = QStringLiteral("kestrel-run");
    const toml::array* steps = nullptr;
    int stepsLine = 1;
    for (auto&& [k, v] : root) {
      const QString key = text(k.str());
      if (key == u"name") {
        const auto s = string(v, key);
        if (!s) return false;
        if (s->trimmed().isEmpty()) return fail(lineOf(v), key, QStringLiteral("expected a name"));
        plan.name = s->trimmed();
      } else if (key == u"port") {
        const auto s = string(v, key);
        if (!s) return false;
        port_ = *s;
        given_.insert(QStringLiteral("--port"), {key, lineOf(v)});
      } else if (key == u"dut") {
        const auto s = string(v, key);
        if (!s) return false;
        if (s->trimmed().isEmpty()) return fail(lineOf(v), key, QStringLiteral("expected a text naming the unit"));
        plan.dut = s->trimmed();
      } else if (key == u"timeout") {
        timeout_ = number(v, key);
        if (!timeout_) return false;
        given_.insert(QStringLiteral("--timeout"), {key, lineOf(v)});
      } else if (key == u"stop_on_fail") {
        const auto* b = v.as_boolean();
        if (!b) return fail(lineOf(v), key, QStringLiteral("expected true or false"));
        plan.stopOnFail = b->get();
      } else if (key == u"limits") {
        if (!readLimits(v, key, limits_)) return false;
      } else if (key == u"step") {
        steps = v.as_array();
        stepsLine = lineOf(v);
        if (!steps || !steps->is_array_of_tables()) return fail(stepsLine, key, QStringLiteral("expected [[step]] tables"));
      } else {
        return fail(int(k.source().begin.line), key, QStringLiteral("unknown key"));
      }
    }
    if (!steps || steps->empty()) return fail(stepsLine, {}, QStringLiteral("the plan has no [[step]]"));
    if (cli_.portGiven) port_ = cli_.port;
    if (cli_.dut) plan.dut = cli_.dut;
    plan.port = port_.value_or(QString());
    for (const toml::node& n : *steps) {
      ++step_;
      PlanStep s;
      if (!readStep(*n.as_table(), plan, s)) return false;
      plan.steps.push_back(std::move(s));
    }
    return true;
  }

  bool readStep(const toml::table& t, const Plan& plan, PlanStep& step) {
    const int stepLine = lineOf(t);
    QHash<QString, Given> given = given_;
    QStringList args;
    auto add = [&](const QString& option, const QString& value, const QString& key, int line) {
      args << option << value;
      given.insert(option, {key, line});
    };
    // Key: the option it stands for; whether a text is taken beside a number.
    static const QHash<QString, std::pair<QString, bool>> wholes{
        {QStringLiteral("unit"), {QStringLiteral("--unit"), true}},
        {QStringLiteral("repeat"), {QStringLiteral("--repeat"), false}},
        {QStringLiteral("line"), {QStringLiteral("--line"), false}},
        {QStringLiteral("digits"), {QStringLiteral("--digits"), false}},
        {QStringLiteral("pause_ms"), {QStringLiteral("--pause-ms"), true}},
        {QStringLiteral("strobe_ms"), {QStringLiteral("--strobe-ms"), true}}};
    static const QHash<QString, QString> texts{{QStringLiteral("port"), QStringLiteral("--port")},
                                               {QStringLiteral("access_code"), QStringLiteral("--access-code")}};
    static const QHash<QString, QString> paths{{QStringLiteral("schedule"), QStringLiteral("--schedule")},
                                               {QStringLiteral("frames"), QStringLiteral("--frames")}};
    std::optional<int> mode;
    bool channels = false, ownPort = false;
    Limits stepLimits;
    for (auto&& [k, v] : t) {
      const QString key = text(k.str());
      const int line = lineOf(v);
      if (key == u"name") {
        const auto s = string(v, key);
        if (!s) return false;
        if (s->trimmed().isEmpty()) return fail(line, key, QStringLiteral("expected a name"));
        step.name = s->trimmed();
      } else if (key == u"mode") {
        if (!(mode = modeOf(v))) return false;
        add(QStringLiteral("--mode"), QString::number(*mode), key, line);
      } else if (key == u"channels") {
        const auto s = list(v, key, true);
        if (!s) return false;
        add(QStringLiteral("--channels"), *s, key, line);
        channels = true;
      } else if (key == u"rows") {
        const auto s = list(v, key, false);
        if (!s) return false;
        add(QStringLiteral("--rows"), *s, key, line);
      } else if (key == u"timeout") {
        const auto s = number(v, key);
        if (!s) return false;
        add(QStringLiteral("--timeout"), *s, key, line);
      } else if (const auto w = wholes.find(key); w != wholes.end()) {
        const auto s = wholeOrText(v, key, w->second);
        if (!s) return false;
        add(w->first, *s, key, line);
      } else if (const auto p = texts.find(key); p != texts.end()) {
        const auto s = string(v, key);
        if (!s) return false;
        add(p.value(), *s, key, line);
        ownPort = ownPort || key == u"port";
      } else if (const auto p = paths.find(key); p != paths.end()) {
        const auto s = string(v, key);
        if (!s) return false;
        // A plan's files are where the plan is.
        add(p.value(), s->isEmpty() ? *s : QDir::cleanPath(dir_.filePath(*s)), key, line);
      } else if (key == u"limits") {
        if (!readLimits(v, key, stepLimits)) return false;
      } else {
        return fail(int(k.source().begin.line), key, QStringLiteral("unknown key"));
      }
    }
    if (!mode) return fail(stepLine, QStringLiteral("mode"), QStringLiteral("missing: a menu entry 0 to 19 or its caption"));
    if (!channels && *mode != 8)
      return fail(stepLine, QStringLiteral("channels"), QStringLiteral("missing: \"auto\", or a list such as [1, 15, 145]"));
    // The plan's port, then the command line's, for the serial steps alone.
    if (modeProfile(*mode).port) {
      if (cli_.portGiven) {
        if (ownPort) {
          const qsizetype at = args.indexOf(QStringLiteral("--port"));
          args[at + 1] = cli_.port;
        } else {
          args << QStringLiteral("--port") << cli_.port;
        }
      } else if (!ownPort && port_) {
        args << QStringLiteral("--port") << *port_;
      }
    }
    if (timeout_ && !args.contains(QStringLiteral("--timeout"))) args << QStringLiteral("--timeout") << *timeout_;

    const ParseResult parsed = parseArguments(args);
    if (!parsed.error.isEmpty()) return blame(parsed.error, given, stepLine);
    step.options = parsed.options;
    step.options.json = cli_.json;
    step.options.dut = plan.dut;
    const Checked checked = checkRun(step.options);
    if (checked.code != kExitOk) return blame(checked.error, given, stepLine);
    step.entries = checked.entries;
    if (step.name.isEmpty()) step.name = QStringLiteral("mode %1").arg(*mode);
    step.limits = limits_;
    step.limits.overrideWith(stepLimits);
    step.limits.overrideWith(cli_.limits);
    return true;
  }

  // A check's message names its option first where it is about one: the
  // key the option came from, which may be the plan's own.
  bool blame(const QString& message, const QHash<QString, Given>& given, int stepLine) {
    for (auto g = given.begin(); g != given.end(); ++g) {
      const QString& option = g.key();
      const bool named = message.startsWith(option) &&
                         (message.size() == option.size() || message[option.size()] == u':' ||
                          message[option.size()] == u' ');
      if (named) return fail(g->line, g->key, message);
    }
    return fail(stepLine, {}, message);
  }

  // A menu entry by its number, or by its caption as the menu shows it.
  std::optional<int> modeOf(const toml::node& n) {
    if (const auto* i = n.as_integer()) {
      if (i->get() >= 0 && i->get() < kModeCount) return int(i->get());
      fail(lineOf(n), QStringLiteral("mode"), QStringLiteral("no menu entry %1: 0 to %2").arg(i->get()).arg(kModeCount - 1));
      return std::nullopt;
    }
    if (const auto* s = n.as_string()) {
      const QString caption = text(s->get()).trimmed();
      for (int m = 0; m < kModeCount; ++m)
        if (kModeCatalogue[std::size_t(m)].caption.trimmed() == caption) return m;
      fail(lineOf(n), QStringLiteral("mode"), QStringLiteral("no menu entry is captioned '%1'").arg(caption));
      return std::nullopt;
    }
    fail(lineOf(n), QStringLiteral("mode"), QStringLiteral("expected a menu entry number or its caption"));
    return std::nullopt;
  }

  QString path_;
  QDir dir_;
  const Options& cli_;
  QString error_;
  int step_ = 0;  // the step being read, from 1
  std::optional<QString> port_;
  std::optional<QString> timeout_;
  Limits limits_;
  QHash<QString, Given> given_;  // options the plan's top sets
};

}  // namespace

PlanLoad loadPlan(const QString& path, const Options& commandLine) { return PlanReader(path, commandLine).read(); }

}  // namespace kestrel::run
