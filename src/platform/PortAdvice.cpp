#include "platform/PortAdvice.h"

#include "platform/PortList.h"

namespace tarnset {

std::string portFailureDetails(const PortFailure& failure, const std::string& device,
                               const std::string& comName) {
  if (failure.kind == PortFailure::Kind::None) return {};
  std::string port;
  if (device.empty()) {
    port = "no serial port found for " + (comName.empty() ? std::string("the port") : comName);
  } else {
    const std::string what = joinNonEmpty({comName, failure.bluetooth ? "Bluetooth" : ""});
    port = what.empty() ? device : describePortAs(device, {what});
  }
  std::string step = portNextStep(failure, device, comName);
  if (failure.bluetooth && failure.kind != PortFailure::Kind::WriteRefused) {
    // Not the cable's port at all, most likely: the way to the cable's, as for a port
    // that is no serial port.
    step =
        "this is a Bluetooth port, which answers only while the device paired with it is switched on and in "
        "reach; the cloning cable's adapter has a port of its own: " +
        portNextStep(PortFailure(PortFailure::Kind::NotASerialPort, failure.reason), device, comName);
  }
  if (!step.empty() && step[0] >= 'a' && step[0] <= 'z') step[0] = static_cast<char>(step[0] - 'a' + 'A');
  return "Port: " + port + "\r\nReason: " + failure.reason + "\r\nNext step: " + step;
}

}  // namespace tarnset
