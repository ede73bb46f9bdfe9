#include "platform/WorkerTransport.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/WakeSignal.h"

namespace tarnset {

// What the owner and the worker share; the mutex guards all but the wake signal.
struct WorkerTransport::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> toSend;
  std::string received;
  Status status = Status::Connecting;
  std::string error;
  std::int32_t timeoutMs = 2000;
  bool stop = false;
  bool finished = false;
  WakeSignal wake;
};

WorkerTransport::WorkerTransport(std::function<std::unique_ptr<BlockingDevice>()> makeDevice)
    : makeDevice_(std::move(makeDevice)) {}

WorkerTransport::~WorkerTransport() {
  close();
  joinFinished(true);
}

void WorkerTransport::run(std::shared_ptr<Shared> s, std::unique_ptr<BlockingDevice> device) {
  std::string why;
  const bool opened = device->open(why);
  std::unique_lock<std::mutex> lock(s->mutex);
  if (!opened) {
    s->status = Status::Failed;
    s->error = why;
  } else if (!s->stop) {
    s->status = Status::Open;
  }
  s->wake.raise();
  while (opened && !s->stop && s->status == Status::Open) {
    s->changed.wait(lock, [&s] { return s->stop || !s->toSend.empty(); });
    if (s->stop) break;
    const std::string line = std::move(s->toSend.front());
    s->toSend.pop_front();
    const std::int32_t timeoutMs = s->timeoutMs;
    lock.unlock();
    std::string answer;
    bool ok = device->write(line, why);
    BlockingDevice::ReadResult r = BlockingDevice::ReadResult::TimedOut;
    if (ok && line.find('?') != std::string::npos) r = device->read(timeoutMs, answer, why);
    lock.lock();
    // The owner is woken for what it has to take: an answer, or a failure.
    if (!ok || r == BlockingDevice::ReadResult::Failed) {
      s->status = Status::Failed;
      s->error = why;
      s->wake.raise();
    } else if (r == BlockingDevice::ReadResult::Answer && !s->stop) {
      s->received += answer;
      s->wake.raise();
    }
  }
  lock.unlock();
  if (opened) device->close();
  lock.lock();
  s->finished = true;
}

void WorkerTransport::joinFinished(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    bool done = all;
    if (!done) {
      const std::lock_guard<std::mutex> lock(it->shared->mutex);
      done = it->shared->finished;
    }
    if (done) {
      if (it->thread.joinable()) it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

bool WorkerTransport::open(std::int32_t timeoutMs) {
  close();
  joinFinished(false);
  closedError_.clear();
  current_ = std::make_shared<Shared>();
  current_->timeoutMs = timeoutMs;
  workers_.push_back(Worker{current_, std::thread(run, current_, makeDevice_())});
  return true;
}

void WorkerTransport::close() {
  if (!current_) return;
  {
    const std::lock_guard<std::mutex> lock(current_->mutex);
    current_->stop = true;
    current_->toSend.clear();
    if (current_->status == Status::Failed) closedError_ = current_->error;
  }
  current_->changed.notify_all();
  current_.reset();
}

InstrumentTransport::Status WorkerTransport::status() const {
  if (!current_) return Status::Closed;
  const std::lock_guard<std::mutex> lock(current_->mutex);
  return current_->status;
}

void WorkerTransport::task() {
  if (current_) current_->wake.clear();
  joinFinished(false);
}

bool WorkerTransport::writeLine(const std::string& line) {
  if (!current_) return false;
  {
    const std::lock_guard<std::mutex> lock(current_->mutex);
    if (current_->status != Status::Open) return false;
    current_->toSend.push_back(line + "\n");
  }
  current_->changed.notify_all();
  return true;
}

std::size_t WorkerTransport::bytesReadable() const {
  if (!current_) return 0;
  const std::lock_guard<std::mutex> lock(current_->mutex);
  return current_->received.size();
}

std::string WorkerTransport::readAll() {
  std::string out;
  if (!current_) return out;
  const std::lock_guard<std::mutex> lock(current_->mutex);
  out.swap(current_->received);
  return out;
}

Waitable WorkerTransport::waitable() const {
  return current_ ? current_->wake.waitable() : kNoWaitable;
}

std::string WorkerTransport::errorText() const {
  if (!current_) return closedError_;
  const std::lock_guard<std::mutex> lock(current_->mutex);
  return current_->error;
}

}  // namespace tarnset
