#include "platform/win32/Win32PortCalls.h"

namespace tarnset {

namespace {

class SystemPortCalls final : public Win32PortCalls {
 public:
  HANDLE createFile(const char* path, DWORD access, DWORD share, DWORD flags) override {
    return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
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
  BOOL getOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* transferred, BOOL wait) override {
    return GetOverlappedResult(h, ov, transferred, wait);
  }
  BOOL cancelIo(HANDLE h, OVERLAPPED* ov) override { return CancelIoEx(h, ov); }
  HANDLE createEvent() override { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  BOOL resetEvent(HANDLE event) override { return ResetEvent(event); }
  HANDLE createMutex(const char* name) override { return CreateMutexA(nullptr, FALSE, name); }
  DWORD lastError() override { return GetLastError(); }
};

}  // namespace

Win32PortCalls& systemPortCalls() {
  static SystemPortCalls calls;
  return calls;
}

}  // namespace tarnset
