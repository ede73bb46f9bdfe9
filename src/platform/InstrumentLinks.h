#pragma once
// The instrument links this system offers, behind the portable InstrumentTransport.
#include <cstdint>
#include <memory>
#include <string>

#include "base/TickSource.h"
#include "platform/InstrumentTransport.h"

namespace tarnset {

// A raw LAN socket to host:port (a name or a numeric IPv4 or IPv6 address). The
// connection is made without blocking: a name is looked up by a helper thread, the
// connect runs in the background, and task() sees it finish or run out of time.
std::unique_ptr<InstrumentTransport> makeSocketTransport(const std::string& host, std::uint16_t port,
                                                         const TickSource& clock);

// A USBTMC instrument: on Linux the kernel's usbtmc device (/dev/usbtmcN) whose USB device
// has the vendor, product and serial number; on Windows the VISA resource through an
// installed VISA library (visa64.dll, loaded when first needed). Both calls block, so one
// worker thread per instrument makes them.
struct UsbInstrumentId {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string serial;        // empty: the first instrument with the ids
  int interfaceNumber = -1;  // -1: any
  std::string resource;      // the VISA resource string as written
};
std::unique_ptr<InstrumentTransport> makeUsbTransport(const UsbInstrumentId& id);

// The device of serial port n (ASRLn) when the program's own COM mapping has none: this
// system's n-th port name ("/dev/ttyS<n-1>", "\\.\COMn").
std::string serialDeviceName(int comNumber);

}  // namespace tarnset
