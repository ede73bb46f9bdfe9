#include "BenchLoopback.h"

namespace tarnset::testing {

bool BenchLoopback::open(std::int32_t) {
  inFlight_.clear();
  readable_.clear();
  if (!refusal_.empty()) {
    error_ = refusal_;
    status_ = Status::Failed;
    return false;
  }
  error_.clear();
  status_ = Status::Open;
  return true;
}

void BenchLoopback::close() {
  status_ = Status::Closed;
  inFlight_.clear();
  readable_.clear();
}

void BenchLoopback::task() {
  bench_.step(nowUs_);
  if (status_ != Status::Open) return;
  readable_ += inFlight_;
  inFlight_.clear();
}

bool BenchLoopback::writeLine(const std::string& line) {
  if (status_ != Status::Open) return false;
  sent_ += line + "\n";
  inFlight_ += bench_.handleLine(line, nowUs_);
  if (bench_.takeDropRequest()) {
    readable_ += inFlight_;  // what was answered before the drop still arrives
    inFlight_.clear();
    error_ = "the instrument closed the connection";
    status_ = Status::Failed;
  }
  return true;
}

std::string BenchLoopback::readAll() {
  std::string out;
  out.swap(readable_);
  return out;
}

std::unique_ptr<InstrumentTransport> BenchLoopbackFactory::make(const InstrumentEntry&) {
  auto t = std::make_unique<BenchLoopback>(bench_, nowUs_);
  last_ = t.get();
  return t;
}

}  // namespace tarnset::testing
