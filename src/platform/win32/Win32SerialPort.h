#pragma once
// The serial port over a Windows COM device (a USB adapter, an on-board UART, a virtual
// port; under Wine a pseudo-terminal linked as comN): 8N1, binary, no handshake of any
// kind, DTR and RTS asserted, opened exclusively. Nothing blocks the event loop: one
// overlapped read is always under way, with an interval time-out of 2 ms and no total
// time-out, so that it waits for the first byte without limit and completes 2 ms after
// the last one; its manual-reset event is the port's waitable, and service() takes the
// bytes in and starts the next read. Writes are overlapped too: one under way at a time,
// the bytes written meanwhile wait in a small queue of ours that later calls push on.
// Framing errors, breaks, parity errors and overruns come from ClearCommError, which
// does not say where in the bytes they happened: each call's errors are reported as one
// line error after the bytes received until then.
#include <cstdint>
#include <memory>
#include <string>

#include "base/SerialPort.h"

namespace tarnset {

class Win32PortCalls;

class Win32SerialPort final : public SerialPort {
 public:
  // A port on the real system calls.
  Win32SerialPort();
  // A port that makes its calls on the device through `calls` (which outlives it).
  explicit Win32SerialPort(Win32PortCalls& calls);
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // Opens the device ("\\.\COM12"; "COM12" is taken as that) at the baud rate. Input that
  // waited in the driver is discarded. A driver that refuses DTR or RTS (Wine's
  // pseudo-terminal ports do) does not fail the open.
  bool open(const std::string& device, std::int32_t baud) override;
  // Cancels the read and the write under way and closes the device; what was not sent
  // yet is dropped.
  void close() override;
  bool isOpen() const override;
  // Why the last open failed, the device went away, or the last refused write was
  // refused ("the port is not open", "the output buffer is full (900 bytes waiting)").
  PortFailure failure() const override { return failure_; }

  void setRThreshold(std::int32_t bytes) override { rThreshold_ = bytes; }
  std::int32_t RThreshold() const { return rThreshold_; }
  // Cancels the write under way, drops our queue and purges the driver's output.
  bool discardOutput() override;
  // Refuses (sends nothing) when the port is closed, when the device refuses the write at
  // once, or when the bytes might not fit in the 1024-byte output queue (the write under
  // way and the bytes waiting behind it); failureReason() then says which.
  bool write(const Bytes& data) override;
  std::int32_t inBufferCount() override;
  Bytes readAll() override;
  // Bytes not on the wire yet: those of the write under way, the driver's output queue
  // (ClearCommError) and the bytes of ours waiting behind the write.
  std::int32_t outBufferCount() override;

  // The read's event while the port is open (it stays signalled until service() runs),
  // kNoWaitable when closed.
  Waitable waitable() const override;
  // Takes in the bytes of the completed reads and starts the next one, then raises
  // ReceiveOverflow, DataReceived, or (once, after closing the port) LineError for a
  // device that went away. Line errors reported by the driver raise, in this order:
  // ReceiveOverflow if bytes were lost, DataReceived for the bytes received (also below
  // the threshold), LineError with the port open.
  void service() override;

  // Device name and baud rate of the open port (or of the last attempt).
  const std::string& device() const { return device_; }
  std::int32_t baud() const { return baud_; }

 private:
  struct Io;  // the handles, the overlapped operations and their buffers

  void release();
  bool startRead();
  bool startWrite();
  void pushQueue();
  // Takes the driver's line errors into lineErrors_ and its output count into *outQueue
  // (when given); false when the driver does not answer (the device is gone).
  bool takeDriverState(unsigned long* outQueue);
  bool raise(PortEvent ev, unsigned session);
  void keepReceived(const std::uint8_t* bytes, std::size_t count, bool& overflow);

  Win32PortCalls& calls_;
  std::unique_ptr<Io> io_;
  std::string device_;
  std::int32_t baud_ = 0;
  PortFailure failure_;
  std::int32_t rThreshold_ = 1;
  Bytes rx_;                      // received, not yet read; at most kInBufferSize bytes
  Bytes txQueue_;                 // written, waiting behind the write under way
  unsigned session_ = 0;          // counts opens, so that service() notices a close or reopen in a handler
  unsigned long lineErrors_ = 0;  // CE_* errors taken from the driver, not reported yet
  int emptyReads_ = 0;            // reads in a row that completed without a byte
};

// A failed CreateFile of a port with the given GetLastError code, in a technician's
// words: "no such device", "in use by another program", "cannot open the device (...)".
PortFailure describeOpenFailure(unsigned long error);

// True for the baud rates the port opens at (the same rates as on the other systems).
bool baudSupported(std::int32_t baud);

}  // namespace tarnset
