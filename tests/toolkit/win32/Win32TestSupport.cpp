#include "toolkit/win32/Win32TestSupport.h"

#include <commctrl.h>

namespace tarnset::w32test {

std::wstring textOf(HWND h) {
  const int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

std::wstring classOf(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

void pump() {
  ULONGLONG quietSince = GetTickCount64();
  while (GetTickCount64() - quietSince < 40) {
    MSG m;
    bool any = false;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
      any = true;
    }
    if (any) {
      quietSince = GetTickCount64();
    } else {
      Sleep(1);
    }
  }
}

void sendKey(WORD vk, Mods m) {
  std::vector<INPUT> in;
  auto key = [&in](WORD k, bool up, bool extended) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = k;
    i.ki.wScan = static_cast<WORD>(MapVirtualKeyW(k, MAPVK_VK_TO_VSC));
    i.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    in.push_back(i);
  };
  if (m.ctrl) key(VK_CONTROL, false, false);
  if (m.alt) key(VK_MENU, false, false);
  if (m.shift) key(VK_SHIFT, false, false);
  key(vk, false, m.extended);
  key(vk, true, m.extended);
  if (m.shift) key(VK_SHIFT, true, false);
  if (m.alt) key(VK_MENU, true, false);
  if (m.ctrl) key(VK_CONTROL, true, false);
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

void press(WORD vk, Mods m) {
  sendKey(vk, m);
  pump();
}

void typeText(const std::wstring& text) {
  for (const wchar_t c : text) {
    INPUT in[2] = {};
    for (int i = 0; i < 2; ++i) {
      in[i].type = INPUT_KEYBOARD;
      in[i].ki.wScan = c;
      in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i == 1 ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, in, sizeof(INPUT));
    pump();
  }
}

HWND findDialog(DWORD thread, HWND except) {
  struct Search {
    HWND except;
    HWND found;
  } s{except, nullptr};
  EnumThreadWindows(
      thread,
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (h != s->except && IsWindowVisible(h) && classOf(h) == L"#32770") {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND waitForDialog(DWORD thread, HWND except) {
  for (int i = 0; i < 500; ++i) {
    if (HWND d = findDialog(thread, except)) return d;
    Sleep(10);
  }
  return nullptr;
}

namespace {

LRESULT CALLBACK uiCallProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    (*reinterpret_cast<const std::function<void()>*>(lp))();
    return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

}  // namespace

UiCall::UiCall() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = uiCallProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TarnsetTestUiCall";
  RegisterClassW(&wc);
  hwnd_ =
      CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

UiCall::~UiCall() {
  DestroyWindow(hwnd_);
}

void UiCall::call(const std::function<void()>& f) const {
  SendMessageW(hwnd_, WM_APP, 0, reinterpret_cast<LPARAM>(&f));
}

ModalPlayer::ModalPlayer(std::function<void(HWND)> act)
    : ui_(GetCurrentThreadId()), thread_([this, act = std::move(act)] {
        HWND d = waitForDialog(ui_);
        found_ = d != nullptr;
        if (d != nullptr) act(d);
      }) {}

bool ModalPlayer::finish() {
  if (thread_.joinable()) thread_.join();
  return found_;
}

Box readBox(HWND box) {
  Box b;
  b.title = textOf(box);
  EnumChildWindows(
      box,
      [](HWND h, LPARAM p) -> BOOL {
        auto* b = reinterpret_cast<Box*>(p);
        const std::wstring cls = classOf(h);
        if (CompareStringOrdinal(cls.c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL) {
          if ((GetWindowLongPtrW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            b->icon = reinterpret_cast<HICON>(SendMessageW(h, STM_GETICON, 0, 0));
          } else if (const std::wstring t = textOf(h); !t.empty() && IsWindowVisible(h)) {
            b->text += (b->text.empty() ? L"" : L"\r\n") + t;
          }
        } else if (CompareStringOrdinal(cls.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL &&
                   IsWindowVisible(h)) {
          b->buttons.push_back(GetDlgCtrlID(h));
        } else if (CompareStringOrdinal(cls.c_str(), -1, L"ListBox", -1, TRUE) == CSTR_EQUAL) {
          const auto n = SendMessageW(h, LB_GETCOUNT, 0, 0);
          for (LRESULT i = 0; i < n; ++i) {
            std::wstring line(static_cast<std::size_t>(SendMessageW(h, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
            SendMessageW(h, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
            line.resize(line.size() - 1);
            b->choices.push_back(line);
          }
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&b));
  const LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
  if (HIWORD(def) == DC_HASDEFID) b.defaultButton = LOWORD(def);
  return b;
}

void keyInDialog(HWND dialog, UINT vk) {
  GUITHREADINFO gti{};
  gti.cbSize = sizeof gti;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gti);
  HWND target = gti.hwndFocus != nullptr ? gti.hwndFocus : dialog;
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  PostMessageW(target, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

}  // namespace tarnset::w32test
