#include "toolkit/contract/Win32Driver.h"

#include "toolkit/win32/Win32TestSupport.h"
// After windows.h:
#include <dbt.h>

namespace tarnset::contract {

namespace {

using namespace w32test;

HWND hwndOf(tk::Window& w) {
  return reinterpret_cast<HWND>(Win32Toolkit::handleOf(w));
}
HWND hwndOf(tk::Control& c) {
  return reinterpret_cast<HWND>(Win32Toolkit::handleOf(c));
}

// The window in front, where the system's input goes.
void bringToFront(HWND h) {
  if (GetForegroundWindow() == h) return;
  SetForegroundWindow(h);
  pump();
}

std::string narrow(const std::wstring& w) {
  std::string s;
  for (const wchar_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
  return s;
}

std::vector<std::string> lines(const std::wstring& text) {
  return nonEmptyLines(narrow(text));
}

}  // namespace

Win32Driver::Win32Driver() : ui_(std::make_unique<UiCall>()) {}
Win32Driver::~Win32Driver() = default;

void Win32Driver::show(tk::MainWindow& w) {
  w.show();
  bringToFront(hwndOf(w));
}

void Win32Driver::show(tk::DialogWindow& d) {
  d.show();
  bringToFront(hwndOf(d));
}

void Win32Driver::click(tk::CommandButton& b) {
  SendMessageW(hwndOf(b), BM_CLICK, 0, 0);
  pump();
}

void Win32Driver::press(tk::Window& w, std::int16_t key, std::int16_t shift) {
  bringToFront(hwndOf(w));
  // The logic's key codes are the system's virtual keys.
  w32test::press(static_cast<WORD>(key), {.shift = (shift & tk::kShiftBit) != 0,
                                          .ctrl = (shift & tk::kCtrlBit) != 0,
                                          .alt = (shift & tk::kAltBit) != 0});
}

void Win32Driver::type(tk::TextField& f, const std::string& ascii) {
  HWND h = hwndOf(f);
  bringToFront(GetAncestor(h, GA_ROOT));
  SetFocus(h);
  w32test::press(VK_END);  // at the end of what is there, as a click after it puts the caret
  typeText(std::wstring(ascii.begin(), ascii.end()));
}

void Win32Driver::pick(tk::DropDown& d, std::int16_t n) {
  HWND h = hwndOf(d);
  bringToFront(GetAncestor(h, GA_ROOT));
  SetFocus(h);
  while (SendMessageW(h, CB_GETCURSEL, 0, 0) < n) w32test::press(VK_DOWN);
  while (SendMessageW(h, CB_GETCURSEL, 0, 0) > n) w32test::press(VK_UP);
}

void Win32Driver::toggle(tk::CheckBox& c) {
  SendMessageW(hwndOf(c), BM_CLICK, 0, 0);
  pump();
}

void Win32Driver::closeBox(tk::Window& w) {
  SendMessageW(hwndOf(w), WM_SYSCOMMAND, SC_CLOSE, 0);
  pump();
}

void Win32Driver::choose(tk::MainWindow& w, tk::MenuItem& item) {
  SendMessageW(hwndOf(w), WM_COMMAND, MAKEWPARAM(Win32Toolkit::commandOf(item), 0), 0);
}

void Win32Driver::open(tk::MainWindow& w, tk::Menu& menu) {
  SendMessageW(hwndOf(w), WM_INITMENUPOPUP, static_cast<WPARAM>(Win32Toolkit::handleOf(menu)),
               MAKELPARAM(0, FALSE));
}

void Win32Driver::endSession(tk::MainWindow& w) {
  if (SendMessageW(hwndOf(w), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) != FALSE) {
    SendMessageW(hwndOf(w), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  }
}

bool Win32Driver::devicesChanged(tk::MainWindow& w) {
  SendMessageW(hwndOf(w), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  return true;
}

void Win32Driver::playNextBox(BoxPlay play) {
  seen_ = {};
  player_ = std::make_unique<ModalPlayer>([this, play = std::move(play)](HWND d) {
    Sleep(kBoxOpenMs);
    if (play.look) ui_->call(play.look);
    const Box box = readBox(d);
    seen_ = {true, narrow(box.title), lines(box.text), {}};
    for (const auto& c : box.choices) seen_.choices.push_back(narrow(c));
    switch (play.reply) {
      case Reply::Ok:
        if (HWND list = FindWindowExW(d, nullptr, L"ListBox", nullptr)) {
          SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(play.choice), 0);
        }
        PostMessageW(d, WM_COMMAND, IDOK, 0);
        break;
      case Reply::Cancel:
        PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
        break;
      case Reply::Escape:
        keyInDialog(d, VK_ESCAPE);
        break;
      case Reply::CloseBox:
        PostMessageW(d, WM_CLOSE, 0, 0);
        break;
    }
  });
}

const BoxSeen& Win32Driver::lastBox() {
  if (player_) player_->finish();
  return seen_;
}

}  // namespace tarnset::contract
