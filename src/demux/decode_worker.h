#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "demux/sound_output.h"

namespace morvane {

// The decoding of a pass's costly sound on a second core, beside the walk
// that reads the stream and writes the outputs: the walk reads each such
// output's data straight into a job of its own, hands the job over when it
// is full, and writes the oldest job's samples when a new job finds too many
// alive, so that a conversion takes about the longer of the two rather than
// their sum.
//
// The worker touches nothing but the decoder of a job and the job's buffers:
// every file operation, every error and every word to the sink stay on the
// walk's thread. The jobs are written in the order their first data came,
// whatever output they belong to, and at the same points of the walk
// however fast the worker goes, so the files are written, and fail, in the
// same order whether a second thread decodes them or not; the walk drains
// the jobs before anything else writes or speaks (a header, a film, a cut,
// the end).
//
// Without a second thread (one core; a system that cannot start one, as the
// web page's), each job is decoded on the walk's thread when it is handed
// over, and written in the same order as with one.
class DecodeWorker {
 public:
  // With `threaded` false the jobs are always decoded on the walk's thread.
  explicit DecodeWorker(bool threaded);
  // Stops the worker; jobs not yet written are dropped.
  ~DecodeWorker();
  DecodeWorker(const DecodeWorker&) = delete;
  DecodeWorker& operator=(const DecodeWorker&) = delete;

  // Where the output's next data goes: `room` bytes (at least one) in its
  // job. Writes the oldest job first when too many are alive.
  unsigned char* Room(SoundOutput& output, std::size_t& room);
  // `count` bytes went into the room given last; a full job is handed over.
  void Filled(SoundOutput& output, std::size_t count);
  // Hands over every job begun, waits for them all and writes them.
  void Drain();

 private:
  struct Job : SoundJob {
    std::size_t size = 0;  // the data that fills it, for its output
    bool handedOver = false;
    bool aside = false;    // handed to the worker
    bool decoded = false;  // under the lock while the worker runs
    // What the decoding threw (no memory): thrown again on the walk's
    // thread when the job's turn comes.
    std::exception_ptr failure;
  };

  // `full`: the job is handed over because it is full, not because the walk
  // waits for it.
  void HandOver(Job& job, bool full);
  // Writes the oldest job, handing it over and waiting for it.
  void WriteOldest();
  // Whether the worker holds a job of the output not yet written.
  bool InFlight(const SoundOutput& output) const;
  bool StartThread();
  void Work();

  bool threaded_;
  bool started_ = false;
  std::deque<Job*> alive_;  // from their first data until written, in that order
  std::vector<std::unique_ptr<Job>> jobs_;
  std::vector<Job*> spare_;

  std::mutex lock_;
  std::condition_variable handed_, done_;
  std::deque<Job*> todo_;  // handed over, not yet taken by the worker
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace morvane
