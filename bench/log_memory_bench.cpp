// What a test window's log costs in memory as a run goes on:
//   (no argument)  both grid runs below, each in a process of its own, and
//                  their ratios
//   grid N bounded|unbounded
//                  N lines of a buffered run straight into a shown grid;
//                  bounded is the windows' grid with its journal, unbounded
//                  a grid that keeps every line and writes no journal (the
//                  baseline)
//   window S [fast]
//                  the buffered window repeating a list against a simulated
//                  unit that answers at once, for S seconds: lines a second
//                  and memory a line through the real window and port; fast
//                  skips the protocol's waits, so that a few minutes log what
//                  a night would
#include "windows/serial/BufferedForms.h"
#include "kit/EntryPanel.h"
#include "kit/LogGrid.h"
#include "link/SerialLink.h"
#include "core/Pause.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

using namespace kestrel;

namespace {

double residentMiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

qint64 linesIn(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  qint64 lines = 0;
  QByteArray chunk;
  while (!(chunk = file.read(1 << 20)).isEmpty()) lines += chunk.count('\n');
  return lines;
}

// The lines one frame of a buffered run logs, made afresh each time as the
// session makes them.
QString runLine(long i) {
  switch (i % 6) {
    case 0: return QStringLiteral("[受信]：ACK(06h)");
    case 1: return QStringLiteral("[送信]：STX(02h)");
    case 2: return QStringLiteral("[送信]：%1").arg(i / 6 % 255 + 1, 3, 10, QLatin1Char('0'));
    case 3: return QStringLiteral("[送信]：ETX(03h)");
    case 4: return QStringLiteral("[送信]：BCC(%1h)").arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
    default: return QStringLiteral("[送信]：ENQ(05h)");
  }
}

int grid(long lines, bool bounded) {
  QTemporaryDir logs;
  qputenv("KESTREL_LOG_DIR", logs.path().toLocal8Bit());
  LogGridStyle style;
  if (!bounded) style.maxLines = std::numeric_limits<int>::max();
  LogModel model(style);
  if (bounded) model.setJournal(LogJournal::open(QStringLiteral("bench")));
  LogGrid view(&model);
  view.show();
  QApplication::processEvents();

  const double start = residentMiB();
  double half = start;
  QElapsedTimer clock;
  clock.start();
  for (long i = 0; i < lines; ++i) {
    model.AddLog(runLine(i));
    // A window's event loop runs between frames.
    if (i % 600 == 599) QApplication::processEvents();
    if (i == lines / 2) half = residentMiB();
  }
  QApplication::processEvents();
  const double ns = double(clock.nsecsElapsed()) / double(lines);
  const double end = residentMiB();
  qint64 journaled = -1;
  if (model.journal()) {
    model.journal()->flush();
    journaled = linesIn(model.journal()->path());
  }
  std::printf("%s: %ld lines, resident %.1f -> %.1f MiB (%.1f at half way), %.1f bytes a line over the second half, "
              "%.0f ns a line, grid rows held %d, journal lines %lld\n",
              bounded ? "bounded" : "unbounded", lines, start, end, half,
              (end - half) * (1 << 20) / double(lines - lines / 2), ns, model.rowCount(), journaled);
  std::printf("%s_peak_mib: %.1f\n%s_ns_per_line: %.0f\n%s_bytes_per_line: %.1f\n", bounded ? "bounded" : "unbounded",
              end, bounded ? "bounded" : "unbounded", ns, bounded ? "bounded" : "unbounded",
              (end - start) * (1 << 20) / double(lines));
  return bounded && journaled != lines ? 1 : 0;
}

// The protocol's waits left out: only the port paces the run.
class NoWait : public Pause {
 public:
  void sleep(int) override {}
  void doEvents() override { QCoreApplication::processEvents(); }
};

int window(int seconds, bool fast) {
  NoWait noWait;
  QTemporaryDir logs;
  qputenv("KESTREL_LOG_DIR", logs.path().toLocal8Bit());
  // The unit runs in a process of its own: it keeps every byte it receives,
  // which is not the tester's memory.
  QProcess unit;
  unit.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kestrel-unit-sim"),
             {QStringLiteral("--protocol"), QStringLiteral("buffered"), QStringLiteral("--delay"), QStringLiteral("0")});
  if (!unit.waitForReadyRead(5000)) {
    std::fprintf(stderr, "the simulated unit did not start\n");
    return 1;
  }
  qputenv("KESTREL_COM1", unit.readLine().trimmed());
  FrmRS232CMode2 form(nullptr, fast ? static_cast<Pause&>(noWait) : realPause());
  if (!form.PDQ_COM->isOpen()) {
    std::fprintf(stderr, "could not open %s\n", qPrintable(form.PDQ_COM->device()));
    return 1;
  }
  form.panel->OptMode[1]->click();
  for (int i = 0; i < 20; ++i) form.panel->TxtNo[i]->setText(QString::number(i + 1));
  form.panel->chk_Repeat->click();
  QApplication::processEvents();

  const double start = residentMiB();
  QElapsedTimer clock;
  clock.start();
  form.CmdAction[0]->click();
  double peak = start;
  for (qint64 next = 0; clock.elapsed() < seconds * 1000;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (clock.elapsed() >= next) {
      peak = std::max(peak, residentMiB());
      next += 1000;
    }
  }
  form.CmdAction[1]->click();
  const double elapsed = double(clock.elapsed()) / 1000;
  const qint64 lines = form.log->linesSinceClear();
  const double end = residentMiB();
  unit.terminate();
  unit.waitForFinished();
  LogJournal* journal = form.log->journal();
  const qint64 journaled = journal && journal->flush() ? linesIn(journal->path()) : -1;
  std::printf("window%s: %lld lines in %.1f s (%.0f a second, %.1f million a day), resident %.1f -> %.1f MiB "
              "(peak %.1f), %.1f bytes a line, grid rows held %d, journal lines %lld\n",
              fast ? " (no waits)" : "", lines, elapsed, double(lines) / elapsed, double(lines) / elapsed * 86400 / 1e6,
              start, end, peak, (end - start) * (1 << 20) / double(qMax<qint64>(lines, 1)), form.log->rowCount(),
              journaled);
  return lines > 0 && journaled == lines ? 0 : 1;
}

double valueOf(const QByteArray& output, const char* key) {
  const QRegularExpression re(QStringLiteral("%1: ([0-9.]+)").arg(QLatin1String(key)));
  return re.match(QString::fromLatin1(output)).captured(1).toDouble();
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() == 3 && args[0] == QStringLiteral("grid")) return grid(args[1].toLong(), args[2] == "bounded");
  if ((args.size() == 2 || args.size() == 3) && args[0] == QStringLiteral("window"))
    return window(args[1].toInt(), args.size() == 3 && args[2] == QStringLiteral("fast"));
  if (!args.isEmpty()) {
    std::fprintf(stderr, "usage: %s [grid LINES bounded|unbounded | window SECONDS [fast]]\n", argv[0]);
    return 2;
  }

  // Each in a fresh process, so that neither inherits the other's heap.
  const auto run = [&](const QStringList& what) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), what);
    p.waitForFinished(-1);
    const QByteArray out = p.readAllStandardOutput();
    std::fputs(out.constData(), stdout);
    if (p.exitCode() != 0) std::exit(1);
    return out;
  };
  const QByteArray baseline = run({QStringLiteral("grid"), QStringLiteral("1000000"), QStringLiteral("unbounded")});
  const QByteArray bounded = run({QStringLiteral("grid"), QStringLiteral("3000000"), QStringLiteral("bounded")});
  std::printf("ratio resident, bounded at 3M lines / unbounded at 1M lines: %.3f\n",
              valueOf(bounded, "bounded_peak_mib") / valueOf(baseline, "unbounded_peak_mib"));
  std::printf("ratio time a line, bounded with journal / unbounded without: %.3f\n",
              valueOf(bounded, "bounded_ns_per_line") / valueOf(baseline, "unbounded_ns_per_line"));
  return 0;
}
