#include "toolkit/win32/Win32ChoiceBox.h"

#include <algorithm>
#include <cstdint>

namespace tarnset::w32 {

namespace {

constexpr WORD kIcon = 100;
constexpr WORD kText = 101;
constexpr WORD kDetails = 102;
constexpr WORD kList = 103;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kListBoxClass = 0x0083;
constexpr int kVisibleChoices = 8;
constexpr int kMinTextWidthDlu = 200;

// An in-memory dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs); the controls are
// placed in WM_INITDIALOG, where their texts can be measured.
class Template {
 public:
  Template() {
    dword(DS_MODALFRAME | DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    dword(0);
    count_ = words_.size();
    words_.push_back(0);                              // the number of items, counted below
    for (int i = 0; i < 4; ++i) words_.push_back(0);  // x, y, cx, cy
    words_.push_back(0);                              // no menu
    words_.push_back(0);                              // the dialog class
    text(L"");                                        // the title, set later
    words_.push_back(8);                              // the shell font's points
    text(L"MS Shell Dlg");
  }

  void item(DWORD style, WORD id, WORD windowClass, const wchar_t* title) {
    if (words_.size() % 2 != 0) words_.push_back(0);  // DWORD aligned
    dword(WS_CHILD | WS_VISIBLE | style);
    dword(0);
    for (int i = 0; i < 4; ++i) words_.push_back(0);
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(windowClass);
    text(title);
    words_.push_back(0);  // no creation data
    ++words_[count_];
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void dword(DWORD d) {
    words_.push_back(static_cast<WORD>(d & 0xFFFF));
    words_.push_back(static_cast<WORD>(d >> 16));
  }
  void text(const wchar_t* s) {
    for (; *s != L'\0'; ++s) words_.push_back(static_cast<WORD>(*s));
    words_.push_back(0);
  }

  std::vector<WORD> words_;
  std::size_t count_ = 0;
};

struct Request {
  const std::wstring* title;
  const std::wstring* text;
  const std::wstring* details;
  const std::vector<std::wstring>* choices;
};

// The size of a text in the dialog's font, without wrapping.
SIZE textSize(HWND dialog, const std::wstring& text) {
  if (text.empty()) return {0, 0};
  HDC dc = GetDC(dialog);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
  RECT rc{0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

int dluX(HWND dialog, int x) {
  RECT rc{0, 0, x, 0};
  MapDialogRect(dialog, &rc);
  return rc.right;
}

int dluY(HWND dialog, int y) {
  RECT rc{0, 0, 0, y};
  MapDialogRect(dialog, &rc);
  return rc.bottom;
}

void place(HWND dialog, WORD id, int x, int y, int w, int h) {
  SetWindowPos(GetDlgItem(dialog, id), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Fills and lays out the box: the icon at the left, the text, the details and the list
// beside it, the buttons at the bottom right; centred over its owner.
void layOut(HWND dialog, const Request& r) {
  SetWindowTextW(dialog, r.title->c_str());
  SetDlgItemTextW(dialog, kText, r.text->c_str());
  SetDlgItemTextW(dialog, kDetails, r.details->c_str());
  SendDlgItemMessageW(dialog, kIcon, STM_SETICON,
                      reinterpret_cast<WPARAM>(LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_QUESTION))),
                      0);
  HWND list = GetDlgItem(dialog, kList);
  for (const auto& c : *r.choices) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(c.c_str()));
  SendMessageW(list, LB_SETCURSEL, 0, 0);

  const int margin = dluX(dialog, 7);
  const int gap = dluY(dialog, 7);
  const int icon = GetSystemMetrics(SM_CXICON);
  const SIZE text = textSize(dialog, *r.text);
  const SIZE details = textSize(dialog, *r.details);
  int longest = 0;
  for (const auto& c : *r.choices) longest = std::max<int>(longest, textSize(dialog, c).cx);
  const int width =
      std::max({static_cast<int>(text.cx), static_cast<int>(details.cx),
                longest + GetSystemMetrics(SM_CXVSCROLL) + dluX(dialog, 8), dluX(dialog, kMinTextWidthDlu)});
  const int left = margin + icon + margin;
  int y = margin;
  place(dialog, kIcon, margin, y, icon, icon);
  place(dialog, kText, left, y, width, text.cy);
  y += text.cy + gap;
  if (details.cy > 0) {
    place(dialog, kDetails, left, y, width, details.cy);
    y += details.cy + gap;
  } else {
    ShowWindow(GetDlgItem(dialog, kDetails), SW_HIDE);
  }
  const int rows = std::min<int>(static_cast<int>(r.choices->size()), kVisibleChoices);
  const int listHeight = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0)) * rows +
                         2 * GetSystemMetrics(SM_CYEDGE) + 2;
  place(dialog, kList, left, y, width, listHeight);
  y += listHeight + gap;
  const int buttonW = dluX(dialog, 50);
  const int buttonH = dluY(dialog, 14);
  const int clientW = left + width + margin;
  place(dialog, IDCANCEL, clientW - margin - buttonW, y, buttonW, buttonH);
  place(dialog, IDOK, clientW - margin - 2 * buttonW - dluX(dialog, 4), y, buttonW, buttonH);
  const int clientH = y + buttonH + margin;

  RECT outer{0, 0, clientW, clientH};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
  const int w = outer.right - outer.left;
  const int h = outer.bottom - outer.top;
  RECT over{};
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner == nullptr || !GetWindowRect(owner, &over)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
  SetWindowPos(dialog, nullptr, (over.left + over.right - w) / 2, (over.top + over.bottom - h) / 2, w, h,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK choiceProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      layOut(dialog, *reinterpret_cast<const Request*>(lp));
      SetFocus(GetDlgItem(dialog, kList));
      return FALSE;  // the focus is set
    case WM_COMMAND: {
      const WORD id = LOWORD(wp);
      if (id == IDOK || (id == kList && HIWORD(wp) == LBN_DBLCLK)) {
        EndDialog(dialog, SendDlgItemMessageW(dialog, kList, LB_GETCURSEL, 0, 0));
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dialog, -1);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

int runChoiceBox(HWND owner, const std::wstring& title, const std::wstring& text, const std::wstring& details,
                 const std::vector<std::wstring>& choices) {
  Template t;
  t.item(SS_ICON, kIcon, kStaticClass, L"");
  t.item(SS_LEFT | SS_NOPREFIX, kText, kStaticClass, L"");
  t.item(SS_LEFT | SS_NOPREFIX, kDetails, kStaticClass, L"");
  t.item(WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, kList, kListBoxClass, L"");
  t.item(WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, kButtonClass, L"OK");
  t.item(WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, kButtonClass, L"Cancel");
  const Request r{&title, &text, &details, &choices};
  const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), owner, choiceProc,
                                                 reinterpret_cast<LPARAM>(&r));
  const auto n = static_cast<INT_PTR>(choices.size());
  return answer >= 0 && answer < n ? static_cast<int>(answer) : -1;
}

}  // namespace tarnset::w32
