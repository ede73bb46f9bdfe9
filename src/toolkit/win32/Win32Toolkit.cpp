#include "toolkit/win32/Win32Toolkit.h"

#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <commdlg.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "toolkit/core/FileFilters.h"
#include "toolkit/win32/Win32ChoiceBox.h"
#include "toolkit/win32/Win32Loop.h"
#include "toolkit/win32/Win32Text.h"
#include "toolkit/win32/Win32Window.h"

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

std::wstring messageText(const std::string& text, const std::string& details) {
  std::wstring body = w32::toWideLines(text);
  if (!details.empty()) body += L"\r\n\r\n" + w32::toWideLines(details);
  return body;
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

}  // namespace

Win32Toolkit::Win32Toolkit(const DpiSource* dpi) {
  enableDpiAwareness();
  initCommonControls();
  if (dpi == nullptr) {
    systemDpi_ = std::make_unique<SystemDpi>();
    dpi = systemDpi_.get();
  }
  loop_ = std::make_unique<w32::Loop>(*this);
  env_ = std::make_unique<w32::Env>(*loop_, *dpi);
}

Win32Toolkit::~Win32Toolkit() = default;

std::unique_ptr<tk::MainWindow> Win32Toolkit::createMainWindow() {
  return std::make_unique<w32::MainWindowAdapter>(*env_);
}

std::unique_ptr<tk::DialogWindow> Win32Toolkit::createDialog() {
  HWND owner = nullptr;
  for (const w32::WindowSide* w : env_->windows) {
    if (w->isMain()) owner = w->hwnd();
  }
  return std::make_unique<w32::DialogAdapter>(*env_, owner);
}

std::unique_ptr<tk::Timer> Win32Toolkit::createTimer() {
  return loop_->core().createTimer();
}

std::unique_ptr<tk::Watch> Win32Toolkit::watch(Waitable what, std::function<void()> onReady) {
  // On this system a waitable is a handle.
  if (what == kNoWaitable || what == 0) throw std::invalid_argument("Nothing to watch");
  if (loop_->core().waitables().size() >= static_cast<std::size_t>(w32::Loop::kMaxWatches)) {
    throw std::length_error("More watched handles than the event loop can wait on");
  }
  return loop_->core().watch(what, std::move(onReady));
}

void Win32Toolkit::post(std::function<void()> f) {
  loop_->core().post(std::move(f));
}

std::int16_t Win32Toolkit::messageBox(const std::string& text, const std::string& title,
                                      const std::string& details) {
  const tk::EventCore::ModalScope modal(loop_->core());
  HWND owner = env_->dialogOwner();
  MessageBoxW(owner, messageText(text, details).c_str(), w32::toWide(title).c_str(),
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND | (owner == nullptr ? MB_TASKMODAL : 0));
  return 1;
}

bool Win32Toolkit::askOkCancel(const std::string& text, const std::string& title,
                               const std::string& details) {
  const tk::EventCore::ModalScope modal(loop_->core());
  HWND owner = env_->dialogOwner();
  const int answer = MessageBoxW(owner, messageText(text, details).c_str(), w32::toWide(title).c_str(),
                                 MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON1 | MB_SETFOREGROUND |
                                     (owner == nullptr ? MB_TASKMODAL : 0));
  return answer == IDOK;
}

int Win32Toolkit::askChoice(const std::string& text, const std::string& title, const std::string& details,
                            const std::vector<std::string>& choices) {
  if (choices.empty()) return -1;
  std::vector<std::wstring> lines;
  for (const auto& c : choices) lines.push_back(w32::toWide(c));
  const tk::EventCore::ModalScope modal(loop_->core());
  return w32::runChoiceBox(env_->dialogOwner(), w32::toWide(title), w32::toWideLines(text),
                           w32::toWideLines(details), lines);
}

std::string Win32Toolkit::chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                         const std::vector<tk::FileFilter>& filters) {
  std::wstring folder;
  std::wstring name;
  if (!suggestedPath.empty()) {
    std::wstring path = w32::pathToWide(suggestedPath);
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
  const std::size_t selected = tk::filterIndexFor(filters, w32::pathFromWide(name));
  // The dialog adds the extension of the filter selected when it closes; it does so only
  // when it has a default extension at all.
  std::string ext = filters.empty() ? std::string() : tk::defaultExtension(filters[selected]);
  for (std::size_t i = 0; ext.empty() && i < filters.size(); ++i) ext = tk::defaultExtension(filters[i]);
  const std::wstring defaultExt = w32::toWide(ext);

  std::vector<wchar_t> file(32768, L'\0');
  name.copy(file.data(), std::min(name.size(), file.size() - 1));

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFilter = filters.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(selected + 1);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = caption.c_str();
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;

  const tk::EventCore::ModalScope modal(loop_->core());
  ofn.hwndOwner = env_->dialogOwner();
  if (!GetSaveFileNameW(&ofn)) return {};
  return w32::pathFromWide(std::wstring(file.data()));
}

bool Win32Toolkit::modalActive() const {
  return loop_->core().modalActive();
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
  return tk::twipsFor(area.right - area.left, env_->primaryDpi());
}

std::int32_t Win32Toolkit::screenHeight() const {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return tk::twipsFor(area.bottom - area.top, env_->primaryDpi());
}

std::int32_t Win32Toolkit::twipsPerPixelX() const {
  int dpi = env_->primaryDpi();
  for (const w32::WindowSide* w : env_->windows) {
    if (w->isMain()) dpi = w->dpi();
  }
  return static_cast<std::int32_t>(std::lround(static_cast<double>(tk::kTwipsPerInch) / dpi));
}

std::int32_t Win32Toolkit::twipsPerPixelY() const {
  return twipsPerPixelX();  // the system has one DPI for both directions
}

void Win32Toolkit::quit(int exitCode) {
  loop_->quit(exitCode);
}

int Win32Toolkit::run() {
  return loop_->run();
}

std::intptr_t Win32Toolkit::handleOf(tk::Window& window) {
  auto* w = dynamic_cast<w32::WindowSide*>(&window);
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
