#pragma once
// An instrument link whose calls block (a USBTMC device, a VISA session), run by one worker
// thread per instrument behind the same non-blocking interface as the other links. The
// worker opens the device, writes each line the session sends and, after a query (a
// line with '?'), reads its answer with the time-out; what it reads is handed over through
// a wake signal, which is the waitable the event loop watches.
//
// close() never waits for the worker: a worker still inside a blocking call finishes it
// (at most one time-out) and then closes its device and ends; the transport joins it
// later, at the latest when it is destroyed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/InstrumentTransport.h"

namespace tarnset {

// The blocking calls of one device; the worker thread makes them, one at a time.
class BlockingDevice {
 public:
  enum class ReadResult { Answer, TimedOut, Failed };
  virtual ~BlockingDevice() = default;
  // Opens the device; false with why when it cannot.
  virtual bool open(std::string& why) = 0;
  // Sends one message (its LF included); false with why when the device refused it.
  virtual bool write(const std::string& message, std::string& why) = 0;
  // Reads one answer, up to its LF or the device's end of message, waiting at most timeoutMs.
  virtual ReadResult read(std::int32_t timeoutMs, std::string& answer, std::string& why) = 0;
  virtual void close() = 0;
};

class WorkerTransport final : public InstrumentTransport {
 public:
  // makeDevice gives a fresh device for every open (the one of an earlier open may still be
  // busy in its worker).
  explicit WorkerTransport(std::function<std::unique_ptr<BlockingDevice>()> makeDevice);
  ~WorkerTransport() override;
  WorkerTransport(const WorkerTransport&) = delete;
  WorkerTransport& operator=(const WorkerTransport&) = delete;

  bool open(std::int32_t timeoutMs) override;
  void close() override;
  Status status() const override;
  void task() override;
  bool writeLine(const std::string& line) override;
  std::size_t bytesReadable() const override;
  std::string readAll() override;
  Waitable waitable() const override;
  std::string errorText() const override;

 private:
  struct Shared;
  struct Worker {
    std::shared_ptr<Shared> shared;
    std::thread thread;
  };

  static void run(std::shared_ptr<Shared> shared, std::unique_ptr<BlockingDevice> device);
  void joinFinished(bool all);

  std::function<std::unique_ptr<BlockingDevice>()> makeDevice_;
  std::shared_ptr<Shared> current_;
  std::vector<Worker> workers_;
  std::string closedError_;
};

}  // namespace tarnset
