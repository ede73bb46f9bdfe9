#include "platform/AtomicFile.h"

#include <windows.h>

#include <atomic>

#include "platform/win32/Text.h"

namespace tarnset {
namespace {

bool writeAll(HANDLE h, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 20));
    DWORD n = 0;
    if (!WriteFile(h, data.data() + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& content, std::string& why,
                         bool mayReplace) {
  why.clear();
  const std::size_t slash = path.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || path.find('\0') != std::string::npos) {
    why = "cannot create '" + path + "': not a file name";
    return false;
  }

  // A name of its own for each attempt: the process id tells processes apart, the count
  // tells apart the writes of this one.
  static std::atomic<unsigned> serial{0};
  std::string tmp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    tmp = dir + "." + base + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      why = "cannot create " + path + ": " + win32::errorText(GetLastError());
      return false;
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    why = "cannot create " + path + ": no free name for a temporary file";
    return false;
  }

  DWORD err = 0;
  if (!writeAll(h, content) || !FlushFileBuffers(h)) err = GetLastError();
  if (!CloseHandle(h) && err == 0) err = GetLastError();
  if (err != 0) {
    DeleteFileA(tmp.c_str());
    why = "cannot write " + path + ": " + win32::errorText(err);
    return false;
  }

  // Without MOVEFILE_REPLACE_EXISTING the move fails when path exists: nothing already
  // there is ever replaced. Write-through: the move is on the disk when it returns.
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (mayReplace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExA(tmp.c_str(), path.c_str(), flags)) {
    err = GetLastError();
    DeleteFileA(tmp.c_str());
    if (!mayReplace && (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS)) {
      why = path + " exists already";
    } else {
      why = (mayReplace ? "cannot replace " : "cannot create ") + path + ": " + win32::errorText(err);
    }
    return false;
  }
  return true;
}

}  // namespace tarnset
