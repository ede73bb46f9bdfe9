#include "platform/Files.h"

#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "platform/win32/Text.h"

namespace tarnset {

const char* const kPathSeparators = "\\/";

FileContent readWholeFile(const std::string& path, std::uint64_t maxBytes) {
  FileContent out;
  const std::wstring name = win32::widen(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    out.status = FileContent::Status::Directory;
    return out;
  }
  const HANDLE h =
      CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return ".";
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);  // cut short: try with more room
  }
  const std::size_t slash = buf.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string(".")
                                     : win32::utf8(std::wstring_view(buf).substr(0, slash));
}

std::FILE* openFile(const std::string& path, const char* mode) {
  return _wfopen(win32::widen(path).c_str(), win32::widen(mode).c_str());
}

std::vector<std::string> programArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  }
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(win32::utf8(wide[i]));
  LocalFree(wide);
  return args;
}

namespace {

// The bytes of text up to the last whole UTF-8 character: a character cut between two
// writes waits for its other bytes.
std::size_t wholeCharacters(const std::string& text) {
  std::size_t start = text.size();
  for (int back = 0; back < 4 && start > 0; ++back) {
    const auto c = static_cast<unsigned char>(text[start - 1]);
    if ((c & 0xC0) != 0x80) {  // the first byte of a character (or a byte of its own)
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      return text.size() - (start - 1) >= length ? text.size() : start - 1;
    }
    --start;
  }
  return text.size();
}

// A stream buffer over a C stream of the console: UTF-8 text goes to a console window
// through WriteConsoleW, and to a file or a pipe as it is (through the C stream, which
// ends its lines in CR LF). Flushed at every line end and whenever the stream is.
class Utf8ConsoleBuffer final : public std::streambuf {
 public:
  explicit Utf8ConsoleBuffer(std::FILE* file) : file_(file) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_ += traits_type::to_char_type(c);
    if (c == '\n' || pending_.size() >= kChunk) flush();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    if (pending_.size() >= kChunk || std::memchr(s, '\n', static_cast<std::size_t>(n)) != nullptr) flush();
    return n;
  }
  int sync() override {
    flush();
    return 0;
  }

 private:
  static constexpr std::size_t kChunk = 4096;

  void flush() {
    if (pending_.empty()) return;
    std::fflush(file_);  // what the C stream holds goes first
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
      std::fwrite(pending_.data(), 1, pending_.size(), file_);
      std::fflush(file_);
      pending_.clear();
      return;
    }
    const std::size_t whole = wholeCharacters(pending_);
    const std::wstring text = win32::widen(std::string_view(pending_).substr(0, whole));
    for (std::size_t done = 0; done < text.size();) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
      if (!WriteConsoleW(console, text.data() + done, chunk, &written, nullptr) || written == 0) break;
      done += written;
    }
    pending_.erase(0, whole);
  }

  std::FILE* file_;
  std::string pending_;
};

}  // namespace

void useUtf8StandardStreams() {
  // Never freed: the streams are flushed at exit, after every static object of ours
  // has gone.
  static auto* out = new Utf8ConsoleBuffer(stdout);
  static auto* err = new Utf8ConsoleBuffer(stderr);
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
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
