#include "platform/AtomicFile.h"

#include <windows.h>

#include <atomic>
#include <iterator>

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

// Replacing a file fails for a moment while another program holds it without letting it
// be replaced: a virus scanner or a cloud folder's client reading the new file. The
// move is tried again at these pauses (in ms) before it counts as failed.
constexpr DWORD kReplacePauses[] = {20, 40, 80, 160, 250};

bool heldForAMoment(DWORD err) {
  return err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED || err == ERROR_LOCK_VIOLATION;
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
  std::wstring tmp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    tmp = win32::widen(dir + "." + base + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(++serial));
    h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    DeleteFileW(tmp.c_str());
    why = "cannot write " + path + ": " + win32::errorText(err);
    return false;
  }

  // Without MOVEFILE_REPLACE_EXISTING the move fails when path exists: nothing already
  // there is ever replaced. Write-through: the move is on the disk when it returns.
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (mayReplace ? MOVEFILE_REPLACE_EXISTING : 0);
  const std::wstring target = win32::widen(path);
  bool moved = false;
  for (std::size_t attempt = 0;; ++attempt) {
    if (MoveFileExW(tmp.c_str(), target.c_str(), flags)) {
      moved = true;
      break;
    }
    err = GetLastError();
    if (attempt == std::size(kReplacePauses) || !heldForAMoment(err)) break;
    Sleep(kReplacePauses[attempt]);
  }
  if (!moved) {
    DeleteFileW(tmp.c_str());
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
