#include "Runner.h"

#include "RunOptions.h"
#include "RunPlan.h"
#include "RunReport.h"
#include "RunResults.h"
#include "core/RunMeter.h"
#include "sessions/BinarySessions.h"
#include "sessions/BriskSession.h"
#include "sessions/FenwickSession.h"
#include "sessions/BufferedSession.h"
#include "core/SessionEvents.h"
#include "sessions/Mode1Session.h"
#include "sessions/Mode34Session.h"
#include "sessions/Mode5Session.h"
#include "sessions/Plx6Session.h"
#include "link/ComPorts.h"
#include "link/SerialLink.h"
#include "core/Prompter.h"
#include "core/ModString.h"
#include "sessions/ModeProfile.h"
#include "core/ChannelEntry.h"
#include "sessions/ModeCatalogue.h"
#include "core/Pause.h"
#include "core/SessionTimer.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kestrel::run {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
// How long the end of a run waits for its records to be stored.
constexpr std::chrono::milliseconds kResultsFlush{5000};
extern "C" void onSignal(int) { gInterrupted = 1; }

bool stderrIsTerminal() {
#ifdef _WIN32
  return false;
#else
  return ::isatty(2) == 1;
#endif
}

QString jsonString(const QString& text) {
  QString out = QStringLiteral("\"");
  for (const QChar c : text) {
    if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else if (c.unicode() < 0x20) {
      out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    } else {
      out += c;
    }
  }
  return out + u'"';
}

const char* kindName(LineKind kind) {
  switch (kind) {
    case LineKind::Sent: return "sent";
    case LineKind::Received: return "received";
    case LineKind::Note: return "note";
    case LineKind::Info: return "info";
    case LineKind::Error:
    case LineKind::Fault: return "error";
    case LineKind::Judged: return "judged-ok";
    case LineKind::JudgedNg: return "judged-ng";
  }
  return "note";
}

// stdout for the log, stderr for progress and the reason.
class Output {
 public:
  explicit Output(bool json) : json_(json), progress_(stderrIsTerminal()) {}

  // A log line that could not be written ends the run; nothing more goes to
  // stdout. EPIPE: the reader went away (SIGPIPE is ignored).
  std::function<void(int error)> failed;

  void line(const QString& text, LineKind kind) {
    if (stdoutFailed_) return;
    clearProgress();
    const QString out = json_ ? QStringLiteral("{\"t\":\"%1\",\"kind\":\"%2\",\"text\":%3}")
                                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
                                         QLatin1String(kindName(kind)), jsonString(text))
                              : text;
    errno = 0;
    if (std::fputs((out + u'\n').toUtf8().constData(), stdout) == EOF || std::fflush(stdout) == EOF) {
      const int error = errno;
      stdoutFailed_ = true;
      writeError_ = error;
      gInterrupted = 1;
      if (failed) failed(error);
    }
  }
  // A whole JSON record as one line of stdout; false when it could not be
  // written.
  bool record(const QByteArray& json) {
    if (stdoutFailed_) return false;
    clearProgress();
    errno = 0;
    if (std::fputs((json + '\n').constData(), stdout) == EOF || std::fflush(stdout) == EOF) {
      writeError_ = errno;
      stdoutFailed_ = true;
      gInterrupted = 1;  // as for a log line: nothing more can be reported
      return false;
    }
    return true;
  }
  int writeError() const { return writeError_; }
  void progress(int sent, int total, const char* what) {
    if (!progress_ || total == 0) return;
    std::fprintf(stderr, "\r\033[K%d/%d %s sent", sent, total, what);
    shown_ = true;
  }
  // Leaves the last count on its own line.
  void endProgress() {
    if (shown_) std::fputs("\n", stderr);
    shown_ = false;
  }
  // A line of its own on stderr.
  void note(const QString& text) {
    clearProgress();
    std::fputs((text + u'\n').toUtf8().constData(), stderr);
  }
  void reason(const QString& text) {
    clearProgress();
    std::fputs((QStringLiteral("kestrel-run: ") + text + u'\n').toUtf8().constData(), stderr);
  }

 private:
  void clearProgress() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
  }
  bool json_;
  bool progress_;
  bool shown_ = false;
  bool stdoutFailed_ = false;
  int writeError_ = 0;
};

// The session's lines, printed as they come.
class RunLines : public SessionEvents {
 public:
  explicit RunLines(Output& out) : out_(out) {}
  void AddLog(const QString& text, LineKind kind) override { out_.line(text, kind); }

 private:
  Output& out_;
};

// The windows' message boxes, answered without a window: every box is
// handed to the run, and a question is answered with the choice that
// changes nothing.
class RunPrompt : public Prompter {
 public:
  explicit RunPrompt(std::function<void(const Message&)> shown) : shown_(std::move(shown)) {}
  using Prompter::ask;
  MsgAnswer ask(const Message& m) override {
    shown_(m);
    switch (m.buttons) {
      case MsgButtons::Ok: return MsgAnswer::Ok;
      case MsgButtons::YesNo: return MsgAnswer::No;
      case MsgButtons::OkCancel:
      case MsgButtons::YesNoCancel:
      case MsgButtons::RetryCancel: break;
    }
    return MsgAnswer::Cancel;
  }

 private:
  std::function<void(const Message&)> shown_;
};

struct Outcome {
  int code;
  QString reason;
};

// What every run has: its verdict, the time-out on progress, the log. The
// run is judged by the session's events; its lines are only printed.
class Drive : protected SessionEvents {
 public:
  Drive(const Options& o, const Entries& e, Output& out)
      : options_(o),
        entries_(e),
        lines_(out),
        prompt_([this](const Message& m) {
          messages_.push_back(m);
          shown(m);
        }) {
    log_.attach(lines_);
    log_.attach(*this);
  }
  virtual ~Drive() = default;

  // Another reader of the session's events.
  void attach(SessionEvents& reader) { log_.attach(reader); }

  // Opens what the run needs and starts it; an outcome when it cannot.
  virtual std::optional<Outcome> start() = 0;
  // The run failed or was interrupted: end as closing the window does.
  // What went wrong on the way, if anything, for the reason.
  virtual QString abort() = 0;
  // The run completed: let go without stopping the unit. An outcome when
  // letting go failed.
  virtual std::optional<Outcome> complete() = 0;
  virtual QString noProgress() const = 0;
  // Just before the time-out decides the run; false leaves it to the run.
  virtual bool timedOut() { return true; }
  // Sent so far over every pass, and what the whole run sends.
  virtual std::pair<int, int> counted() const {
    return {passesDone_ * last_.total + last_.sent, last_.total * options_.repeat};
  }
  virtual const char* progressUnit() const { return "channels"; }

  std::optional<Outcome> verdict;
  std::function<void()> advanced;
  std::function<void()> decided;

 protected:
  void AddLog(const QString&, LineKind) override {}
  void runStarted(const RunStarted& e) override { last_ = {0, e.total}; }
  void progress(const Progress& p) override {
    // A count after a full one is the next pass of a repeated list.
    if (last_.total > 0 && last_.sent == last_.total) ++passesDone_;
    last_ = p;
  }
  // A port that failed ends the run, whatever else the session says; a
  // completed one is decided where the drive has seen the whole event.
  void runFinished(const RunFinished& e) override {
    if (e.outcome == RunOutcome::Complete) completed_ = true;
    if (e.outcome == RunOutcome::PortLost) decide(kExitPortUnavailable, QStringLiteral("port error: ") + e.detail);
  }
  // A message box of the window.
  virtual void shown(const Message&) {}

  void decide(int code, const QString& reason = {}) {
    if (verdict) return;
    verdict = Outcome{code, reason};
    if (decided) decided();
  }
  void advance() {
    if (advanced) advanced();
  }

  const Options& options_;
  const Entries& entries_;
  RunLines lines_;
  SessionEventFan log_;  // what the session reports to
  RunPrompt prompt_;
  std::vector<Message> messages_;
  bool completed_ = false;  // the session said the run is complete

 private:
  Progress last_;
  int passesDone_ = 0;
};

// Opens the port as the mode's window does; an outcome when it cannot.
// `name` says which port it is.
std::optional<Outcome> openPort(SerialLink& link, const QString& port, const PortSettings& settings, QString* name) {
  static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                      QRegularExpression::CaseInsensitiveOption);
  if (const auto m = com.match(port); m.hasMatch()) {
    link.setCommPort(m.captured(1).toInt());
    *name = QStringLiteral("COM%1 (%2)").arg(m.captured(1), link.device());
  } else {
    link.setDevice(port);
    *name = port;
  }
  if (!configurePort(link, settings))
    return Outcome{kExitPortUnavailable,
                   QStringLiteral("cannot open %1: bad line settings '%2'").arg(*name, settings.settings)};
  if (link.open()) return std::nullopt;
  if (link.openError() == SerialLink::OpenError::Busy)
    return Outcome{kExitPortBusy, QStringLiteral("port busy: %1 is held by another program").arg(*name)};
  return Outcome{kExitPortUnavailable, QStringLiteral("cannot open %1: %2").arg(*name, link.errorString())};
}

template <class Session>
class SerialDrive : public Drive {
 public:
  template <class... Args>
  SerialDrive(const Options& o, const Entries& e, Output& out, Args&&... args)
      : Drive(o, e, out), session_(std::forward<Args>(args)..., link_, log_, realPause()) {
    QObject::connect(&link_, &SerialLink::comm, [this](int event) {
      if (verdict) return;
      session_.OnComm(event);
      if (verdict) return;
      if (!refused_.isEmpty()) return decide(kExitRefused, QStringLiteral("the unit refused: ") + refused_);
      judge();
      if (completed_) decide(kExitOk);
    });
    QObject::connect(&link_, &SerialLink::lost, [this](const QString& reason) { session_.PortLost(reason); });
  }

  std::optional<Outcome> start() override {
    if (auto failed = openPort(link_, options_.port, *modeProfile(options_.mode).port, &portName_))
      return failed;
    play();
    return verdict;
  }
  QString abort() override {
    if (link_.isOpen()) session_.Unload();
    link_.close();
    return {};
  }
  std::optional<Outcome> complete() override {
    link_.close();
    return std::nullopt;
  }
  QString noProgress() const override {
    return QStringLiteral("no answer from the unit on %1 within %2 s").arg(portName_).arg(options_.timeoutSeconds);
  }

 protected:
  virtual void play() = 0;
  // After each event of the port the session did not refuse.
  virtual void judge() {}
  void refusal(const Refusal& r) override { refused_ = r.reason; }
  void frameSent(const FrameSent& f) override {
    if (!f.channels.isEmpty()) ++frames_;
  }
  // An answer that lets the list go on.
  void answer(const Answer& a) override {
    if (a.kind == AnswerKind::Ack || a.kind == AnswerKind::DleAck || a.kind == AnswerKind::Ready) advance();
  }

  SerialLink link_;
  Session session_;
  QString portName_;
  QString refused_;
  int frames_ = 0;  // channel frames sent whole
};

// Modes 1, 2, 3, 5 and 6.
class BufferedDrive : public SerialDrive<BufferedSession> {
 public:
  BufferedDrive(const Options& o, const Entries& e, Output& out, const BufferedVariant& variant)
      : SerialDrive(o, e, out, variant) {}

 protected:
  void play() override {
    BufferedSession& s = session_;
    s.ManualMode = options_.manual;
    s.RepeatOn = options_.repeat > 1 ? 1 : 0;
    const int line = options_.line;
    s.selectedLine = [line] { return line; };
    s.Play(entries_.numbers, entries_.unit);
  }
  // The window repeats until 停止; the run turns repeat off once the last
  // pass has begun, which no event says: the session wraps its list where
  // a frame goes out. A pass ends where a frame goes out and the list wraps
  // to its start; an event sends one frame at most.
  void judge() override {
    BufferedSession& s = session_;
    if (frames_ != framesJudged_ && s.RepeatOn == 1 && s.ListPos == 0 && s.FramePending &&
        ++passes_ >= options_.repeat - 1)
      s.RepeatOn = 0;
    framesJudged_ = frames_;
  }

 private:
  int framesJudged_ = 0;
  int passes_ = 0;
};

// Mode 0: each line is taken with one ACK and played with another.
class Mode1Drive : public SerialDrive<Mode1Session> {
 public:
  using SerialDrive::SerialDrive;

 protected:
  void play() override { session_.Play(entries_.numbers, entries_.unit); }
};

// Mode 11: one play list, DLE ACK, then the end report, answered ACK.
class Mode5Drive : public SerialDrive<Mode5Session> {
 public:
  using SerialDrive::SerialDrive;

 protected:
  void play() override {
    session_.EndAnswer = Mode5Session::EndAck;
    session_.Send(entries_.numbers);
  }
  // The list taken, then the report that it was played.
  void answer(const Answer& a) override {
    if (a.kind == AnswerKind::DleAck) {
      accepted_ = true;
      advance();
    } else if (a.kind == AnswerKind::Report) {
      played_ = true;
      advance();
    }
  }
  // The report alone completes the session's run; the run wants the list
  // taken too, and counts it sent only then.
  void judge() override {
    if (accepted_ && played_) decide(kExitOk);
  }
  void runFinished(const RunFinished& e) override {
    if (e.outcome != RunOutcome::Complete) SerialDrive::runFinished(e);
  }
  std::pair<int, int> counted() const override {
    const int total = int(entries_.numbers.size());
    return {accepted_ ? total : 0, total};
  }

 private:
  bool accepted_ = false;
  bool played_ = false;
};

// Modes 9 and 10: ENQ, then a frame per ACK.
class Mode34Drive : public SerialDrive<Mode34Session> {
 public:
  using SerialDrive::SerialDrive;

 protected:
  void play() override { session_.Send(entries_.numbers, entries_.unit); }
};

// Mode 17: DLE ENQ, then a frame per "Ready".
class Plx6Drive : public SerialDrive<Plx6Session> {
 public:
  using SerialDrive::SerialDrive;

 protected:
  void play() override { session_.Play(entries_.numbers, entries_.unit); }
};

// Timer1 of the schedule windows. The run's time-out stands for it: started
// where the window starts it, it restarts the run's time-out.
class ReplyTimer : public SessionTimer {
 public:
  std::function<void()> started;
  void start(int) override {
    if (started) started();
  }
  void stop() override {}
};

// Modes 4 and 7: 送信, then the reply judged against the schedule file.
class FenwickDrive : public SerialDrive<FenwickSession> {
 public:
  // The session keeps a reference to timer_ and uses it only once running.
  FenwickDrive(const Options& o, const Entries& e, Output& out, const FenwickVariant& v)
      : SerialDrive(o, e, out, v, timer_, prompt_) {
    timer_.started = [this] { advance(); };
  }

  bool timedOut() override {
    const int state = session_.ExchangeState;
    // The verdict is being reached; the handler decides the run itself.
    if (state == FenwickSession::Evaluating) return false;
    if (state >= FenwickSession::AwaitStx && state <= FenwickSession::AwaitCheck) session_.Timer1_Timer();
    return true;
  }

 protected:
  void play() override {
    if (!session_.Start(entries_.path, entries_.request))
      decide(kExitBadArguments, QStringLiteral("--schedule: ") + lastMessage());
  }
  // The schedule's answers: nothing restarts the time-out but Timer1.
  void answer(const Answer&) override {}
  void channelVerdict(const ChannelVerdict& v) override {
    if (v.ok)
      ++judged_;
    else
      ng_ << zeroPadded(v.channel, 3);
  }
  void runFinished(const RunFinished& e) override {
    switch (e.outcome) {
      case RunOutcome::Complete: {
        if (ng_.isEmpty()) return decide(kExitOk);
        const qsizetype shown = qMin<qsizetype>(ng_.size(), 10);
        return decide(kExitFailed, QStringLiteral("受信データに異常があります。確認して下さい。 (NG %1 of %2: %3%4)")
                                       .arg(ng_.size())
                                       .arg(ng_.size() + judged_)
                                       .arg(ng_.mid(0, shown).join(QStringLiteral(", ")),
                                            shown < ng_.size() ? QStringLiteral(", ...") : QString()));
      }
      case RunOutcome::BadReply: return decide(kExitFailed, QStringLiteral("bad reply: ") + e.detail);
      case RunOutcome::NoAnswer: return decide(kExitNoAnswer, noProgress());
      default: return SerialDrive::runFinished(e);
    }
  }

 private:
  QString lastMessage() const { return messages_.empty() ? QString() : messages_.back().text; }

  ReplyTimer timer_;
  QStringList ng_;
  int judged_ = 0;
};

// The frame editor's port as its session sees it: nothing more goes after
// an interrupt.
class ShownLink : public LinkPort {
 public:
  explicit ShownLink(SerialLink& link) : link_(link) {}
  bool isOpen() const override { return link_.isOpen(); }
  int InBufferCount() const override { return link_.InBufferCount(); }
  QByteArray read() override { return link_.read(); }
  bool write(const QByteArray& bytes) override { return !gInterrupted && link_.write(bytes); }

 private:
  SerialLink& link_;
};

// The pause after each frame, cut short by an interrupt: a whole table at
// the longest pause takes 20 s.
class InterruptiblePause : public Pause {
 public:
  void sleep(int ms) override {
    const QDeadlineTimer deadline(ms);
    while (!gInterrupted && !deadline.hasExpired())
      realPause().sleep(int(qMin<qint64>(deadline.remainingTime(), 20)));
  }
  void doEvents() override { realPause().doEvents(); }
};

// Mode 8: the frame table loaded as データ読込 does, then 全フレーム送信, or
// １フレーム送信 on each row asked for. The unit never answers.
class BriskDrive : public Drive {
 public:
  BriskDrive(const Options& o, const Entries& e, Output& out)
      : Drive(o, e, out), port_(link_), session_(port_, pause_, prompt_) {
    session_.events = &log_;
  }

  std::optional<Outcome> start() override {
    if (options_.digits) session_.UnitWidth = *options_.digits;
    if (options_.pauseMs) session_.PauseText = *options_.pauseMs;
    session_.Load(entries_.path);
    if (!messages_.empty())
      return Outcome{kExitBadArguments, QStringLiteral("--frames %1: %2").arg(entries_.path, messages_.back().text)};
    if (auto failed = openPort(link_, options_.port, *modeProfile(options_.mode).port, &portName_))
      return failed;
    if (options_.rows.isEmpty()) {
      for (int r = 1; r <= BriskSession::kRows; ++r)
        if (!session_.Event[std::size_t(r)].trimmed().isEmpty() && !session_.Unit[std::size_t(r)].trimmed().isEmpty())
          ++total_;
      session_.SendAll();
      stopped(false);
    } else {
      total_ = int(options_.rows.size());
      for (const int row : options_.rows) {
        session_.CurrentRow = row;
        session_.CurrentColumn = BriskSession::EventColumn;
        session_.SendOne();
        if (stopped(true)) break;
      }
    }
    decide(kExitOk);
    return verdict;
  }
  QString abort() override {
    link_.close();
    return {};
  }
  std::optional<Outcome> complete() override {
    link_.close();
    return std::nullopt;
  }
  QString noProgress() const override {
    return QStringLiteral("the frames did not go out on %1 within %2 s").arg(portName_).arg(options_.timeoutSeconds);
  }
  std::pair<int, int> counted() const override { return {sent_, total_}; }
  const char* progressUnit() const override { return "frames"; }

 protected:
  void frameSent(const FrameSent&) override {
    ++sent_;
    advance();
  }
  // The window's information boxes are its only word on what it did.
  void shown(const Message& m) override {
    if (m.icon == MsgIcon::Information) log_.AddLog(m.text, LineKind::Info);
  }

 private:
  // After a send: whether it stopped with a box other than information.
  bool stopped(bool oneRow) {
    const auto stop = std::find_if(messages_.begin(), messages_.end(),
                                   [](const Message& m) { return m.icon != MsgIcon::Information; });
    if (stop == messages_.end()) return false;
    if (gInterrupted)
      decide(kExitInterrupted, QStringLiteral("interrupted"));
    else if (!link_.isOpen() || stop->text == u"通信ポートに送信できませんでした。")
      decide(kExitPortUnavailable, QStringLiteral("port error on %1: %2").arg(portName_, stop->text));
    else if (oneRow || session_.EditCell)
      decide(kExitBadArguments, QStringLiteral("row %1: %2").arg(session_.CurrentRow).arg(stop->text));
    else
      decide(kExitBadArguments, stop->text);
    return true;
  }

  SerialLink link_;
  InterruptiblePause pause_;
  ShownLink port_;
  BriskSession session_;
  QString portName_;
  int sent_ = 0;
  int total_ = 0;
};

// The binary windows: the board through Wexford, a 100 ms timer.
template <class Session>
class BinaryDrive : public Drive {
 public:
  template <class... Args>
  BinaryDrive(const Options& o, const Entries& e, Output& out, Args&&... args)
      : Drive(o, e, out),
        timer_([this] { tick(); }, false),
        session_(std::forward<Args>(args)..., wexford(), timer_, log_, realPause()) {}

  std::optional<Outcome> start() override {
    const BoardResult opened = session_.Load();
    if (opened.fault == BoardFault::Unavailable)
      return Outcome{kExitNoBoard, QStringLiteral("board not found: the expansion-board library cannot be loaded (%1)")
                                       .arg(opened.detail)};
    if (!opened.ok()) return Outcome{kExitNoBoard, QStringLiteral("board not found: ") + kBoardOpenFailed};
    play();
    return verdict;
  }
  QString abort() override {
    timer_.stop();
    if (lost_) {
      // No stop pulse for a board that is gone: only its handle goes back.
      session_.BoardOpen = false;
      (void)session_.lines().close();
      return {};
    }
    const BoardResult r = session_.Unload();
    if (r.ok()) return {};
    return QStringLiteral("the stop did not reach the board: ") + boardLost(r);
  }
  std::optional<Outcome> complete() override {
    timer_.stop();
    if (!session_.BoardOpen) return std::nullopt;
    session_.BoardOpen = false;
    if (const BoardResult r = session_.lines().close(); !r.ok()) return Outcome{kExitNoBoard, boardLost(r)};
    return std::nullopt;
  }
  QString noProgress() const override {
    return QStringLiteral("the unit stayed busy for %1 s").arg(options_.timeoutSeconds);
  }

 protected:
  virtual void play() = 0;
  virtual void beforeTick() {}
  // A channel's count follows its frame: the count is what is shown.
  void progress(const Progress& p) override {
    Drive::progress(p);
    advance();
  }
  // The step's result decides the run; the session says when it is complete.
  void runFinished(const RunFinished& e) override {
    if (e.outcome == RunOutcome::Complete) completed_ = true;
  }
  void tick() {
    if (verdict) return;
    beforeTick();
    if (const BoardResult r = session_.Time1_Timer(); !r.ok()) {
      lost_ = true;
      decide(kExitNoBoard, boardLost(r));
      return;
    }
    if (!verdict && completed_) decide(kExitOk);
  }
  static QString boardLost(const BoardResult& r) {
    return QStringLiteral("board lost: %1 (%2)").arg(kBoardOpenFailed, r.detail);
  }

  FormTimer timer_;
  Session session_;
  bool lost_ = false;
};

// Modes 16, 18 and 19.
class BufferedBinaryDrive : public BinaryDrive<BufferedBinarySession> {
 public:
  BufferedBinaryDrive(const Options& o, const Entries& e, Output& out, const BufferedBinaryVariant& v, int logic)
      : BinaryDrive(o, e, out, v) {
    if (v.tenBits) session_.PositiveLogic = qint16(logic);
  }

 protected:
  void play() override { session_.Play(entries_.numbers, options_.manual, entries_.strobeMs); }
};

// Modes 13 to 15.
class BinaryMode2Drive : public BinaryDrive<BinaryMode2Session> {
 public:
  BinaryMode2Drive(const Options& o, const Entries& e, Output& out, int subMode, int logic, int maximum)
      : BinaryDrive(o, e, out) {
    session_.SubMode = qint16(subMode);
    session_.PositiveLogic = qint16(logic);
    session_.Maximum = qint16(maximum);
  }

 protected:
  void play() override {
    session_.Repeat = options_.repeat > 1 ? 1 : 0;
    session_.Play(entries_.numbers);
  }
  // The tick that would wrap the list ends a pass; after the last, repeat goes off.
  void beforeTick() override {
    if (session_.Repeat == 1 && session_.Remaining == 0 && ++passes_ >= options_.repeat) session_.Repeat = 0;
  }

 private:
  int passes_ = 0;
};

std::unique_ptr<Drive> makeDrive(const Options& o, const Entries& e, Output& out, const ModeProfile& p) {
  const ModeEntry& entry = *p.entry;
  switch (p.driver) {
    case Driver::Buffered: return std::make_unique<BufferedDrive>(o, e, out, *p.buffered);
    case Driver::Mode1: return std::make_unique<Mode1Drive>(o, e, out);
    case Driver::Mode5: return std::make_unique<Mode5Drive>(o, e, out);
    case Driver::Mode34: return std::make_unique<Mode34Drive>(o, e, out);
    case Driver::Plx6: return std::make_unique<Plx6Drive>(o, e, out);
    case Driver::BufferedBinary:
      return std::make_unique<BufferedBinaryDrive>(o, e, out, *p.bufferedBinary, entry.positiveLogic);
    case Driver::BinaryMode2:
      return std::make_unique<BinaryMode2Drive>(o, e, out, entry.subMode, entry.positiveLogic, p.autoMax);
    case Driver::Fenwick: return std::make_unique<FenwickDrive>(o, e, out, *p.fenwick);
    case Driver::Brisk: return std::make_unique<BriskDrive>(o, e, out);
    case Driver::None: break;
  }
  return nullptr;
}

// One run: the drive started, waited for and let go, then judged by its
// limits. The reason, if any, and the summary go to stderr; the caller
// writes the result record (--json) to stdout.
void runStep(const Options& o, const Entries& entries, const Limits& limits, Output& out, StepReport& report,
             RunResults& results) {
  const QDateTime started = QDateTime::currentDateTimeUtc();
  const ModeProfile& profile = modeProfile(o.mode);
  report.mode = o.mode;
  report.port = profile.port ? o.port : QString();
  report.dut = o.dut;
  report.limits = limits;
  QElapsedTimer clock;
  clock.start();
  RunMeter meter;
  ChannelOutcomes channels;
  std::unique_ptr<Drive> drive = makeDrive(o, entries, out, profile);
  drive->attach(meter);
  drive->attach(channels);
  report.unit = drive->progressUnit();

  QEventLoop loop;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  watchdog.setTimerType(Qt::PreciseTimer);  // --timeout is the least time the unit is given
  watchdog.setInterval(int(o.timeoutSeconds * 1000));
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (drive->verdict || !drive->timedOut()) return;
    if (!drive->verdict) drive->verdict = Outcome{kExitNoAnswer, drive->noProgress()};
    loop.quit();
  });
  drive->advanced = [&] {
    watchdog.start();
    const auto [sent, total] = drive->counted();
    out.progress(sent, total, drive->progressUnit());
  };
  drive->decided = [&] { loop.quit(); };
  QTimer signalPoll;
  signalPoll.setInterval(50);
  QObject::connect(&signalPoll, &QTimer::timeout, [&] {
    if (!gInterrupted || drive->verdict) return;
    drive->verdict = Outcome{kExitInterrupted, QStringLiteral("interrupted")};
    loop.quit();
  });
  out.failed = [&](int error) {
    if (drive->verdict) return;
    drive->verdict = error == EPIPE
                         ? Outcome{kExitInterrupted, QStringLiteral("interrupted: stdout was closed")}
                         : Outcome{kExitFailed, QStringLiteral("cannot write the log to stdout: %1")
                                                    .arg(QString::fromLocal8Bit(std::strerror(error)))};
    loop.quit();
  };
  signalPoll.start();

  Outcome outcome{kExitOk, {}};
  if (gInterrupted) {
    outcome = {kExitInterrupted, QStringLiteral("interrupted")};
  } else if (const std::optional<Outcome> failed = drive->start(); failed && !drive->verdict) {
    outcome = *failed;
  } else {
    watchdog.start();
    if (!drive->verdict) loop.exec();
    watchdog.stop();
    outcome = *drive->verdict;
    if (outcome.code == kExitOk) {
      if (std::optional<Outcome> letGo = drive->complete()) outcome = *letGo;
    } else if (const QString also = drive->abort(); !also.isEmpty()) {
      outcome.reason += QStringLiteral("; ") + also;
    }
  }
  signalPoll.stop();
  out.failed = nullptr;
  out.endProgress();
  report.measured = meter.measurements();
  report.sent = drive->counted().first;
  report.seconds = double(clock.elapsed()) / 1000;
  // A run that ended as its protocol requires is then held to its limits.
  if (outcome.code == kExitOk) {
    if (const Verdict v = judgeLimits(report.measured, limits); !v.pass()) outcome = {kExitFailed, reasonText(v)};
  }
  report.code = outcome.code;
  report.reason = outcome.reason;
  if (report.code != kExitOk) out.reason(report.reason);
  out.note(summaryLine(report));
  // Handed over, not waited for: the recorder's thread stores it.
  results.record(makeRecord(report, o, started, QDateTime::currentDateTimeUtc(), channels.outcomes()));
}

// --json: a step's result record. It is written when the next step starts,
// or after what became of the records, so the output ends with a result. A
// result that cannot be written fails a run that passed.
int writeResult(const Options& o, const StepReport& report, int code, Output& out) {
  if (!o.json || out.record(resultRecord(report)) || code != kExitOk) return code;
  out.reason(out.writeError() == EPIPE ? QStringLiteral("interrupted: stdout was closed")
                                       : QStringLiteral("cannot write the result to stdout: %1")
                                             .arg(QString::fromLocal8Bit(std::strerror(out.writeError()))));
  return out.writeError() == EPIPE ? kExitInterrupted : kExitFailed;
}

// What became of the runs' records, once the recorder had its time; a run
// that passed fails when its record was lost.
int finishResults(RunResults& results, const Options& o, int code, Output& out) {
  const RunResults::Ending end = results.finish(kResultsFlush);
  for (const QString& note : end.notes) out.reason(note);
  if (o.json) {
    for (const QByteArray& stored : end.stored) {
      if (out.record(stored)) continue;
      out.reason(QStringLiteral("cannot write to stdout: %1").arg(QString::fromLocal8Bit(std::strerror(out.writeError()))));
      if (code == kExitOk) code = out.writeError() == EPIPE ? kExitInterrupted : kExitFailed;
      break;
    }
  }
  if (end.lost && code == kExitOk) code = kExitResultsLost;
  return code;
}

// SIGINT, SIGTERM and SIGHUP interrupt the run in hand (and a plan's rest)
// for as long as this lives.
class SignalGuard {
 public:
  SignalGuard() {
    gInterrupted = 0;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#ifdef SIGHUP
    std::signal(SIGHUP, onSignal);
#endif
  }
  ~SignalGuard() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
#ifdef SIGHUP
    std::signal(SIGHUP, SIG_DFL);
#endif
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;
};

// The report file, if one was asked for; a run that passed fails when it
// could not be written.
int reportJUnit(const Options& o, const SuiteReport& suite, int code, Output& out) {
  if (!o.junit) return code;
  if (const SaveResult saved = writeJUnit(*o.junit, suite); !saved) {
    out.reason(QStringLiteral("cannot write the JUnit report %1: %2").arg(*o.junit, saved.error));
    if (code == kExitOk) return kExitFailed;
  }
  return code;
}

int runPlan(const Options& o, Output& out) {
  const PlanLoad loaded = loadPlan(*o.plan, o);
  if (!loaded.error.isEmpty()) {
    out.reason(loaded.error);
    return kExitBadArguments;
  }
  QString storeError;
  const std::unique_ptr<RunResults> results = RunResults::open(o.results.value_or(QString()), &storeError);
  if (!results) {
    out.reason(storeError);
    return kExitBadArguments;
  }
  const Plan& plan = loaded.plan;
  SuiteReport suite{plan.name, plan.dut, plan.port, {}};
  int code = kExitOk;
  std::optional<std::size_t> unwritten;  // the step whose result record waits
  {
    SignalGuard interrupts;
    for (const PlanStep& step : plan.steps) {
      StepReport report;
      report.name = step.name;
      report.inPlan = true;
      if (code != kExitOk && (plan.stopOnFail || code == kExitInterrupted)) {
        report.mode = step.options.mode;
        report.port = modeProfile(step.options.mode).port ? step.options.port : QString();
        report.dut = step.options.dut;
        report.limits = step.limits;
        report.skipped = true;
        out.note(summaryLine(report));
      } else {
        if (unwritten) code = writeResult(o, suite.steps[*unwritten], code, out);
        runStep(step.options, step.entries, step.limits, out, report, *results);
        if (code == kExitOk) code = report.code;
        unwritten = suite.steps.size();
      }
      suite.steps.push_back(report);
    }
  }
  int passed = 0, skipped = 0;
  for (const StepReport& s : suite.steps) {
    passed += s.pass() ? 1 : 0;
    skipped += s.skipped ? 1 : 0;
  }
  out.note(QStringLiteral("kestrel-run: %1 plan '%2': %3 of %4 steps passed, %5 skipped")
               .arg(code == kExitOk ? QStringLiteral("PASS") : QStringLiteral("FAIL (exit %1)").arg(code), plan.name)
               .arg(passed)
               .arg(suite.steps.size())
               .arg(skipped));
  code = finishResults(*results, o, code, out);
  if (unwritten) code = writeResult(o, suite.steps[*unwritten], code, out);
  return reportJUnit(o, suite, code, out);
}

// COM1 to COM8 as the settings screen maps them, then the machine's ports.
QString portList() {
  QString text;
  for (int n = 1; n <= kComPortCount; ++n) {
    const ComPortSource source = comPortSource(n);
    const QString why = source == ComPortSource::Environment ? QStringLiteral("KESTREL_COM%1").arg(n)
                        : source == ComPortSource::Stored    ? QStringLiteral("chosen on the settings screen")
                                                             : QStringLiteral("default");
    text += QStringLiteral("COM%1\t%2\t(%3)\n").arg(n).arg(comPortDevice(n), why);
  }
  for (const SerialPortEntry& p : serialPorts())
    text += QStringLiteral("%1\t%2\t%3\n").arg(p.device, p.byIdName, p.description);
  return text;
}

}  // namespace

int runMain(const QStringList& args) {
#ifdef SIGPIPE
  // A reader that goes away (kestrel-run ... | head) makes the next write
  // fail with EPIPE, which interrupts the run as SIGINT does.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  const ParseResult parsed = parseArguments(args);
  const Options& o = parsed.options;
  Output out(o.json);
  if (o.help) {
    std::fputs(usage().toUtf8().constData(), stdout);
    return kExitOk;
  }
  if ((o.version || o.listPorts) && parsed.error.isEmpty()) {
    errno = 0;
    const QByteArray text = o.version ? QByteArrayLiteral("kestrel-run " KESTREL_VERSION "\n") : portList().toUtf8();
    if (std::fputs(text.constData(), stdout) == EOF || std::fflush(stdout) == EOF) {
      out.reason(QStringLiteral("cannot write to stdout: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
      return kExitFailed;
    }
    return kExitOk;
  }
  if (!parsed.error.isEmpty()) {
    out.reason(parsed.error);
    return kExitBadArguments;
  }
  if (o.plan) return runPlan(o, out);
  const Checked checked = checkRun(o);
  if (checked.code != kExitOk) {
    out.reason(checked.error);
    return checked.code;
  }
  QString storeError;
  const std::unique_ptr<RunResults> results = RunResults::open(o.results.value_or(QString()), &storeError);
  if (!results) {
    out.reason(storeError);
    return kExitBadArguments;
  }
  StepReport report;
  report.name = QStringLiteral("mode %1").arg(o.mode);
  {
    SignalGuard interrupts;
    runStep(o, checked.entries, o.limits, out, report, *results);
  }
  const SuiteReport suite{QStringLiteral("kestrel-run"), o.dut, report.port, {report}};
  const int code = finishResults(*results, o, report.code, out);
  return reportJUnit(o, suite, writeResult(o, report, code, out), out);
}

}  // namespace kestrel::run
