#pragma once
// What a run writes its record through. A record goes to the local queue
// (the SQLite file) on a thread of its own, so a run never waits on a store,
// then, when the store is a server, on to the server. A server that is down
// gets the queued records when it is back: the next recorder to start, or
// this one on its next try, forwards them.

#include "ResultStore.h"

#include <QString>
#include <chrono>
#include <memory>

namespace kestrel::results {

struct RecorderStatus {
  int queued = 0;     // records written to the local queue
  int forwarded = 0;  // records the server now has (a server store only)
  int pending = 0;    // in the local queue, not yet on the server
  QString lastError;  // the last failure, empty when none; a failure is kept until the next success
  bool lost = false;  // a record could not even be queued locally
};

// What became of one record handed to a recorder.
enum class RecordState { Waiting, Queued, Forwarded, Lost };

class Recorder {
 public:
  // `queueFile`: the local queue; it is the store itself when `target` is a file.
  explicit Recorder(const Location& target, const QString& queueFile = defaultResultsFile());
  ~Recorder();  // waits for what was handed to it, up to a bound, then stops
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Returns at once; the record is written on the recorder's thread.
  void record(Record r);
  // Waits up to `timeout` for every record handed so far to be queued and,
  // for a server, forwarded. False when the time ran out or a step failed;
  // status() says which.
  bool flush(std::chrono::milliseconds timeout);
  RecorderStatus status() const;
  // A record this recorder was handed: waiting, in the local queue (for a
  // file store: stored), on the server, or lost. Waiting for any other ID.
  RecordState state(const QString& id) const;

 private:
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace kestrel::results
