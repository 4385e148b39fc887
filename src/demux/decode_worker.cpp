#include "demux/decode_worker.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "core/platform.h"

namespace morvane {

namespace {

// Jobs alive at once, being filled, decoded or written: a few streams
// interleaved each fill their own while the worker decodes. Each holds
// about 1.5 MB at most (an 8-bit WAV's job, its data and 16-bit samples).
constexpr std::size_t kMostJobs = 8;

}  // namespace

DecodeWorker::DecodeWorker(bool threaded) : threaded_(threaded) {}

DecodeWorker::~DecodeWorker() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    todo_.clear();
    stop_ = true;
  }
  handed_.notify_one();
  thread_.join();
}

unsigned char* DecodeWorker::Room(SoundOutput& output, std::size_t& room) {
  const auto filling = std::find_if(alive_.rbegin(), alive_.rend(),
                                    [&](Job* job) { return job->output == &output && !job->handedOver; });
  Job* job = filling == alive_.rend() ? nullptr : *filling;
  if (!job) {
    if (alive_.size() >= kMostJobs) WriteOldest();
    if (spare_.empty()) {
      jobs_.push_back(std::make_unique<Job>());
      spare_.push_back(jobs_.back().get());
    }
    job = spare_.back();
    spare_.pop_back();
    job->output = &output;
    job->dataBytes = 0;
    job->handedOver = job->aside = job->decoded = false;
    job->size = output.JobBytes();
    if (job->dataRoom < job->size) {
      job->data.reset(new unsigned char[job->size]);
      job->dataRoom = job->size;
    }
    alive_.push_back(job);
  }
  room = job->size - job->dataBytes;
  return job->data.get() + job->dataBytes;
}

void DecodeWorker::Filled(SoundOutput& output, std::size_t count) {
  const auto filling = std::find_if(alive_.rbegin(), alive_.rend(),
                                    [&](Job* job) { return job->output == &output && !job->handedOver; });
  if (filling == alive_.rend()) return;
  Job& job = **filling;
  job.dataBytes += count;
  if (job.dataBytes >= job.size) HandOver(job, true);
}

void DecodeWorker::Drain() {
  for (Job* job : alive_) {
    if (!job->handedOver) HandOver(*job, false);
  }
  while (!alive_.empty()) WriteOldest();
}

void DecodeWorker::HandOver(Job& job, bool full) {
  job.handedOver = true;
  // Data kept undecoded has nothing to decode. The worker starts with the
  // first full job: a stream whose data fits in one is decoded here at once.
  // A job the walk waits for is decoded here too when the worker holds none
  // of its output's before it: a stream drained at every chunk (a film's
  // frames between its sound) costs no round trip a chunk.
  const bool aside = full ? StartThread() : thread_.joinable() && InFlight(*job.output);
  if (!job.output->Codec() || !aside) {
    job.output->Decode(job);
    job.decoded = true;
    return;
  }
  job.aside = true;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    todo_.push_back(&job);
  }
  handed_.notify_one();
}

bool DecodeWorker::InFlight(const SoundOutput& output) const {
  return std::any_of(alive_.begin(), alive_.end(),
                     [&](const Job* job) { return job->output == &output && job->aside; });
}

void DecodeWorker::WriteOldest() {
  Job& job = *alive_.front();
  if (!job.handedOver) HandOver(job, false);
  if (thread_.joinable()) {
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&job] { return job.decoded; });
  }
  alive_.pop_front();
  const std::exception_ptr failure = std::exchange(job.failure, nullptr);
  if (!failure && job.dataBytes > 0) job.output->Write(job);
  job.output = nullptr;
  spare_.push_back(&job);
  if (failure) std::rethrow_exception(failure);
}

bool DecodeWorker::StartThread() {
  if (started_) return thread_.joinable();
  started_ = true;
  if (!threaded_ || std::thread::hardware_concurrency() < 2) return false;
  try {
    platform::StartWithEndSignalsHeld([this] { thread_ = std::thread([this] { Work(); }); });
  } catch (const std::system_error&) {
    // No thread to spare: the walk decodes as it goes.
  }
  return thread_.joinable();
}

void DecodeWorker::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    handed_.wait(hold, [this] { return stop_ || !todo_.empty(); });
    if (stop_) return;
    Job& job = *todo_.front();
    todo_.pop_front();
    hold.unlock();
    try {
      job.output->Decode(job);
    } catch (...) {
      job.failure = std::current_exception();
    }
    hold.lock();
    job.decoded = true;
    done_.notify_one();
  }
}

}  // namespace morvane
