#pragma once
// Makes the link to an instrument from its entry in Instruments.ini.
#include <memory>
#include <string>

#include "base/SerialPort.h"
#include "base/TickSource.h"
#include "instruments/InstrumentsFile.h"
#include "platform/InstrumentTransport.h"

namespace tarnset {

class TransportFactory {
 public:
  virtual ~TransportFactory() = default;
  // The link to the instrument, never null: one that cannot be made fails when it is
  // opened, with the reason.
  virtual std::unique_ptr<InstrumentTransport> make(const InstrumentEntry& entry) = 0;
};

// The links of this system: TCPIP sockets, ASRL serial ports through the program's serial
// port (COM n resolved as the program resolves its own COM numbers), USB through the
// kernel's usbtmc driver (Linux) or an installed VISA library (Windows).
class SystemTransportFactory final : public TransportFactory {
 public:
  // comPorts resolves ASRLn (the options file's [PORTS] mapping); nullptr: the system's
  // own n-th port name.
  explicit SystemTransportFactory(const TickSource& clock, const PortResolver* comPorts = nullptr)
      : clock_(clock), comPorts_(comPorts) {}
  std::unique_ptr<InstrumentTransport> make(const InstrumentEntry& entry) override;

 private:
  const TickSource& clock_;
  const PortResolver* comPorts_;
};

// A link that cannot be made: open() fails with the reason given.
std::unique_ptr<InstrumentTransport> failedTransport(std::string reason);

}  // namespace tarnset
