#pragma once
// Test doubles for the serial host: a scripted serial port, a fixed COM mapping, and
// an owner that records the calls it receives.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/SerialPort.h"
#include "link/ComHooks.h"

namespace tarnset::test {

class FakeSerialPort : public SerialPort {
 public:
  struct OpenCall {
    std::string device;
    std::int32_t baud;
  };

  bool open(const std::string& device, std::int32_t baud) override {
    opens.push_back({device, baud});
    if (refuseOpen) {
      reason = "in use by another program";
      failureKind = PortFailure::Kind::Busy;
      return false;
    }
    isOpen_ = true;
    reason.clear();
    failureKind = PortFailure::Kind::None;
    return true;
  }
  void close() override {
    isOpen_ = false;
    rx.clear();
  }
  bool isOpen() const override { return isOpen_; }
  PortFailure failure() const override { return {failureKind, reason}; }
  void setRThreshold(std::int32_t bytes) override { rThreshold = bytes; }
  bool discardOutput() override {
    ++discards;
    return !refuseDiscard;
  }
  bool write(const Bytes& data) override {
    if (!isOpen_) return false;
    written.insert(written.end(), data.begin(), data.end());
    return true;
  }
  std::int32_t inBufferCount() override { return static_cast<std::int32_t>(rx.size()); }
  Bytes readAll() override {
    Bytes out;
    out.swap(rx);
    return out;
  }
  std::int32_t outBufferCount() override { return 0; }
  Waitable waitable() const override { return isOpen_ ? fd : kNoWaitable; }
  void service() override {
    if (onService) onService();
  }

  // The far end sends bytes: they join the receive buffer and raise the receive event.
  void receive(const Bytes& bytes) {
    rx.insert(rx.end(), bytes.begin(), bytes.end());
    if (static_cast<std::int32_t>(rx.size()) >= rThreshold && onEvent) onEvent(PortEvent::DataReceived);
  }
  // The device disappears: the port closes itself and reports one line error.
  void vanish() {
    isOpen_ = false;
    rx.clear();
    reason = "the device went away";
    failureKind = PortFailure::Kind::Gone;
    if (onEvent) onEvent(PortEvent::LineError);
  }
  void raise(PortEvent ev) {
    if (onEvent) onEvent(ev);
  }

  std::vector<OpenCall> opens;
  int discards = 0;
  bool refuseOpen = false;
  bool refuseDiscard = false;
  std::string reason;
  PortFailure::Kind failureKind = PortFailure::Kind::None;
  std::int32_t rThreshold = 1;
  Bytes rx;
  Bytes written;
  Waitable fd = kNoWaitable;        // waitable reported while open (none: the fake delivers events itself)
  std::function<void()> onService;  // what the far end does when the port is serviced

 private:
  bool isOpen_ = false;
};

class FixedResolver : public PortResolver {
 public:
  std::string deviceFor(std::int16_t n) const override {
    const auto it = devices.find(n);
    return it == devices.end() ? std::string() : it->second;
  }
  std::map<std::int16_t, std::string> devices;
};

// Records the serial host's upward calls in order; each call may run a test action.
class RecordingOwner : public ComHostOwner {
 public:
  void task() override {
    calls.push_back("task");
    if (onTask) onTask();
  }
  void showLinkError() override {
    calls.push_back("showLinkError");
    if (onShowLinkError) onShowLinkError();
  }
  void saveData(clsCmcProfileIO& prof) override { lastProfile = &prof; }
  void loadData(clsCmcProfileIO& prof) override { lastProfile = &prof; }
  void SaveOptions() override {
    calls.push_back("SaveOptions");
    if (onSaveOptions) onSaveOptions();
  }

  std::vector<std::string> calls;
  std::function<void()> onTask;
  std::function<void()> onShowLinkError;
  std::function<void()> onSaveOptions;
  clsCmcProfileIO* lastProfile = nullptr;
};

}  // namespace tarnset::test
