#pragma once
// What the technician reads below a port failure's message: which device it was, why it
// could not be used, and the next step to take.
#include <string>

#include "base/SerialPort.h"

namespace tarnset {

// The details of a port failure, lines separated by CR LF:
//   Port: /dev/ttyUSB0 (COM 1)
//   Reason: permission denied (the device belongs to group dialout)
//   Next step: add your user to group dialout ...
// device: the path tried (empty when no device is known for the COM number); comName:
// "COM 1", or empty when the port was named by its device path. Empty for Kind::None. A
// Bluetooth port is named as such, and the next step leads to the cable's own port.
std::string portFailureDetails(const PortFailure& failure, const std::string& device,
                               const std::string& comName);

// The next step for a failure, in this system's terms (lower case start; the details
// put it in a sentence's case). Arguments as above.
std::string portNextStep(const PortFailure& failure, const std::string& device, const std::string& comName);

}  // namespace tarnset
