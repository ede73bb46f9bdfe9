#include "toolkit/win32/Win32Toolkit.h"

#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <commdlg.h>
#include <timeapi.h>

#include <cmath>
#include <cstring>
#include <cwctype>
#include <stdexcept>

#include "toolkit/win32/Win32Elements.h"
#include "toolkit/win32/Win32Text.h"

namespace tarnset {

namespace {

// A function that the running system may or may not have, looked up by name.
template <class F>
F systemFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  const FARPROC p = GetProcAddress(module, name);
  F f = nullptr;
  static_assert(sizeof f == sizeof p);
  std::memcpy(&f, &p, sizeof f);
  return f;
}

// The system's DPI: the window's own where the system tells it (Windows 10 1607 and
// later), else its monitor's, else the screen's logical DPI.
class SystemDpi final : public DpiSource {
 public:
  SystemDpi()
      : shcore_(LoadLibraryW(L"shcore.dll")),
        forWindow_(systemFunction<ForWindow>(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")),
        forMonitor_(systemFunction<ForMonitor>(shcore_, "GetDpiForMonitor")) {}
  ~SystemDpi() override {
    if (shcore_ != nullptr) FreeLibrary(shcore_);
  }
  SystemDpi(const SystemDpi&) = delete;
  SystemDpi& operator=(const SystemDpi&) = delete;

  int dpiOf(std::intptr_t window) const override {
    const auto hwnd = reinterpret_cast<HWND>(window);
    if (hwnd != nullptr && forWindow_ != nullptr) {
      const UINT dpi = forWindow_(hwnd);
      if (dpi > 0) return static_cast<int>(dpi);
    }
    if (forMonitor_ != nullptr) {
      const HMONITOR monitor = hwnd != nullptr ? MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST)
                                               : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
      UINT x = 0;
      UINT y = 0;
      if (SUCCEEDED(forMonitor_(monitor, kEffectiveDpi, &x, &y)) && x > 0) return static_cast<int>(x);
    }
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
  }

 private:
  using ForWindow = UINT(WINAPI*)(HWND);
  using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

  HMODULE shcore_;
  ForWindow forWindow_;
  ForMonitor forMonitor_;
};

// Per-monitor DPI awareness, the best the system offers; a manifest that decided already wins.
void enableDpiAwareness() {
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  if (auto set =
          systemFunction<SetContext>(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")) {
    if (set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || GetLastError() == ERROR_ACCESS_DENIED) return;
  }
  if (HMODULE shcore = LoadLibraryW(L"shcore.dll")) {
    using SetAwareness = HRESULT(WINAPI*)(int);
    constexpr int kPerMonitorAware = 2;  // PROCESS_PER_MONITOR_DPI_AWARE
    const auto set = systemFunction<SetAwareness>(shcore, "SetProcessDpiAwareness");
    const bool done = set != nullptr && set(kPerMonitorAware) != E_INVALIDARG;
    FreeLibrary(shcore);
    if (done) return;
  }
  SetProcessDPIAware();
}

void initCommonControls() {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
  if (!InitCommonControlsEx(&icc)) {
    icc.dwICC = ICC_WIN95_CLASSES;  // common controls before version 6
    InitCommonControlsEx(&icc);
  }
}

// Finer timer resolution for the process while the loop runs, so that its waits end on
// the millisecond rather than on the system's default 15.6 ms tick.
class PreciseWaits {
 public:
  PreciseWaits() : on_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  ~PreciseWaits() {
    if (on_) timeEndPeriod(1);
  }
  PreciseWaits(const PreciseWaits&) = delete;
  PreciseWaits& operator=(const PreciseWaits&) = delete;

 private:
  bool on_;
};

std::wstring messageText(const std::string& text, const std::string& details) {
  std::wstring body = w32::toWideLines(text);
  if (!details.empty()) body += L"\r\n\r\n" + w32::toWideLines(details);
  return body;
}

// --- File names: the system's narrow names in the ANSI code page ---

std::wstring fromAnsi(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

// The name in the ANSI code page; false when a character has no spelling there.
bool toAnsi(const std::wstring& s, std::string& out) {
  out.clear();
  if (s.empty()) return true;
  BOOL lossy = FALSE;
  const UINT cp = GetACP();
  // UTF-8 spells everything and takes no "default character" arguments.
  const bool utf8 = cp == CP_UTF8;
  const int n = WideCharToMultiByte(cp, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, s.data(), static_cast<int>(s.size()),
                                    nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
  if (n <= 0 || lossy) return false;
  out.resize(static_cast<std::size_t>(n));
  WideCharToMultiByte(cp, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, s.data(), static_cast<int>(s.size()), out.data(),
                      n, nullptr, nullptr);
  return true;
}

// A chosen path as a narrow name: as it is, or with its folder's short (8.3) name when
// only the folder has characters outside the code page.
bool pathToAnsi(const std::wstring& path, std::string& out) {
  if (toAnsi(path, out)) return true;
  const auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return false;
  const std::wstring folder = path.substr(0, slash);
  const DWORD n = GetShortPathNameW(folder.c_str(), nullptr, 0);
  if (n == 0) return false;
  std::wstring shortFolder(n, L'\0');
  const DWORD got = GetShortPathNameW(folder.c_str(), shortFolder.data(), n);
  if (got == 0 || got >= n) return false;
  shortFolder.resize(got);
  return toAnsi(shortFolder + path.substr(slash), out);
}

// A wildcard pattern (* and ?) matched against a file name, ignoring case.
bool matchesPattern(const std::wstring& pattern, const std::wstring& name) {
  std::size_t p = 0, n = 0, star = std::wstring::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || std::towlower(pattern[p]) == std::towlower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      mark = n;
    } else if (star != std::wstring::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

// The extension of a filter's first pattern ("*.pdf" gives "pdf"); empty when the pattern
// is not of that plain form ("*", "*.*", "report*").
std::wstring extensionOf(const tk::FileFilter& filter) {
  if (filter.patterns.empty()) return {};
  const std::wstring pattern = w32::toWide(filter.patterns.front());
  if (pattern.rfind(L"*.", 0) != 0) return {};
  const std::wstring ext = pattern.substr(2);
  if (ext.empty() || ext.find_first_of(L"*?[.") != std::wstring::npos) return {};
  return ext;
}

// "PDF document (*.pdf)\0*.pdf\0Web page (*.html *.htm)\0*.html;*.htm\0\0"
std::wstring filterString(const std::vector<tk::FileFilter>& filters) {
  std::wstring s;
  for (const auto& f : filters) {
    std::wstring shown, patterns;
    for (const auto& p : f.patterns) {
      shown += (shown.empty() ? L"" : L" ") + w32::toWide(p);
      patterns += (patterns.empty() ? L"" : L";") + w32::toWide(p);
    }
    s += w32::toWide(f.name) + L" (" + shown + L")";
    s += L'\0';
    s += patterns;
    s += L'\0';
  }
  s += L'\0';
  return s;
}

// The 1-based index of the first filter matching the name; 1 when none does.
DWORD filterIndexFor(const std::vector<tk::FileFilter>& filters, const std::wstring& name) {
  if (name.empty()) return 1;
  for (std::size_t i = 0; i < filters.size(); ++i) {
    for (const auto& p : filters[i].patterns) {
      if (matchesPattern(w32::toWide(p), name)) return static_cast<DWORD>(i + 1);
    }
  }
  return 1;
}

}  // namespace

Win32Toolkit::Win32Toolkit(const DpiSource* dpi) {
  enableDpiAwareness();
  initCommonControls();
  if (dpi == nullptr) {
    systemDpi_ = std::make_unique<SystemDpi>();
    dpi = systemDpi_.get();
  }
  env_ = std::make_unique<w32::Env>(*this, *dpi);
}

Win32Toolkit::~Win32Toolkit() = default;

std::unique_ptr<tk::MainWindow> Win32Toolkit::createMainWindow() {
  return std::make_unique<w32::WindowAdapter>(*env_);
}

std::unique_ptr<tk::Timer> Win32Toolkit::createTimer() {
  return std::make_unique<w32::TimerAdapter>(*env_);
}

std::unique_ptr<tk::Watch> Win32Toolkit::watch(Waitable what, std::function<void()> onReady) {
  // On this system a waitable is a handle.
  if (what == kNoWaitable || what == 0) throw std::invalid_argument("Nothing to watch");
  return std::make_unique<w32::WatchAdapter>(*env_, reinterpret_cast<HANDLE>(what), std::move(onReady));
}

void Win32Toolkit::post(std::function<void()> f) {
  env_->post(std::move(f));
}

std::int16_t Win32Toolkit::messageBox(const std::string& text, const std::string& title,
                                      const std::string& details) {
  const w32::ModalScope modal(*env_);
  HWND owner = env_->dialogOwner();
  MessageBoxW(owner, messageText(text, details).c_str(), w32::toWide(title).c_str(),
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND | (owner == nullptr ? MB_TASKMODAL : 0));
  return 1;
}

bool Win32Toolkit::askOkCancel(const std::string& text, const std::string& title,
                               const std::string& details) {
  const w32::ModalScope modal(*env_);
  HWND owner = env_->dialogOwner();
  const int answer = MessageBoxW(owner, messageText(text, details).c_str(), w32::toWide(title).c_str(),
                                 MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON1 | MB_SETFOREGROUND |
                                     (owner == nullptr ? MB_TASKMODAL : 0));
  return answer == IDOK;
}

std::string Win32Toolkit::chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                         const std::vector<tk::FileFilter>& filters) {
  std::wstring folder;
  std::wstring name;
  if (!suggestedPath.empty()) {
    std::wstring path = fromAnsi(suggestedPath);
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n > 0) {
      std::wstring full(n, L'\0');
      const DWORD got = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
      if (got > 0 && got < n) path = full.substr(0, got);
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      folder = path;
    } else {
      const auto slash = path.find_last_of(L"\\/");
      folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
      name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    }
  }

  const std::wstring filter = filterString(filters);
  const std::wstring caption = w32::toWide(title);
  const DWORD filterIndex = filterIndexFor(filters, name);
  // The dialog adds the extension of the filter selected when it closes; it does so only
  // when it has a default extension at all.
  std::wstring defaultExt = filters.empty() ? std::wstring() : extensionOf(filters[filterIndex - 1]);
  for (std::size_t i = 0; defaultExt.empty() && i < filters.size(); ++i) defaultExt = extensionOf(filters[i]);

  std::vector<wchar_t> file(32768, L'\0');
  name.copy(file.data(), std::min(name.size(), file.size() - 1));

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFilter = filters.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = filterIndex;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = caption.c_str();
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;

  const w32::ModalScope modal(*env_);
  ofn.hwndOwner = env_->dialogOwner();
  if (!GetSaveFileNameW(&ofn)) return {};
  std::string chosen;
  if (!pathToAnsi(std::wstring(file.data()), chosen)) {
    MessageBeep(MB_ICONWARNING);
    return {};
  }
  return chosen;
}

bool Win32Toolkit::modalActive() const {
  return env_->modalDepth > 0;
}

void Win32Toolkit::beep() {
  MessageBeep(MB_OK);
}

bool Win32Toolkit::writePdf(const std::string& /*html*/, const std::string& /*path*/, std::string& why) {
  why = "PDF output is not available in the Windows program";
  return false;
}

std::int32_t Win32Toolkit::screenWidth() const {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return w32::twipsFor(area.right - area.left, env_->primaryDpi());
}

std::int32_t Win32Toolkit::screenHeight() const {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return w32::twipsFor(area.bottom - area.top, env_->primaryDpi());
}

std::int32_t Win32Toolkit::twipsPerPixelX() const {
  const int dpi = env_->windows.empty() ? env_->primaryDpi() : env_->windows.back()->dpi();
  return static_cast<std::int32_t>(std::lround(static_cast<double>(w32::kTwipsPerInch) / dpi));
}

std::int32_t Win32Toolkit::twipsPerPixelY() const {
  return twipsPerPixelX();  // the system has one DPI for both directions
}

void Win32Toolkit::quit(int exitCode) {
  env_->quit(exitCode);
}

int Win32Toolkit::run() {
  w32::Env& env = *env_;
  int code = 0;
  if (env.takeQuit(code)) return code;
  const PreciseWaits precise;
  std::vector<HANDLE> handles;
  std::vector<std::uint64_t> ids;
  while (!env.quitRequested()) {
    env.work();
    env.rethrowPending();
    if (env.quitRequested()) break;
    env.waitHandles(handles, ids);
    const auto n = static_cast<DWORD>(handles.size());
    const DWORD r = MsgWaitForMultipleObjectsEx(n, handles.empty() ? nullptr : handles.data(),
                                                env.msToNextWork(), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r < WAIT_OBJECT_0 + n) {
      env.fireWatch(ids[r - WAIT_OBJECT_0]);
    } else if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + n) {
      env.fireWatch(ids[r - WAIT_ABANDONED_0]);
    } else if (r == WAIT_OBJECT_0 + n) {
      env.pumpMessages();
    } else if (r == WAIT_FAILED) {
      env.dropInvalidWatches();
    }
    env.rethrowPending();
  }
  env.takeQuit(code);
  return code;
}

std::intptr_t Win32Toolkit::handleOf(tk::MainWindow& window) {
  auto* w = dynamic_cast<w32::WindowAdapter*>(&window);
  return w != nullptr ? reinterpret_cast<std::intptr_t>(w->hwnd()) : 0;
}

std::intptr_t Win32Toolkit::handleOf(tk::Control& control) {
  auto* c = dynamic_cast<w32::Placed*>(&control);
  return c != nullptr ? reinterpret_cast<std::intptr_t>(c->handle()) : 0;
}

std::intptr_t Win32Toolkit::handleOf(tk::Menu& menu) {
  auto* m = dynamic_cast<w32::MenuAdapter*>(&menu);
  return m != nullptr ? reinterpret_cast<std::intptr_t>(m->menu()) : 0;
}

unsigned Win32Toolkit::commandOf(tk::MenuItem& item) {
  auto* i = dynamic_cast<w32::MenuItemAdapter*>(&item);
  return i != nullptr ? i->id() : 0;
}

}  // namespace tarnset
