#pragma once
// An instrument link the test drives by hand: it records what the session sends, hands
// over what the test puts in, connects when told to, and fails or drops when told to.
#include <string>
#include <vector>

#include "platform/InstrumentTransport.h"

namespace tarnset::testing {

class FakeTransport final : public InstrumentTransport {
 public:
  struct Control {
    bool connectAtOnce = true;  // open() gives Open at once, else Connecting until connect()
    std::string refuse;         // open() fails with this reason
    std::vector<std::string> sent;
    std::string incoming;
    Status status = Status::Closed;
    std::string error;
    int opens = 0;
    int closes = 0;
    void connect() { status = Status::Open; }
    void drop(const std::string& why) {
      status = Status::Failed;
      error = why;
    }
  };

  explicit FakeTransport(Control& c) : c_(c) {}
  bool open(std::int32_t) override {
    ++c_.opens;
    c_.incoming.clear();
    if (!c_.refuse.empty()) {
      c_.drop(c_.refuse);
      return false;
    }
    c_.status = c_.connectAtOnce ? Status::Open : Status::Connecting;
    return true;
  }
  void close() override {
    ++c_.closes;
    c_.status = Status::Closed;
    c_.incoming.clear();
  }
  Status status() const override { return c_.status; }
  void task() override {}
  bool writeLine(const std::string& line) override {
    if (c_.status != Status::Open) return false;
    c_.sent.push_back(line);
    return true;
  }
  std::size_t bytesReadable() const override { return c_.status == Status::Open ? c_.incoming.size() : 0; }
  std::string readAll() override {
    std::string out;
    if (c_.status == Status::Open) out.swap(c_.incoming);
    return out;
  }
  Waitable waitable() const override { return kNoWaitable; }
  std::string errorText() const override { return c_.error; }

 private:
  Control& c_;
};

}  // namespace tarnset::testing
