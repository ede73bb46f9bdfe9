#pragma once
// The instrument link wired to the in-process virtual bench: what the program sends reaches
// the bench at once, and the bench's answers become readable at the next task(), as if
// they had crossed a LAN in under one tick. Time (microseconds) comes from the harness.
#include <cstdint>
#include <memory>
#include <string>

#include "instruments/TransportFactory.h"
#include "platform/InstrumentTransport.h"
#include "sim/VirtualBench.h"

namespace tarnset::testing {

class BenchLoopback final : public InstrumentTransport {
 public:
  BenchLoopback(kvsim::VirtualBench& bench, const std::int64_t& nowUs) : bench_(bench), nowUs_(nowUs) {}

  bool open(std::int32_t timeoutMs) override;
  void close() override;
  Status status() const override { return status_; }
  void task() override;
  bool writeLine(const std::string& line) override;
  std::size_t bytesReadable() const override { return readable_.size(); }
  std::string readAll() override;
  Waitable waitable() const override { return kNoWaitable; }
  std::string errorText() const override { return error_; }

  // Opens fail with this reason from now on (empty: they succeed again).
  void refuse(std::string reason) { refusal_ = std::move(reason); }
  // Every line the program sent, each with its LF.
  const std::string& sent() const { return sent_; }

 private:
  kvsim::VirtualBench& bench_;
  const std::int64_t& nowUs_;
  Status status_ = Status::Closed;
  std::string error_;
  std::string refusal_;
  std::string inFlight_;  // answered, readable at the next task()
  std::string readable_;
  std::string sent_;
};

// Makes a BenchLoopback for every instrument; the last one made stays reachable.
class BenchLoopbackFactory final : public TransportFactory {
 public:
  BenchLoopbackFactory(kvsim::VirtualBench& bench, const std::int64_t& nowUs)
      : bench_(bench), nowUs_(nowUs) {}
  std::unique_ptr<InstrumentTransport> make(const InstrumentEntry& entry) override;
  BenchLoopback* last() const { return last_; }

 private:
  kvsim::VirtualBench& bench_;
  const std::int64_t& nowUs_;
  BenchLoopback* last_ = nullptr;
};

}  // namespace tarnset::testing
