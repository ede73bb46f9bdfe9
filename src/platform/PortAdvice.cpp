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
  if (!step.empty() && step[0] >= 'a' && step[0] <= 'z') step[0] = static_cast<char>(step[0] - 'a' + 'A');
  return "Port: " + port + "\r\nReason: " + failure.reason + "\r\nNext step: " + step;
}

}  // namespace tarnset
