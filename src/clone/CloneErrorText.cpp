#include "clone/CloneErrorText.h"

#include <initializer_list>

namespace tarnset {
namespace {

// Check-list lines of the messages.
const char kCheck[] = "Check the following:";
const char kPort[] = "- The COM port settings.";
const char kCable[] = "- Cloning cable connections.";
const char kPower[] = "- Transceiver power is ON.";
const char kSoftware[] = "- Appropriate cloning software for the transceiver is being used.";
const char kRevision[] = "- The revision number of the transceiver.";
const char kBlank[] = "";

std::string joinLines(std::initializer_list<std::string> lines) {
  std::string out;
  bool first = true;
  for (const std::string& line : lines) {
    if (!first) out += "\r\n";
    out += line;
    first = false;
  }
  return out;
}

// A headline, a blank line, then the port, cable and power check list.
std::string portCablePower(const std::string& headline) {
  return joinLines({headline, kBlank, kCheck, kPort, kCable, kPower});
}

std::string driverMessage(CloneError code) {
  switch (code) {
    case CloneError::NoEcho:
      return portCablePower("Cannot access COM port");
    case CloneError::NoAnswer:
      return portCablePower("No answer from transceiver.");
    case CloneError::IllegalData:
      return portCablePower("Illegal data.");
    case CloneError::DataCounter:
      return portCablePower("Data counter error.");
    case CloneError::DataOverflow:
      return portCablePower("Data overflow.");
    case CloneError::WriteRefused:
      return joinLines({"Cannot write cloning data.", kBlank, kCheck, kCable, kPower});
    case CloneError::None:
    case CloneError::CannotSend:
      break;
  }
  // Other driver codes have an empty line between the check headline and its list.
  return joinLines({"Cannot Clone.", kBlank, kCheck, kBlank, kPort, kCable, kPower});
}

std::string sequencerMessage(SeqError code) {
  switch (code) {
    case SeqError::None:
      return joinLines({"Communication failed.", kBlank, kCheck, kCable, kPower});
    case SeqError::SubModel:
      return joinLines({"Version number does not match", "for this transceiver."});
    case SeqError::FormatVersion:
      return joinLines(
          {"Connected transceiver is not compatible model.", kBlank, kCheck, kSoftware, kRevision});
    case SeqError::ModelCode:
    case SeqError::DriverError:
    case SeqError::ExchangeLost:
      break;
  }
  return portCablePower("Cannot Clone.");
}

}  // namespace

std::string composeCloneError(const CloneErrorInputs& in) {
  if (in.errCannotOpen) return portCablePower("Cannot access COM" + in.portText + ".");
  if (in.errOverflow) return portCablePower("COM buffer overflow.");
  if (in.lastError != CloneError::None) return driverMessage(in.lastError);
  return sequencerMessage(in.seqError);
}

}  // namespace tarnset
