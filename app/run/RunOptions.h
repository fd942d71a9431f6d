#pragma once
// The headless runner's command line, its exit codes, and the entries a
// mode's window would take from it.

#include "core/RunMeter.h"
#include "sessions/FenwickSession.h"
#include "sessions/ModeProfile.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kestrel::run {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,          // anything not covered below
  kExitBadArguments = 2,    // the command line, or the entries the window refuses
  kExitPortUnavailable = 3, // missing, not openable, lost or not writable
  kExitPortBusy = 4,
  kExitNoAnswer = 5,        // no progress within the time-out
  kExitRefused = 6,         // the unit refused (NAK and the like)
  kExitNoBoard = 7,         // no expansion board, its library missing, or the board lost
  kExitNotSupported = 8,    // the mode cannot run headless
  kExitInterrupted = 9,     // SIGINT, SIGTERM, SIGHUP, or stdout closed
  kExitResultsLost = 10,    // a run's record not stored, not even queued locally
};

struct Options {
  int mode = -1;
  QString port = QStringLiteral("COM1");
  bool portGiven = false;
  bool channelsGiven = false;
  bool manual = false;
  QStringList boxes;  // the manual list as typed, one item a box
  std::optional<QString> unit;
  int repeat = 1;
  std::optional<QString> strobeMs;
  std::optional<QString> accessCode;
  int line = 1;  // mode 5: LINE番号
  std::optional<QString> schedule;  // modes 4, 7: TxtPath
  std::optional<QString> frames;    // mode 8: the frame table file
  QList<int> rows;                  // mode 8: rows for １フレーム送信; empty: 全フレーム送信
  std::optional<int> digits;        // mode 8: Option1, 3 or 4
  std::optional<QString> pauseMs;   // mode 8: TxtIoTime
  bool json = false;
  double timeoutSeconds = 10.0;
  bool help = false;
  bool version = false;
  bool listPorts = false;
  std::optional<QString> dut;    // the unit under test, as the reports name it
  Limits limits;                 // --limit, over whatever a plan sets
  std::optional<QString> junit;  // the JUnit report's file
  std::optional<QString> plan;   // a run plan's file
  std::optional<QString> results;  // the results store: a file or a postgresql:// URL
  QStringList stepOptions;       // the options given that a plan's steps set
};

struct ParseResult {
  Options options;
  QString error;  // empty when the arguments made sense
};

ParseResult parseArguments(const QStringList& args);
QString usage();

// The channel list and unit the window would take, or why it refuses them.
struct Entries {
  bool ok = false;
  QString error;
  QList<qint64> numbers;     // the channels, as the session takes them
  int unit = 0;
  int strobeMs = 0;
  FenwickSession::Request request;  // modes 4, 7
  QString path;                     // modes 4, 7: the schedule file; 8: the frame table
};
Entries checkOptions(const Options& options, const ModeProfile& profile);

// Everything checked before a run begins: that the mode runs headless, the
// menu's access code, then the entries.
struct Checked {
  int code = kExitOk;
  QString error;
  Entries entries;
};
Checked checkRun(const Options& options);

}  // namespace kestrel::run
