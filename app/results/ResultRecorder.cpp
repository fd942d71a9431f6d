#include "ResultRecorder.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace kestrel::results {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A server gets this long to answer a connection; the recorder's thread is
// the only one that waits on it.
constexpr int kConnectTimeoutS = 3;
// A record the local queue refused is tried again, this far apart, for this
// long before it counts as lost: another process may hold the file for a
// moment longer than SQLite's own wait.
constexpr milliseconds kLocalRetry{250};
constexpr milliseconds kLocalPatience{2000};
// Forwarding to a server that is down is tried again after a back-off that
// doubles from the first to the last, and at each new record.
constexpr milliseconds kFirstBackOff{500};
constexpr milliseconds kLastBackOff{30'000};
// Records forwarded per read of the queue.
constexpr int kForwardBatch = 100;
// What the destructor waits for what was handed to it.
constexpr milliseconds kClosingFlush{3000};

}  // namespace

struct Recorder::Worker {
  Worker(const Location& target, const QString& queueFile)
      : target_(target), server_(target.kind == Location::Kind::Server) {
    queue_.kind = Location::Kind::File;
    queue_.file = server_ ? queueFile : target.file;
    // What earlier runs left in the queue goes first.
    needForward_ = server_;
    thread_ = std::thread([this] { run(); });
  }

  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void record(Record r) {
    {
      std::lock_guard lock(mutex_);
      states_.insert(r.id, RecordState::Waiting);
      incoming_.push_back(std::move(r));
      ++handed_;
    }
    wake_.notify_one();
  }

  bool flush(milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const long long target = handed_;
    const bool settled = done_.wait_for(lock, timeout, [&] {
      if (taken_ < target) return false;
      if (!server_) return true;
      // Forwarded, or a try made after the last record was queued failed.
      return idle() && (status_.pending == 0 || forwardFailedSince_ >= target);
    });
    return settled && !status_.lost && (!server_ || status_.pending == 0);
  }

  RecorderStatus status() const {
    std::lock_guard lock(mutex_);
    return status_;
  }

  RecordState state(const QString& id) const {
    std::lock_guard lock(mutex_);
    return states_.value(id, RecordState::Waiting);
  }

 private:
  bool idle() const { return incoming_.empty() && !working_ && !needForward_; }

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (server_ && status_.pending > 0 && retryAt_ && !needForward_) {
        wake_.wait_until(lock, *retryAt_, [&] { return stop_ || !incoming_.empty(); });
        if (!stop_ && incoming_.empty() && Clock::now() >= *retryAt_) needForward_ = true;
      } else {
        wake_.wait(lock, [&] { return stop_ || !incoming_.empty() || needForward_; });
      }
      if (stop_) break;
      working_ = true;
      if (!incoming_.empty()) {
        Record r = std::move(incoming_.front());
        incoming_.pop_front();
        lock.unlock();
        QString error;
        const bool queued = queueLocally(r, &error);
        const int pending = queued && server_ ? countPending(&error) : -1;
        lock.lock();
        ++taken_;
        states_.insert(r.id, queued ? RecordState::Queued : RecordState::Lost);
        if (queued) {
          ++status_.queued;
          if (error.isEmpty()) status_.lastError.clear();
          if (pending >= 0) status_.pending = pending;
          needForward_ = server_;
        } else {
          status_.lost = true;
        }
        if (!error.isEmpty()) status_.lastError = error;
      } else if (needForward_) {
        needForward_ = false;
        lock.unlock();
        forward(lock);
      }
      working_ = false;
      done_.notify_all();
    }
    // The connections belong to this thread: they go with it.
    local_.reset();
    remote_.reset();
  }

  // One transaction in the local queue, reopened after a failure.
  bool queueLocally(const Record& r, QString* error) {
    const Clock::time_point giveUp = Clock::now() + kLocalPatience;
    for (;;) {
      if (!local_) local_ = Store::open(queue_, error);
      if (local_ && local_->insert(r, error)) {
        error->clear();
        return true;
      }
      local_.reset();
      if (Clock::now() + kLocalRetry > giveUp || stopping()) {
        *error = QStringLiteral("record %1 not stored in %2: %3").arg(r.id, queue_.display(), *error);
        return false;
      }
      std::this_thread::sleep_for(kLocalRetry);
    }
  }

  int countPending(QString* error) {
    if (!local_ && !(local_ = Store::open(queue_, error))) return -1;
    QSqlQuery q(local_->database());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM runs WHERE forwarded = 0")) || !q.next()) {
      *error = QStringLiteral("cannot count the records waiting in %1: %2")
                   .arg(queue_.display(), q.lastError().text());
      local_.reset();
      return -1;
    }
    return q.value(0).toInt();
  }

  // The queue's pending records to the server, oldest first, each one
  // transaction there. Several recorders, in this process or others, may
  // forward the same records at once: the server keeps one row per ID, and
  // marking a record forwarded twice changes nothing.
  // Called with `lock` unlocked; returns with it locked.
  void forward(std::unique_lock<std::mutex>& lock) {
    QString error;
    QStringList done;
    bool failed = false;
    if (!local_ && !(local_ = Store::open(queue_, &error))) {
      error = QStringLiteral("cannot open %1: %2").arg(queue_.display(), error);
      failed = true;
    }
    while (!failed) {
      const std::vector<Record> batch = local_->pending(kForwardBatch, &error);
      if (!error.isEmpty()) {
        error = QStringLiteral("cannot read the records waiting in %1: %2").arg(queue_.display(), error);
        local_.reset();
        failed = true;
        break;
      }
      if (batch.empty()) break;
      if (!remote_ && !(remote_ = Store::open(target_, &error, kConnectTimeoutS))) {
        failed = true;  // the store's reason names the server
        break;
      }
      for (const Record& r : batch) {
        if (!remote_->insert(r, &error)) {
          error = QStringLiteral("record %1 not forwarded to %2: %3").arg(r.id, target_.display(), error);
          remote_.reset();  // a connection that failed is made anew
          failed = true;
          break;
        }
        if (!local_->markForwarded({r.id}, &error)) {
          // On the server already; forwarded again later, harmlessly.
          error = QStringLiteral("cannot mark record %1 forwarded in %2: %3").arg(r.id, queue_.display(), error);
          local_.reset();
          failed = true;
          break;
        }
        done.append(r.id);
      }
      {
        std::lock_guard progress(mutex_);
        status_.forwarded += int(done.size());
        for (const QString& id : std::as_const(done))
          if (states_.contains(id)) states_.insert(id, RecordState::Forwarded);
      }
      done.clear();
      if (stopping()) break;
    }
    QString countError;
    const int pending = local_ ? countPending(&countError) : -1;
    lock.lock();
    if (pending >= 0) status_.pending = pending;
    // An empty queue: whatever this recorder queued is on the server, by
    // this process or another.
    if (pending == 0)
      for (auto it = states_.begin(); it != states_.end(); ++it)
        if (it.value() == RecordState::Queued) it.value() = RecordState::Forwarded;
    if (failed) {
      status_.lastError = error;
      forwardFailedSince_ = taken_;
      retryAt_ = Clock::now() + backOff_;
      backOff_ = std::min(backOff_ * 2, kLastBackOff);
    } else {
      forwardFailedSince_ = -1;
      retryAt_.reset();
      backOff_ = kFirstBackOff;
      if (!countError.isEmpty())
        status_.lastError = countError;
      else if (!stop_)
        status_.lastError.clear();
    }
  }

  bool stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
  }

  const Location target_;
  const bool server_;
  Location queue_;
  std::unique_ptr<Store> local_;   // this thread's only
  std::unique_ptr<Store> remote_;  // this thread's only

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // the worker: a record, a stop
  std::condition_variable done_;  // flush: a step done
  std::deque<Record> incoming_;
  QHash<QString, RecordState> states_;
  long long handed_ = 0;
  long long taken_ = 0;  // queued or lost
  long long forwardFailedSince_ = -1;  // `taken_` when the last forwarding failed
  bool working_ = false;
  bool needForward_ = false;
  bool stop_ = false;
  std::optional<Clock::time_point> retryAt_;
  milliseconds backOff_ = kFirstBackOff;
  RecorderStatus status_;
  std::thread thread_;
};

Recorder::Recorder(const Location& target, const QString& queueFile)
    : worker_(std::make_unique<Worker>(target, queueFile)) {}

Recorder::~Recorder() {
  (void)worker_->flush(kClosingFlush);
  worker_.reset();
}

void Recorder::record(Record r) { worker_->record(std::move(r)); }

bool Recorder::flush(std::chrono::milliseconds timeout) { return worker_->flush(timeout); }

RecorderStatus Recorder::status() const { return worker_->status(); }

RecordState Recorder::state(const QString& id) const { return worker_->state(id); }

}  // namespace kestrel::results
