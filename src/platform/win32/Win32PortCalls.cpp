#include "platform/win32/Win32PortCalls.h"

#include <algorithm>

#include "platform/SystemPortResolver.h"
#include "platform/win32/ComNames.h"
#include "platform/win32/Text.h"

namespace tarnset {

namespace {

// Signals the event a timer of startTimer was given.
void CALLBACK signalEvent(PVOID event, BOOLEAN /*timedOut*/) {
  SetEvent(static_cast<HANDLE>(event));
}

class SystemPortCalls final : public Win32PortCalls {
 public:
  HANDLE createFile(const char* path, DWORD access, DWORD share, DWORD flags) override {
    return CreateFileW(win32::widen(path).c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
  }
  BOOL closeHandle(HANDLE h) override { return CloseHandle(h); }
  BOOL getCommState(HANDLE h, DCB* dcb) override { return GetCommState(h, dcb); }
  BOOL setCommState(HANDLE h, DCB* dcb) override { return SetCommState(h, dcb); }
  BOOL setCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts) override { return SetCommTimeouts(h, timeouts); }
  BOOL setupComm(HANDLE h, DWORD inQueue, DWORD outQueue) override { return SetupComm(h, inQueue, outQueue); }
  BOOL purgeComm(HANDLE h, DWORD flags) override { return PurgeComm(h, flags); }
  BOOL clearCommError(HANDLE h, DWORD* errors, COMSTAT* stat) override {
    return ClearCommError(h, errors, stat);
  }
  BOOL escapeCommFunction(HANDLE h, DWORD function) override { return EscapeCommFunction(h, function); }
  // The byte counts are taken from GetOverlappedResult only, as an overlapped call's own
  // count is not reliable.
  BOOL readFile(HANDLE h, void* buffer, DWORD count, OVERLAPPED* ov) override {
    return ReadFile(h, buffer, count, nullptr, ov);
  }
  BOOL writeFile(HANDLE h, const void* buffer, DWORD count, OVERLAPPED* ov) override {
    return WriteFile(h, buffer, count, nullptr, ov);
  }
  BOOL getOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* transferred) override {
    return GetOverlappedResult(h, ov, transferred, FALSE);
  }
  BOOL cancelIo(HANDLE h, OVERLAPPED* ov) override { return CancelIoEx(h, ov); }
  HANDLE createEvent() override { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  BOOL resetEvent(HANDLE event) override { return ResetEvent(event); }
  DWORD waitForAll(const HANDLE* events, DWORD count, DWORD ms) override {
    return WaitForMultipleObjects(count, events, TRUE, ms);
  }
  HANDLE startTimer(HANDLE event, DWORD ms) override {
    HANDLE timer = nullptr;
    if (!CreateTimerQueueTimer(&timer, nullptr, signalEvent, event, ms, 0, WT_EXECUTEONLYONCE))
      return nullptr;
    return timer;
  }
  void stopTimer(HANDLE timer) override {
    // INVALID_HANDLE_VALUE: returns only when a call of the timer under way has ended.
    if (timer != nullptr) DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
  }
  HANDLE createMutex(const char* name) override {
    return CreateMutexW(nullptr, FALSE, win32::widen(name).c_str());
  }
  bool isBluetooth(const std::string& device) override {
    const std::string wanted = win32::comDeviceName(device);
    const std::vector<SerialPortInfo> ports = listSerialPorts();
    return std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& p) {
      return p.bluetooth && CompareStringOrdinal(win32::widen(p.device).c_str(), -1,
                                                 win32::widen(wanted).c_str(), -1, TRUE) == CSTR_EQUAL;
    });
  }
  DWORD lastError() override { return GetLastError(); }
};

}  // namespace

Win32PortCalls& systemPortCalls() {
  // Never destroyed: the worker of an open the program gave up on may still return from
  // the driver while the program ends.
  static auto* calls = new SystemPortCalls;
  return *calls;
}

}  // namespace tarnset
