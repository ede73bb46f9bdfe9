#include "toolkit/win32/Win32Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>

#include "toolkit/win32/Win32Text.h"
#include "toolkit/win32/Win32Window.h"

namespace tarnset::w32 {

namespace {

constexpr UINT_PTR kFocusSubclass = 1;
constexpr int kBaseDpi = 96;

LRESULT CALLBACK focusSubclassProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR /*id*/, DWORD_PTR ref) {
  auto* p = reinterpret_cast<Placed*>(ref);
  WindowSide& w = p->side();
  if (!*w.core().alive()) return DefSubclassProc(h, msg, wp, lp);
  return w.env().loop.boundary(
      [&]() -> LRESULT {
        LRESULT r = 0;
        if (w.controlMessage(*p, h, msg, wp, lp, r)) return r;
        return DefSubclassProc(h, msg, wp, lp);
      },
      0);
}

// The width of a text in the window's font, in pixels.
LONG textWidth(HWND h, HFONT font, const std::wstring& text) {
  if (text.empty()) return 0;
  HDC dc = GetDC(h);
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(h, dc);
  return size.cx;
}

}  // namespace

// ---------------------------------------------------------------- every control

template <class Core>
W32Control<Core>::W32Control(WindowSide& side, tk::FrameCore* parent, HWND hwnd)
    : Core(side.core(), parent), side_(side), hwnd_(hwnd) {
  W32Control::placeNative();
  if (this->takesFocus()) {
    SetWindowSubclass(hwnd_, focusSubclassProc, kFocusSubclass,
                      reinterpret_cast<DWORD_PTR>(static_cast<Placed*>(this)));
  }
}

template <class Core>
void W32Control<Core>::placeNative() {
  SetWindowPos(hwnd_, nullptr, side_.px(this->left_), side_.px(this->top_),
               std::max(0, side_.px(this->width_)), std::max(0, side_.px(this->height_)),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

template <class Core>
void W32Control<Core>::tabStopNative() {
  const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
  SetWindowLongPtrW(hwnd_, GWL_STYLE,
                    this->tabStop_ ? style | WS_TABSTOP : style & ~static_cast<LONG_PTR>(WS_TABSTOP));
}

template <class Core>
void W32Control<Core>::applyDpi() {
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(side_.font()), FALSE);
  refit();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

// ---------------------------------------------------------------- frame

FrameAdapter::FrameAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent,
                 side.createChild(Env::kFrameClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, parentWindow)) {
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(static_cast<Placed*>(this)));
}

void FrameAdapter::paint(HDC dc) const {
  if (!border_) return;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  rc.top = std::min<LONG>(MulDiv(tk::kFrameTopInsetPx, side_.dpi(), kBaseDpi), rc.bottom / 2);
  DrawEdge(dc, &rc, EDGE_ETCHED, BF_RECT);
}

// ---------------------------------------------------------------- list box

ListBoxAdapter::ListBoxAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent,
                 side.createChild(L"LISTBOX",
                                  WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                                      LBS_HASSTRINGS,
                                  WS_EX_CLIENTEDGE, parentWindow)) {}

void ListBoxAdapter::clearedNative() {
  SendMessageW(hwnd_, LB_RESETCONTENT, 0, 0);
  extent_ = 0;
  SendMessageW(hwnd_, LB_SETHORIZONTALEXTENT, 0, 0);
}

void ListBoxAdapter::addedNative(const std::string& text) {
  const std::wstring line = toWide(text);
  SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  fitExtent(line);
}

void ListBoxAdapter::changedNative(std::int16_t n) {
  // A list box has no "set text": the line is replaced, then the selection and the scroll
  // position are put back, with the drawing held meanwhile.
  const std::wstring line = toWide(items_[static_cast<std::size_t>(n)]);
  const LRESULT selected = SendMessageW(hwnd_, LB_GETCURSEL, 0, 0);
  const LRESULT top = SendMessageW(hwnd_, LB_GETTOPINDEX, 0, 0);
  SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(hwnd_, LB_DELETESTRING, static_cast<WPARAM>(n), 0);
  SendMessageW(hwnd_, LB_INSERTSTRING, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SendMessageW(hwnd_, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
  RECT rc;
  if (SendMessageW(hwnd_, LB_GETITEMRECT, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(&rc)) != LB_ERR) {
    InvalidateRect(hwnd_, &rc, TRUE);
  }
  fitExtent(line);
}

void ListBoxAdapter::selectedNative() {
  SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(index_),
               0);  // -1 clears; a line is scrolled into view
}

bool ListBoxAdapter::command(WORD code) {
  if (code != LBN_SELCHANGE) return false;
  userSelected(static_cast<std::int16_t>(SendMessageW(hwnd_, LB_GETCURSEL, 0, 0)));
  return true;
}

void ListBoxAdapter::fitExtent(const std::wstring& line) {
  // Column-aligned lines scroll sideways, never cut: the scroll range covers the widest.
  const int needed =
      textWidth(hwnd_, side_.font(), line) + MulDiv(6, side_.dpi(), kBaseDpi);  // the list's margins
  if (needed <= extent_) return;
  extent_ = needed;
  SendMessageW(hwnd_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent_), 0);
}

void ListBoxAdapter::refit() {
  placeNative();
  extent_ = 0;
  SendMessageW(hwnd_, LB_SETHORIZONTALEXTENT, 0, 0);
  for (const auto& item : items_) fitExtent(toWide(item));
}

// ---------------------------------------------------------------- button

ButtonAdapter::ButtonAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent, side.createChild(L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, parentWindow)) {}

void ButtonAdapter::captionNative() {
  SetWindowTextW(hwnd_, toWide(caption_).c_str());
}

void ButtonAdapter::enabledNative() {
  EnableWindow(hwnd_, enabled_ ? TRUE : FALSE);
}

void ButtonAdapter::defaultNative() {
  SendMessageW(hwnd_, BM_SETSTYLE, default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

bool ButtonAdapter::command(WORD code) {
  if (code != BN_CLICKED) return false;
  if (*side_.core().alive()) fireClick();
  return true;
}

bool ButtonAdapter::hasAccessKey(wchar_t c) const {
  const std::wstring caption = toWide(caption_);
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != L'&') continue;
    if (caption[i + 1] == L'&') {
      ++i;  // "&&" is a plain ampersand
      continue;
    }
    return std::towlower(caption[i + 1]) == std::towlower(c);
  }
  return false;
}

// ---------------------------------------------------------------- label

LabelAdapter::LabelAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent,
                 side.createChild(L"STATIC", SS_CENTER | SS_NOPREFIX | SS_NOTIFY, 0, parentWindow)) {
  setCaption("");
}

void LabelAdapter::captionNative() {
  SetWindowTextW(hwnd_, toWideLines(caption_).c_str());
}

std::pair<std::int32_t, std::int32_t> LabelAdapter::measure() const {
  HDC dc = GetDC(hwnd_);
  const HGDIOBJ old = SelectObject(dc, side_.font());
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  const std::vector<std::wstring> lines = wideLines(caption_);
  LONG widest = 0;
  for (const auto& line : lines) widest = std::max(widest, textWidth(hwnd_, side_.font(), line));
  return {side_.twips(static_cast<int>(widest)),
          side_.twips(static_cast<int>(tm.tmHeight * static_cast<LONG>(lines.size())))};
}

HBRUSH LabelAdapter::colour(HDC dc) const {
  SetTextColor(dc, GetSysColor(color_ == tk::SysColor::ButtonText ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return GetSysColorBrush(COLOR_BTNFACE);
}

void LabelAdapter::tipNative(bool hadTip) {
  side_.setLabelTip(hwnd_, tip_, hadTip);
}

// ---------------------------------------------------------------- text pane

TextPaneAdapter::TextPaneAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent,
                 side.createChild(L"EDIT",
                                  WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                      ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                  WS_EX_CLIENTEDGE, parentWindow)) {
  SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);  // no limit but the system's
}

void TextPaneAdapter::textNative() {
  SetWindowTextW(hwnd_, toWideLines(text_).c_str());
}

HBRUSH TextPaneAdapter::colour(HDC dc) const {
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

// ---------------------------------------------------------------- text field

TextFieldAdapter::TextFieldAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent,
                 side.createChild(L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, parentWindow)) {}

void TextFieldAdapter::textNative() {
  setting_ = true;  // the control says EN_CHANGE for this too: not the user's change
  SetWindowTextW(hwnd_, toWide(text_).c_str());
  setting_ = false;
}

bool TextFieldAdapter::command(WORD code) {
  if (code != EN_CHANGE) return false;
  if (setting_) return true;
  const int n = GetWindowTextLengthW(hwnd_);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  GetWindowTextW(hwnd_, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(n));
  userEdited(fromWide(text));
  return true;
}

// ---------------------------------------------------------------- drop-down

DropDownAdapter::DropDownAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent,
                 side.createChild(L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS, 0,
                                  parentWindow)) {}

void DropDownAdapter::placeNative() {
  // The height of a drop-down list's window is that of its closed box and its open list:
  // the box keeps the height the system gives it, the list shows up to eight entries.
  SetWindowPos(hwnd_, nullptr, side_.px(left_), side_.px(top_), std::max(0, side_.px(width_)),
               std::max(0, side_.px(height_)) * 9, SWP_NOZORDER | SWP_NOACTIVATE);
}

void DropDownAdapter::clearedNative() {
  SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
}

void DropDownAdapter::addedNative(const std::string& text) {
  SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(toWide(text).c_str()));
}

void DropDownAdapter::selectedNative() {
  SendMessageW(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(index_), 0);
}

bool DropDownAdapter::command(WORD code) {
  if (code != CBN_SELCHANGE) return false;
  userPicked(static_cast<std::int16_t>(SendMessageW(hwnd_, CB_GETCURSEL, 0, 0)));
  return true;
}

// ---------------------------------------------------------------- check box

CheckBoxAdapter::CheckBoxAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow)
    : W32Control(side, parent, side.createChild(L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0, parentWindow)) {}

void CheckBoxAdapter::captionNative() {
  SetWindowTextW(hwnd_, toWide(caption_).c_str());
}

void CheckBoxAdapter::checkedNative() {
  SendMessageW(hwnd_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool CheckBoxAdapter::command(WORD code) {
  if (code != BN_CLICKED) return false;
  userClicked(SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED);
  return true;
}

}  // namespace tarnset::w32
