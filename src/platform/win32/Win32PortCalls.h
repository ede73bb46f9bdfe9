#pragma once
// The system calls the Windows serial port makes on its device, behind one small
// interface so that tests can stand in a device that Wine's pseudo-terminal ports cannot
// imitate (one that reports framing errors and breaks, that goes away mid-read, that
// stalls a write, that never finishes opening or never ends a cancelled read). The
// production calls are the plain Win32 ones with the Win32 meaning: FALSE (or
// INVALID_HANDLE_VALUE, or a null handle) on failure, the reason from lastError().
#include <windows.h>

#include <string>

namespace tarnset {

class Win32PortCalls {
 public:
  virtual ~Win32PortCalls() = default;

  // CreateFileW of an existing device (its name in UTF-8) with the given access, sharing
  // and flags. Called from a worker thread of its own: a Bluetooth port's driver holds it
  // for many seconds while it connects to the far device.
  virtual HANDLE createFile(const char* path, DWORD access, DWORD share, DWORD flags) = 0;
  // CloseHandle of the device, an event or a mutex.
  virtual BOOL closeHandle(HANDLE h) = 0;
  // GetCommState, SetCommState, SetCommTimeouts, SetupComm.
  virtual BOOL getCommState(HANDLE h, DCB* dcb) = 0;
  virtual BOOL setCommState(HANDLE h, DCB* dcb) = 0;
  virtual BOOL setCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts) = 0;
  virtual BOOL setupComm(HANDLE h, DWORD inQueue, DWORD outQueue) = 0;
  // PurgeComm with PURGE_* flags.
  virtual BOOL purgeComm(HANDLE h, DWORD flags) = 0;
  // ClearCommError: the CE_* errors since the last call (which clears them) and the queues.
  virtual BOOL clearCommError(HANDLE h, DWORD* errors, COMSTAT* stat) = 0;
  // EscapeCommFunction (SETDTR, SETRTS ...).
  virtual BOOL escapeCommFunction(HANDLE h, DWORD function) = 0;
  // Overlapped ReadFile and WriteFile: TRUE when done at once, FALSE with ERROR_IO_PENDING
  // when under way; either way the result comes from getOverlappedResult.
  virtual BOOL readFile(HANDLE h, void* buffer, DWORD count, OVERLAPPED* ov) = 0;
  virtual BOOL writeFile(HANDLE h, const void* buffer, DWORD count, OVERLAPPED* ov) = 0;
  // GetOverlappedResult without waiting: an operation under way fails with
  // ERROR_IO_INCOMPLETE. (Waiting is done on the operation's event, with a limit.)
  virtual BOOL getOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* transferred) = 0;
  // Cancels the operation of ov on h, or every operation on h when ov is null (CancelIoEx:
  // whichever thread started it).
  virtual BOOL cancelIo(HANDLE h, OVERLAPPED* ov) = 0;
  // A manual-reset event, not signalled; null on failure.
  virtual HANDLE createEvent() = 0;
  // ResetEvent.
  virtual BOOL resetEvent(HANDLE event) = 0;
  // WaitForMultipleObjects for all of count events, at most ms milliseconds: WAIT_OBJECT_0
  // when all are signalled, WAIT_TIMEOUT when not in time.
  virtual DWORD waitForAll(const HANDLE* events, DWORD count, DWORD ms) = 0;
  // Signals event once, ms milliseconds from now (from a thread of the system's); the
  // timer's handle, null when none could be made.
  virtual HANDLE startTimer(HANDLE event, DWORD ms) = 0;
  // Ends a timer of startTimer; when it returns, the timer signals nothing any more.
  virtual void stopTimer(HANDLE timer) = 0;
  // CreateMutexW of a named mutex (not owned); ERROR_ALREADY_EXISTS from lastError() when
  // another handle to it exists.
  virtual HANDLE createMutex(const char* name) = 0;
  // True when the device ("\\.\COM4") is a port of the Bluetooth stack.
  virtual bool isBluetooth(const std::string& device) = 0;
  // GetLastError after the last failed call (of this thread).
  virtual DWORD lastError() = 0;
};

// The real system calls; stateless, shared by every port that is given no other calls.
Win32PortCalls& systemPortCalls();

}  // namespace tarnset
