#pragma once
// The Win32 realisation of the toolkit's controls: each is the toolkit core's element
// (which keeps its state) with a system control that follows it (LISTBOX, BUTTON, STATIC,
// EDIT, COMBOBOX) or a window of the toolkit's own frame class. The controls are children
// of their window and die with it; the controls that take the focus are subclassed so
// that their keys pass the window's key routing first.
#include <windows.h>

#include <cstdint>
#include <string>

#include "toolkit/core/Elements.h"

namespace tarnset::w32 {

class WindowSide;

// What a window knows of each of its controls' system side.
class Placed {
 public:
  virtual ~Placed() = default;
  virtual HWND handle() const = 0;
  virtual tk::ControlNode& node() = 0;
  virtual WindowSide& side() const = 0;
  // Takes the window's current DPI: the font, and the place in pixels from the twips.
  virtual void applyDpi() = 0;
  // A notification (WM_COMMAND code) from the control; true when it was one of its own.
  virtual bool command(WORD /*code*/) { return false; }
  // The colours of a static-drawn control (WM_CTLCOLORSTATIC); nullptr: the system's.
  virtual HBRUSH colour(HDC /*dc*/) const { return nullptr; }
};

// A control of the core over its system window.
template <class Core>
class W32Control : public Core, public Placed {
 public:
  W32Control(WindowSide& side, tk::FrameCore* parent, HWND hwnd);

  HWND handle() const override { return hwnd_; }
  tk::ControlNode& node() override { return *this; }
  WindowSide& side() const override { return side_; }
  // The window's font, then refit().
  void applyDpi() override;

 protected:
  // Places the control again from its twips (after a new DPI).
  virtual void refit() { placeNative(); }
  void placeNative() override;
  void showNative() override { ShowWindow(hwnd_, this->visible_ ? SW_SHOWNA : SW_HIDE); }
  void tabStopNative() override;

  WindowSide& side_;
  HWND hwnd_;
};

class FrameAdapter final : public W32Control<tk::FrameCore> {
 public:
  FrameAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  // Draws the etched border.
  void paint(HDC dc) const;

 protected:
  void borderNative() override { InvalidateRect(hwnd_, nullptr, TRUE); }
};

class ListBoxAdapter final : public W32Control<tk::ListBoxCore> {
 public:
  ListBoxAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  bool command(WORD code) override;

 protected:
  // Placed again, with the scroll range of its lines in the new font.
  void refit() override;
  void clearedNative() override;
  void addedNative(const std::string& text) override;
  void changedNative(std::int16_t n) override;
  void selectedNative() override;

 private:
  // Widens the horizontal scroll range to the line's width.
  void fitExtent(const std::wstring& line);
  int extent_ = 0;
};

class ButtonAdapter final : public W32Control<tk::ButtonCore> {
 public:
  ButtonAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  bool command(WORD code) override;
  // True when the caption marks c as its access key ("&c").
  bool hasAccessKey(wchar_t c) const;

 protected:
  void captionNative() override;
  void enabledNative() override;
  void defaultNative() override;
};

class LabelAdapter final : public W32Control<tk::LabelCore> {
 public:
  LabelAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  HBRUSH colour(HDC dc) const override;

 protected:
  // Sized again to its caption in the new font.
  void refit() override { remeasure(); }
  std::pair<std::int32_t, std::int32_t> measure() const override;
  void captionNative() override;
  void colorNative() override { InvalidateRect(hwnd_, nullptr, TRUE); }
  void tipNative(bool hadTip) override;
};

class TextPaneAdapter final : public W32Control<tk::TextPaneCore> {
 public:
  TextPaneAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  // Text on the window colour, as an editable pane, not on the grey of a disabled one.
  HBRUSH colour(HDC dc) const override;

 protected:
  void textNative() override;
};

class TextFieldAdapter final : public W32Control<tk::TextFieldCore> {
 public:
  TextFieldAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  bool command(WORD code) override;

 protected:
  void textNative() override;

 private:
  bool setting_ = false;
};

class DropDownAdapter final : public W32Control<tk::DropDownCore> {
 public:
  DropDownAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  bool command(WORD code) override;

 protected:
  void placeNative() override;
  void clearedNative() override;
  void addedNative(const std::string& text) override;
  void selectedNative() override;
};

class CheckBoxAdapter final : public W32Control<tk::CheckBoxCore> {
 public:
  CheckBoxAdapter(WindowSide& side, tk::FrameCore* parent, HWND parentWindow);
  bool command(WORD code) override;

 protected:
  void captionNative() override;
  void checkedNative() override;
};

class LineAdapter final : public tk::LineCore {
 public:
  LineAdapter(HWND canvas, bool dark) : canvas_(canvas), dark_(dark) {}
  // Drawn in the shadow colour, else in the highlight colour.
  bool dark() const { return dark_; }

 protected:
  void pointsNative() override { InvalidateRect(canvas_, nullptr, TRUE); }

 private:
  HWND canvas_;
  bool dark_;
};

}  // namespace tarnset::w32
