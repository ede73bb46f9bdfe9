#pragma once
// The serial port over a Windows COM device (a USB adapter, an on-board UART, a virtual
// port, a Bluetooth serial port; under Wine a pseudo-terminal linked as comN): 8N1,
// binary, no handshake of any kind, DTR and RTS asserted, opened exclusively. Nothing
// blocks the event loop for long:
// - The device is opened by a worker thread. An open that has not returned after a short
//   wait goes on in the background while the port counts as open (writes wait in our
//   queue); when it returns, the port takes the handle, and when it has not returned 2 s
//   after the start, the port gives up on it ("no answer from the Bluetooth port": an
//   outgoing Bluetooth port connects to its far device in the open, for 10-20 s when
//   that device is off) and reports a failure as for a device that went away. The
//   handle it may still bring is closed by the worker.
// - One overlapped read is always under way, without a total time-out, so that it waits
//   for the first byte without limit; its manual-reset event is the port's waitable (also
//   while the open goes on), and service() takes the bytes in and starts the next read.
//   Up to 9600 baud it asks for one byte, and the bytes the driver holds behind it are
//   taken by a read of just their number, so that a frame's end byte is in as soon as it
//   arrives; at higher rates it asks for about 50 ms of line time and ends 1 ms after the
//   last byte (the interval time-out). Writes are
//   overlapped too: one under way at a time, the bytes written meanwhile wait in a small
//   queue of ours that later calls push on.
// - Closing cancels what is under way and waits at most 2 s for it to end; a driver that
//   never ends a cancelled read (cheap adapters after an unplug) keeps the buffers of
//   that read, which are left to it for good, and the handle is closed anyway.
// Framing errors, breaks, parity errors and overruns come from ClearCommError, which
// does not say where in the bytes they happened: the bytes of the read they came with
// (and of the next one, while the driver holds more) are dropped, and a line error is
// raised after the bytes received before them, so that the frame they touch is lost
// whole, as with the marked errors of a POSIX port. A device counts as gone only from
// the driver's removal errors (device removed, bad command, access denied, an abort that
// is not ours, an invalid handle; a broken pipe for Wine's pseudo-terminals), never from
// reads that complete without bytes: those only slow the next read down.
#include <cstdint>
#include <memory>
#include <string>

#include "base/SerialPort.h"

namespace tarnset {

class Win32PortCalls;

class Win32SerialPort final : public SerialPort {
 public:
  // How long open() waits for the device before the open goes on in the background, and
  // how long the background open may take; how long close() waits for a cancelled read.
  static constexpr unsigned long kOpenWaitMs = 150;
  static constexpr unsigned long kOpenLimitMs = 2000;
  static constexpr unsigned long kCloseWaitMs = 2000;

  // A port on the real system calls.
  Win32SerialPort();
  // A port that makes its calls on the device through `calls` (which outlives it, and
  // every worker thread of its opens).
  explicit Win32SerialPort(Win32PortCalls& calls);
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // Opens the device ("\\.\COM12"; "COM12" is taken as that) at the baud rate. Input that
  // waited in the driver is discarded. A driver that refuses DTR or RTS (Wine's
  // pseudo-terminal ports do) does not fail the open. True also while a slow open goes on
  // in the background (opening() says so); its failure comes later, from service().
  bool open(const std::string& device, std::int32_t baud) override;
  // Cancels the read and the write under way and closes the device; what was not sent
  // yet is dropped. An open still going on is given up.
  void close() override;
  bool isOpen() const override;
  // True while the device is still being opened in the background.
  bool opening() const;
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

  // The read's event while the port is open or opening (it stays signalled until
  // service() runs), kNoWaitable when closed.
  Waitable waitable() const override;
  // Finishes a background open (or gives it up), takes in the bytes of the completed
  // reads and starts the next one, then raises ReceiveOverflow, DataReceived, or (once,
  // after closing the port) LineError for a device that went away or an open that
  // failed. Line errors reported by the driver raise, in this order: ReceiveOverflow if
  // bytes were lost, DataReceived for the bytes received before them (also below the
  // threshold), LineError with the port open; the bytes they came with are dropped.
  void service() override;

  // Device name and baud rate of the open port (or of the last attempt).
  const std::string& device() const { return device_; }
  std::int32_t baud() const { return baud_; }

  // Shorter limits for tests of a driver that never answers (milliseconds).
  void setTimeLimits(unsigned long openWaitMs, unsigned long openLimitMs, unsigned long closeWaitMs);

 private:
  struct Io;       // the handles, the overlapped operations and their buffers
  struct OpenJob;  // an open under way on its worker thread

  bool ready() const;
  bool configure(void* handle);
  bool finishOpen();
  void giveUpOpen();
  void release();
  // Starts a session of its own: counted anew, with empty buffers and no errors.
  void newSession();
  bool startRead();
  bool startWrite();
  void pushQueue();
  void pauseReads();
  // Takes the driver's line errors into lineErrors_, its input count into *inQueue and its
  // output count into *outQueue (when given); false when the driver does not answer.
  bool takeDriverState(unsigned long* inQueue, unsigned long* outQueue);
  bool raise(PortEvent ev, unsigned session);
  // Raises the events of a line error: the bytes before it, then the error. False when a
  // handler closed or reopened the port.
  bool raiseLineError(bool& overflow, unsigned session);
  void keepReceived(const std::uint8_t* bytes, std::size_t count, bool& overflow);
  void lost(PortFailure why);

  Win32PortCalls& calls_;
  std::unique_ptr<Io> io_;
  std::shared_ptr<OpenJob> job_;  // the open under way in the background, if any
  void* openTimer_ = nullptr;     // signals the read's event when the background open runs out of time
  void* pauseTimer_ = nullptr;    // signals the read's event when reads may go on after a pause
  std::string device_;
  std::int32_t baud_ = 0;
  PortFailure failure_;
  std::int32_t rThreshold_ = 1;
  Bytes rx_;                      // received, not yet read; at most kInBufferSize bytes
  Bytes txQueue_;                 // written, waiting behind the write under way
  unsigned session_ = 0;          // counts opens, so that service() notices a close or reopen in a handler
  unsigned long lineErrors_ = 0;  // CE_* errors taken from the driver, not reported yet
  bool dropNextRead_ = false;     // the next read's bytes came with a line error reported already
  int idleReads_ = 0;             // reads in a row that ended without a byte or failed
  unsigned long openWaitMs_ = kOpenWaitMs;
  unsigned long openLimitMs_ = kOpenLimitMs;
  unsigned long closeWaitMs_ = kCloseWaitMs;
};

// A failed CreateFile of a port with the given GetLastError code, in a technician's
// words: "no such device", "in use by another program", "cannot open the device (...)".
PortFailure describeOpenFailure(unsigned long error);

// True for the errors with which a driver says that its device was removed.
bool isRemovalError(unsigned long error);

// True for the baud rates the port opens at (the same rates as on the other systems).
bool baudSupported(std::int32_t baud);

}  // namespace tarnset
