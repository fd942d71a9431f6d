#include "RunOptions.h"

#include "sessions/BinarySessions.h"
#include "sessions/BriskSession.h"
#include "sessions/ModeCatalogue.h"
#include "core/ModString.h"
#include "sessions/Schedule.h"

#include <QCoreApplication>
#include <QDir>

namespace kestrel::run {

namespace {

bool takeNumber(const QString& text, int low, int high, int* out) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < low || value > high) return false;
  *out = value;
  return true;
}

// What FrmFenwick and FrmFenwick1000CH check at 送信: the schedule file's
// path, then the request boxes (TxtCh, or TextStartCH and TextEndCH) in the
// window's order.
Entries checkFenwick(const Options& o, const ModeProfile& p) {
  Entries e;
  auto refuse = [&](const QString& why) {
    e.error = why;
    return e;
  };
  const FenwickVariant& v = *p.fenwick;
  const int boxCount = v.range ? 2 : 1;
  if (v.range && !o.manual)
    return refuse(QStringLiteral("--channels: mode %1 asks for a range: START,END").arg(o.mode));
  if (o.boxes.size() > boxCount)
    return refuse(v.range ? QStringLiteral("--channels: mode %1 asks for a range: START,END").arg(o.mode)
                          : QStringLiteral("--channels: mode %1 asks for every channel (auto) or one").arg(o.mode));
  const QString path = QDir::fromNativeSeparators(o.schedule.value_or(QString()));
  if (!isScheduleFile(path)) return refuse(QStringLiteral("--schedule: ") + kNoScheduleFile);
  FenwickSession::Request r;
  if (o.manual) {
    QStringList boxes = o.boxes;
    while (boxes.size() < boxCount) boxes.append(QString());
    if (const EntryCheck c = checkRequest(boxes, v.maxChannel, v.rangeMessage); !c.ok) return refuse(c.message);
    r.all = false;
    r.first = int(*integerValue(boxes.front()));
    r.last = int(*integerValue(boxes.back()));
    // The window sends such a range and reports success having judged no
    // channel; a run that verified nothing must not pass.
    if (r.first > r.last)
      return refuse(QStringLiteral("--channels: start %1 is above end %2, so no channel would be judged")
                        .arg(r.first)
                        .arg(r.last));
  }
  e.request = r;
  e.path = path;
  e.ok = true;
  return e;
}

// The frame editor: the rest is the session's own checks as it sends.
Entries checkBrisk(const Options& o) {
  Entries e;
  if (o.channelsGiven) {
    e.error = QStringLiteral("--channels: mode 8 sends its frame table; --rows picks rows of it");
  } else if (o.pauseMs && o.pauseMs->trimmed().isEmpty()) {
    e.error = QStringLiteral("--pause-ms: with the タイミング時間 box empty the window sends nothing");
  } else {
    e.path = o.frames.value_or(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("data.dat")));
    e.ok = true;
  }
  return e;
}

// The menu's access-code dialog, as a check.
std::optional<QString> accessRefusal(const Options& o, Gate gate) {
  if (gate != Gate::Access1 && gate != Gate::Access2) return std::nullopt;
  if (!o.accessCode || o.accessCode->isEmpty())
    return QStringLiteral("--access-code: パスワードを入力して下さい。");
  const QString& code = gate == Gate::Access1 ? kAccessCode01 : kAccessCode02;
  if (TrimSpaces(*o.accessCode) != code) return QStringLiteral("--access-code: パスワードが違います。確認して下さい。");
  return std::nullopt;
}

}  // namespace

Checked checkRun(const Options& o) {
  Checked c;
  const ModeProfile& profile = modeProfile(o.mode);
  if (!profile.notSupported.isEmpty()) {
    c.code = kExitNotSupported;
    c.error = QStringLiteral("mode %1 (%2) cannot run headless: %3")
                  .arg(o.mode)
                  .arg(profile.entry->caption.trimmed(), profile.notSupported);
    return c;
  }
  if (const auto refusal = accessRefusal(o, profile.gate())) {
    c.code = kExitBadArguments;
    c.error = *refusal;
    return c;
  }
  c.entries = checkOptions(o, profile);
  if (!c.entries.ok) {
    c.code = kExitBadArguments;
    c.error = c.entries.error;
  }
  return c;
}

ParseResult parseArguments(const QStringList& args) {
  ParseResult r;
  Options& o = r.options;
  bool modeGiven = false, channelsGiven = false;
  auto fail = [&](const QString& message) {
    r.error = message;
    return r;
  };
  for (int i = 0; i < args.size(); ++i) {
    QString name = args[i];
    std::optional<QString> inlineValue;
    if (const qsizetype eq = name.indexOf(u'='); name.startsWith(u"--") && eq > 0) {
      inlineValue = name.mid(eq + 1);
      name = name.left(eq);
    }
    auto value = [&]() -> std::optional<QString> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (name == u"--help" || name == u"-h") {
      o.help = true;
      continue;
    }
    if (name == u"--json") {
      o.json = true;
      continue;
    }
    if (name == u"--version") {
      o.version = true;
      continue;
    }
    if (name == u"--list-ports") {
      o.listPorts = true;
      continue;
    }
    static const QStringList valued = {QStringLiteral("--mode"),    QStringLiteral("--port"),
                                       QStringLiteral("--channels"), QStringLiteral("--unit"),
                                       QStringLiteral("--repeat"),  QStringLiteral("--strobe-ms"),
                                       QStringLiteral("--timeout"), QStringLiteral("--access-code"),
                                       QStringLiteral("--line"),    QStringLiteral("--schedule"),
                                       QStringLiteral("--frames"),  QStringLiteral("--rows"),
                                       QStringLiteral("--digits"),  QStringLiteral("--pause-ms")};
    // What a run plan cannot set per step, or what the command line overrides.
    static const QStringList runWide = {QStringLiteral("--dut"), QStringLiteral("--limit"),
                                        QStringLiteral("--junit"), QStringLiteral("--plan"),
                                        QStringLiteral("--results")};
    const bool stepOption = valued.contains(name) && name != u"--port";
    if (!stepOption && !runWide.contains(name) && name != u"--port")
      return fail(QStringLiteral("unknown argument: %1 (see --help)").arg(args[i]));
    const std::optional<QString> v = value();
    if (!v) return fail(QStringLiteral("%1 wants a value (see --help)").arg(name));
    if (stepOption && !o.stepOptions.contains(name)) o.stepOptions.append(name);
    if (name == u"--dut") {
      if (v->trimmed().isEmpty()) return fail(QStringLiteral("--dut wants a text naming the unit"));
      o.dut = v->trimmed();
    } else if (name == u"--limit") {
      if (const QString error = o.limits.set(*v); !error.isEmpty()) return fail(error);
    } else if (name == u"--junit") {
      if (v->isEmpty()) return fail(QStringLiteral("--junit wants a file"));
      o.junit = *v;
    } else if (name == u"--results") {
      if (v->isEmpty()) return fail(QStringLiteral("--results wants a file or a postgresql:// URL"));
      o.results = *v;
    } else if (name == u"--plan") {
      if (v->isEmpty()) return fail(QStringLiteral("--plan wants a file"));
      o.plan = *v;
    } else if (name == u"--mode") {
      if (!takeNumber(*v, 0, kModeCount - 1, &o.mode))
        return fail(QStringLiteral("--mode wants a menu entry 0 to %1, not '%2'").arg(kModeCount - 1).arg(*v));
      modeGiven = true;
    } else if (name == u"--port") {
      if (v->isEmpty()) return fail(QStringLiteral("--port wants COMn or a device path"));
      o.port = *v;
      o.portGiven = true;
    } else if (name == u"--channels") {
      channelsGiven = true;
      if (v->compare(u"auto", Qt::CaseInsensitive) == 0) {
        o.manual = false;
        o.boxes.clear();
      } else {
        o.manual = true;
        o.boxes = v->split(u',');
      }
    } else if (name == u"--unit") {
      o.unit = *v;
    } else if (name == u"--repeat") {
      if (!takeNumber(*v, 1, 32767, &o.repeat))
        return fail(QStringLiteral("--repeat wants a number of passes, 1 to 32767, not '%1'").arg(*v));
    } else if (name == u"--strobe-ms") {
      o.strobeMs = *v;
    } else if (name == u"--timeout") {
      bool ok = false;
      o.timeoutSeconds = v->toDouble(&ok);
      if (!ok || o.timeoutSeconds <= 0 || o.timeoutSeconds > 86400)
        return fail(QStringLiteral("--timeout wants seconds above 0, not '%1'").arg(*v));
    } else if (name == u"--access-code") {
      o.accessCode = *v;
    } else if (name == u"--line") {
      if (!takeNumber(*v, 1, 9, &o.line)) return fail(QStringLiteral("--line wants 1 to 9, not '%1'").arg(*v));
    } else if (name == u"--schedule") {
      o.schedule = *v;
    } else if (name == u"--frames") {
      if (v->isEmpty()) return fail(QStringLiteral("--frames wants a file"));
      o.frames = *v;
    } else if (name == u"--rows") {
      o.rows.clear();
      for (const QString& item : v->split(u',')) {
        int row = 0;
        if (!takeNumber(item.trimmed(), 1, BriskSession::kRows, &row))
          return fail(
              QStringLiteral("--rows wants frame rows 1 to %1 such as 1,3, not '%2'").arg(BriskSession::kRows).arg(*v));
        o.rows.append(row);
      }
    } else if (name == u"--digits") {
      int digits = 0;
      if (!takeNumber(*v, 3, 4, &digits)) return fail(QStringLiteral("--digits wants 3 or 4, not '%1'").arg(*v));
      o.digits = digits;
    } else if (name == u"--pause-ms") {
      o.pauseMs = *v;
    }
  }
  if (o.help || o.version || o.listPorts) return r;
  if (o.plan) {
    if (!o.stepOptions.isEmpty())
      return fail(QStringLiteral("%1: with --plan the steps set it; the command line sets only --port, --dut, "
                                 "--limit, --junit and --json")
                      .arg(o.stepOptions.front()));
    return r;
  }
  if (!modeGiven) return fail(QStringLiteral("--mode is required (see --help)"));
  o.channelsGiven = channelsGiven;
  // The frame editor sends its table, not channels.
  if (!channelsGiven && o.mode != 8)
    return fail(QStringLiteral("--channels is required: auto, or a list such as 1,15,145"));
  return r;
}

Entries checkOptions(const Options& o, const ModeProfile& p) {
  Entries e;
  auto refuse = [&](const QString& why) {
    e.error = why;
    return e;
  };
  // The window's channel unit and strobe width as it opens; empty where it has none.
  const QString unitDefault = p.panel && p.panel->unit ? p.panel->unitDefault : QString();
  const QString strobeDefault = p.bufferedBinary ? p.bufferedBinary->timingText : QString();
  if (o.unit && unitDefault.isEmpty())
    return refuse(QStringLiteral("--unit: mode %1 has no channel unit").arg(o.mode));
  if (o.strobeMs && strobeDefault.isEmpty())
    return refuse(QStringLiteral("--strobe-ms: mode %1 has no strobe width").arg(o.mode));
  if (o.repeat > 1 && !(p.panel && p.panel->repeat)) return refuse(QStringLiteral("--repeat: mode %1 has no repeat").arg(o.mode));
  if (o.repeat > 1 && !o.manual)
    return refuse(QStringLiteral("--repeat: the window repeats manual lists only, not auto"));
  if (o.portGiven && !p.port)
    return refuse(QStringLiteral("--port: mode %1 plays through the expansion board, not a serial port").arg(o.mode));
  if (o.line != 1 && o.mode != 5) return refuse(QStringLiteral("--line: only mode 5 sends a line number"));
  if (o.schedule && !p.fenwick)
    return refuse(QStringLiteral("--schedule: only modes 4 and 7 read a schedule file"));
  for (const auto& [given, name] : {std::pair{o.frames.has_value(), "--frames"}, std::pair{!o.rows.isEmpty(), "--rows"},
                                    std::pair{o.digits.has_value(), "--digits"},
                                    std::pair{o.pauseMs.has_value(), "--pause-ms"}})
    if (given && p.driver != Driver::Brisk)
      return refuse(QStringLiteral("%1: only mode 8 sends a frame table").arg(QLatin1String(name)));
  if (p.fenwick) return checkFenwick(o, p);
  if (p.driver == Driver::Brisk) return checkBrisk(o);
  if (!p.panel) return refuse(QStringLiteral("--channels: mode %1 has no channel entries").arg(o.mode));
  const EntryPanelSpec& panel = *p.panel;
  if (o.manual && o.boxes.size() > panel.boxes)
    return refuse(QStringLiteral("--channels: at most %1 channels, as the window has %1 boxes").arg(panel.boxes));
  for (const QString& box : o.boxes)
    if (box.size() > panel.boxMaxLength)
      return refuse(QStringLiteral("--channels: '%1' does not fit the window's %2-character box")
                        .arg(box)
                        .arg(panel.boxMaxLength));
  const QString unitText = o.unit.value_or(unitDefault);
  if (unitText.size() > 2) return refuse(QStringLiteral("--unit: the window's box takes two digits, not '%1'").arg(unitText));

  QStringList boxes = o.boxes;
  while (boxes.size() < panel.boxes) boxes.append(QString());
  const EntryCheck check = checkEntries(boxes, o.manual, unitText, panel.rules);
  if (!check.ok) {
    if (check.message.isEmpty()) return refuse(QStringLiteral("--channels: the list is empty"));
    // The box the window would select, numbered as the window shows it once
    // it has moved the filled boxes up.
    if (check.field == EntryCheck::Field::Channel && check.select && check.index >= 0)
      return refuse(QStringLiteral("--channels: box %1 ('%2'): %3")
                        .arg(check.index + 1)
                        .arg(boxes.value(check.index), check.message));
    if (check.field == EntryCheck::Field::Unit) return refuse(QStringLiteral("--unit: ") + check.message);
    return refuse(check.message);
  }
  if (p.bufferedBinary) {
    const TimingCheck timing = checkTiming(o.strobeMs.value_or(strobeDefault), p.bufferedBinary->timingDefault);
    if (!timing.ok) return refuse(timing.message);
    e.strobeMs = timing.widthMs;
  }
  e.numbers = channelNumbers(boxes, o.manual, p.autoMax);
  e.unit = unitDefault.isEmpty() ? 0 : int(integerValue(unitText).value_or(0));
  e.ok = true;
  return e;
}

QString usage() {
  return QStringLiteral(
R"usage(usage: kestrel-run --mode N --channels auto|LIST [options]
       kestrel-run --mode 4|7 --channels ... --schedule FILE --access-code CODE [options]
       kestrel-run --mode 8 [--frames FILE] [--rows LIST] --access-code CODE [options]
       kestrel-run --plan FILE [--port P] [--dut TEXT] [--limit NAME=VALUE]... [--junit FILE]
                   [--results STORE] [--json]
       kestrel-run --version

Runs one test of a voice unit without the windows: what pressing 再生 (送信)
in the menu entry's window does, until the run completes or fails. Each log
line the window would show goes to stdout; with stderr on a terminal the
channels sent so far are shown there.

  --mode N           the menu entry, 0-19 in menu order:
                        0 RS232C mode 1             9 HS-41/42-A
                        1 buffered 255CH           10 HS-41/42-B
                        2 buffered 250CH           11 customer (DLE)
                        3 buffered 1000CH          13 buffered binary 255CH
                        4 schedule check 1000CH    14 buffered binary positive 250CH
                        5 TARN4B LAN 1000CH        15 buffered binary negative 250CH
                        6 TARN5-KLV                16 LUMO7Q binary
                        7 schedule check 255CH     18 TARN-2G1-M positive logic
                        8 TARN5-NV frame sender    19 TARN-2G1-M negative logic
                       17 PLX6
                     the menu does not offer 12 (exit 8)
  --port COMn|PATH   serial port (default COM1); COMn goes through
                     KESTREL_COMn as in the windows. Binary modes use the
                     expansion board instead (USB first, then LAN)
  --channels auto    automatic mode: every channel of the window's range
  --channels 1,15,145
                     manual mode: the boxes in order, checked by the
                     window's rules; its message is the error
                     mode 7: auto asks for every channel (すべてのチャンネル),
                     a number for that one (指定のチャンネル, TxtCh)
                     mode 4: START,END (Start CH, End CH), START not
                     above END
  --unit K           channels per frame (modes 0-3, 5, 6, 9, 10, 17; the
                     window's default otherwise)
  --repeat N         play a manual list N times (modes 1-3, 5, 6, 13-15):
                     the window's リピート再生, ended after the N-th pass
  --strobe-ms T      strobe width in ms, 0-500 (modes 16, 18, 19; default
                     50 or 100 as in the window)
  --line N           LINE番号 1-9 for mode 5 (default 1)
  --schedule FILE    modes 4 and 7: the card data's schedule file (.wmj)
                     that the unit's schedule is compared with (TxtPath)
  --frames FILE      mode 8: the frame table, in the format of data.dat
                     (default: data.dat beside this program)
  --rows LIST        mode 8: send these rows, each as １フレーム送信 does,
                     in the order given (1-20); without it every frame is
                     sent as 全フレーム送信 does
  --digits 3|4       mode 8: digits of the unit number (台番号, default 3)
  --pause-ms T       mode 8: the pause after each frame (タイミング時間,
                     0-1000, default 50)
  --access-code CODE the access code the menu asks for modes 4, 6, 7 and 8
  --timeout SECONDS  longest wait for the run to progress (default 10); in
                     modes 0 and 11 it must cover the unit's playing time;
                     in modes 4 and 7 it is the window's reply time-out
  --json             log lines as JSON, one a line:
                     {"t":"2026-12-08T15:04:05.123Z","kind":"sent","text":"..."}
                     kind: sent, received, note, info, error, judged-ok or
                     judged-ng (modes 4 and 7: info and error are the
                     window's blue and red lines); after them one
                     {"kind":"result",...} record per run with the verdict,
                     the exit code, the reason and every measurement; before
                     the last result, one {"kind":"stored","id":"...",
                     "store":"...","queued":true,"forwarded":false} a run,
                     what became of its record in the results store
  --dut TEXT         names the unit under test in the summary, the result
                     record and the JUnit report
  --limit NAME=VALUE a run that completed fails (exit 1) past a limit:
                     answer-ms (slowest answer), naks, busy-ms (longest
                     busy time of a binary unit), judged (fewest channels
                     judged, modes 4 and 7); repeatable
  --junit FILE       a JUnit XML report of the run or of the plan's steps
  --results STORE    where each run's record is kept: an SQLite file, or a
                     line's server as postgresql://USER@HOST[:PORT]/DB
                     (default: KESTREL_RESULTS, else results.sqlite in the
                     user's data folder, ~/.local/share/KestrelTester).
                     Records for a server wait in that file while the
                     server is down and go to it at the next run
  --plan FILE        run the steps of a TOML run plan, one after the other
                     (see the README); --port, --dut and --limit override
                     what the plan sets
  --list-ports       where COM1 to COM8 go, and the serial ports this machine
                     has, as the settings screen shows them
  --version          the program's version
  -h, --help         this text

Every run ends with one summary line on stderr: PASS or FAIL with its
exit code, the mode, the unit (--dut), what was sent and the measurements.
A failed run's reason comes on the line before it.

A completed run leaves the unit to play what it holds; a failed or
interrupted one ends as closing the window does (the stop goes out).
Mode 8's window writes no log: each frame is shown as it went out, as
a sent line, and the window's information messages as info lines.

Exit codes (anything but 0 comes with a one-line reason on stderr):
  0  the run completed and the unit answered as its protocol requires
     (modes 4, 7: every channel judged OK; mode 8: every frame sent),
     within every limit; a plan: every step passed
  1  another failure; a limit exceeded (the measured value in the reason);
     the JUnit report could not be written; modes 4, 7: the schedule read
     back differs from the file (the NG channels), or the reply failed its
     check or parse
  2  bad arguments, a bad plan (file:line and key), or entries or files
     the window refuses (its message)
  3  the port is missing, cannot be opened, or was lost
  4  the port is held by another program
  5  no progress within the time-out
  6  the unit refused (NAK or its refusal)
  7  no expansion board, or its library is missing, or the board failed
     during the run ("デバイスへの接続に失敗しました。")
  8  the mode cannot run headless
  9  interrupted (SIGINT, SIGTERM or SIGHUP, or stdout closed by its
     reader, as in kestrel-run ... | head)
 10  the run's record could not be stored, not even in the local queue
     (a run that failed keeps its own code)
A plan exits with the first failing step's code.
)usage");
}

}  // namespace kestrel::run
