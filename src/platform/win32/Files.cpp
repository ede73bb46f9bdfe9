#include "platform/Files.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/Text.h"

namespace tarnset {

const char* const kPathSeparators = "\\/";

FileContent readWholeFile(const std::string& path, std::uint64_t maxBytes) {
  FileContent out;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    out.status = FileContent::Status::Directory;
    return out;
  }
  const HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    out.status = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME
                     ? FileContent::Status::Missing
                     : FileContent::Status::Unreadable;
    out.why = win32::errorText(err);
    return out;
  }
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK) {
    // A device (COM1, NUL) or a pipe: never read, it could hold the program.
    out.status = FileContent::Status::NotRegular;
  } else if (!GetFileSizeEx(h, &size)) {
    out.why = win32::errorText(GetLastError());
  } else if (out.size = static_cast<std::uint64_t>(size.QuadPart); out.size > maxBytes) {
    out.status = FileContent::Status::TooLarge;
  } else {
    out.status = FileContent::Status::Ok;
    char buf[8192];
    for (;;) {
      DWORD n = 0;
      if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
        out.status = FileContent::Status::Unreadable;
        out.why = win32::errorText(GetLastError());
        break;
      }
      if (n == 0) break;
      out.bytes.append(buf, n);
      if (out.bytes.size() > maxBytes) {  // it grew while being read
        out.status = FileContent::Status::TooLarge;
        out.size = out.bytes.size();
        break;
      }
    }
  }
  CloseHandle(h);
  if (out.status != FileContent::Status::Ok) out.bytes.clear();
  return out;
}

std::string linkTarget(const std::string& path) {
  // Links are rare on this system and replacing one by a file does no harm.
  return path;
}

std::string executableDirectory() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return ".";
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);  // cut short: try with more room
  }
  const std::size_t slash = buf.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : buf.substr(0, slash);
}

void useParentConsole() {
  // Handles inherited from the starter (a redirection, a pipe) are kept.
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::FILE* ignored = nullptr;
  freopen_s(&ignored, "CONOUT$", "w", stdout);
  freopen_s(&ignored, "CONOUT$", "w", stderr);
}

bool standardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace tarnset
