#pragma once
// What every adapter keeps of the toolkit's elements, written once: the state behind each
// getter (captions, texts, lines, selection, geometry, visibility, enabled and checked
// marks, tips, default and cancel roles, tab stops) and the logic around it (refusing bad
// indexes, one default button, the focus moving on from a hidden control, the way a key
// travels through a window). An adapter derives from these classes and makes its
// widgets follow through the protected hooks ("...Native"); the headless adapter
// uses them nearly as they are.
//
// The user's own changes come back through the "user..." members, which update the state
// and run the notification.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Toolkit.h"

namespace tarnset::tk {

class WindowCore;
class FrameCore;

// --- Facts every adapter shares ---

// Size of a control before the logic moves it, in twips.
constexpr std::int32_t kDefaultControlWidth = 1200;
constexpr std::int32_t kDefaultControlHeight = 360;
// Outer size of a main window before the logic places it, in twips.
constexpr std::int32_t kFirstWindowWidth = 9600;
constexpr std::int32_t kFirstWindowHeight = 7200;
// The fixed-pitch font of every window: the longest console line (80 characters) fits
// the main window's first width.
constexpr const char* kFontFamily = "Courier New";
constexpr int kFontPointSize = 9;
// A frame's etched border sits this many pixels (at 96 DPI) below its top edge, where a
// titled frame would draw its caption band, so that a frame right under a row of buttons
// does not touch them.
constexpr int kFrameTopInsetPx = 6;
constexpr int kTwipsPerInch = 1440;

// Pixels for twips at a DPI, and back; rounded to the nearest.
int pixelsFor(std::int32_t twips, double dpi);
std::int32_t twipsFor(int pixels, double dpi);

// --- Controls ---

// What a window knows of each of its controls.
class ControlNode {
 public:
  ControlNode(WindowCore& window, FrameCore* parent, bool takesFocus);
  virtual ~ControlNode() = default;
  ControlNode(const ControlNode&) = delete;
  ControlNode& operator=(const ControlNode&) = delete;

  // The control as the logic sees it.
  virtual Control& asControl() = 0;
  WindowCore& window() const { return window_; }
  // The frame holding the control; nullptr = the window's client area.
  FrameCore* parentFrame() const { return parent_; }
  // True when the control and every frame around it are visible.
  bool shown() const;
  // True when this is c or lies within the frame c.
  bool isWithin(const ControlNode* c) const;

  // Focus: a control that takes part in the focus and the tab order.
  bool takesFocus() const { return takesFocus_; }
  bool tabStopOn() const { return tabStop_; }
  // True when it can take the focus now: shown (and enabled, where it can be disabled).
  virtual bool canTakeFocus() const { return takesFocus_ && shown(); }

  // Notifications that the window routes to the control.
  virtual void gotFocus() {}
  virtual void keyDown(std::int16_t& /*keyCode*/, std::int16_t /*shift*/) {}
  virtual void typed(char /*c*/) {}

 protected:
  void setGeometry(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);
  void changeVisible(bool on);
  void changeTabStop(bool on);
  // Runs a notification of this control through the toolkit's guard, on a copy of it
  // (the handler may replace itself).
  template <class F, class... A>
  void notify(const F& handler, A&&... args) const;

  // The adapter's widget follows: its place (twips changed), its visibility, its tab stop.
  virtual void placeNative() {}
  virtual void showNative() {}
  virtual void tabStopNative() {}

  WindowCore& window_;
  FrameCore* parent_;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::int32_t width_ = kDefaultControlWidth;
  std::int32_t height_ = kDefaultControlHeight;
  bool visible_ = true;
  bool tabStop_ = true;

 private:
  bool takesFocus_;
};

// The Control part of an interface, over ControlNode.
template <class Iface>
class ControlCore : public Iface, public ControlNode {
 public:
  ControlCore(WindowCore& window, FrameCore* parent, bool takesFocus = false)
      : ControlNode(window, parent, takesFocus) {}

  Control& asControl() override { return *this; }
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override {
    setGeometry(left, top, width, height);
  }
  std::int32_t left() const override { return left_; }
  std::int32_t top() const override { return top_; }
  std::int32_t width() const override { return width_; }
  std::int32_t height() const override { return height_; }
  void setVisible(bool on) override { changeVisible(on); }
  bool visible() const override { return visible_; }
};

// The FocusControl part of an interface.
template <class Iface>
class FocusCore : public ControlCore<Iface> {
 public:
  FocusCore(WindowCore& window, FrameCore* parent) : ControlCore<Iface>(window, parent, true) {}

  void setFocus() override;
  bool hasFocus() const override;
  void setTabStop(bool on) override { this->changeTabStop(on); }
  bool tabStop() const override { return this->tabStop_; }
  void moveToEndOfTabOrder() override;
};

class FrameCore : public ControlCore<Frame> {
 public:
  using ControlCore::ControlCore;
  void setBorder(bool on) override;
  bool border() const override { return border_; }

 protected:
  virtual void borderNative() {}
  bool border_ = true;
};

class ListBoxCore : public FocusCore<ListBox> {
 public:
  using FocusCore::FocusCore;
  void clear() override;
  void addItem(const std::string& text) override;
  void setItemText(std::int16_t n, const std::string& text) override;
  std::string itemText(std::int16_t n) const override;
  std::int16_t listCount() const override;
  std::int16_t listIndex() const override { return index_; }
  void setListIndex(std::int16_t n) override;

  void gotFocus() override { notify(onGotFocus); }
  void keyDown(std::int16_t& keyCode, std::int16_t shift) override { notify(onKeyDown, keyCode, shift); }
  // All lines, for assertions.
  const std::vector<std::string>& items() const { return items_; }

  // The user moved the selection in the widget (-1: none).
  void userSelected(std::int16_t n);

 protected:
  virtual void clearedNative() {}
  virtual void addedNative(const std::string& /*text*/) {}
  virtual void changedNative(std::int16_t /*n*/) {}
  virtual void selectedNative() {}

  std::vector<std::string> items_;
  std::int16_t index_ = -1;
};

class ButtonCore : public FocusCore<CommandButton> {
 public:
  using FocusCore::FocusCore;
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }
  void setDefault(bool on) override;
  bool isDefault() const override { return default_; }
  void setCancel(bool on) override;
  bool isCancel() const override { return cancel_; }

  bool canTakeFocus() const override { return enabled_ && shown(); }
  void typed(char c) override { notify(onKeyPress, c); }
  // Runs onClick, when the button is enabled.
  void fireClick();
  // The window's Return or Escape clicks the button (an adapter may show the press).
  virtual void press() { fireClick(); }
  // Drops the role without touching the other buttons.
  void dropDefault();
  void dropCancel() { cancel_ = false; }

 protected:
  virtual void captionNative() {}
  virtual void enabledNative() {}
  virtual void defaultNative() {}

  std::string caption_;
  bool enabled_ = true;
  bool default_ = false;
  bool cancel_ = false;
};

class LabelCore : public ControlCore<Label> {
 public:
  using ControlCore::ControlCore;
  // Only the position is taken: the size follows the caption.
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;
  // An unchanged caption costs nothing (the port label is set on every tick).
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setForeColor(SysColor c) override;
  SysColor foreColor() const override { return color_; }
  void setTip(const std::string& text) override;
  std::string tip() const override { return tip_; }

 protected:
  // Sizes the label to its caption again (the font changed, say).
  void remeasure();
  // The caption's size in twips, as the adapter's font draws it.
  virtual std::pair<std::int32_t, std::int32_t> measure() const = 0;
  virtual void captionNative() {}
  virtual void colorNative() {}
  // The tip changed; it was not empty before when hadTip.
  virtual void tipNative(bool /*hadTip*/) {}

  std::string caption_;
  SysColor color_ = SysColor::ButtonText;
  std::string tip_;
  bool captionSet_ = false;
  bool colorSet_ = false;
};

class TextPaneCore : public FocusCore<TextPane> {
 public:
  using FocusCore::FocusCore;
  void setText(const std::string& text) override;
  std::string text() const override { return text_; }

 protected:
  virtual void textNative() {}
  std::string text_;
};

class TextFieldCore : public FocusCore<TextField> {
 public:
  using FocusCore::FocusCore;
  void setText(const std::string& text) override;
  std::string text() const override { return text_; }

  // The user changed the text in the widget.
  void userEdited(const std::string& text);

 protected:
  virtual void textNative() {}
  std::string text_;
};

class DropDownCore : public FocusCore<DropDown> {
 public:
  using FocusCore::FocusCore;
  void clear() override;
  void addItem(const std::string& text) override;
  std::int16_t listCount() const override;
  std::string itemText(std::int16_t n) const override;
  std::int16_t listIndex() const override { return index_; }
  void setListIndex(std::int16_t n) override;

  // The user picked entry n in the widget.
  void userPicked(std::int16_t n);

 protected:
  virtual void clearedNative() {}
  virtual void addedNative(const std::string& /*text*/) {}
  virtual void selectedNative() {}

  std::vector<std::string> items_;
  std::int16_t index_ = -1;
};

class CheckBoxCore : public FocusCore<CheckBox> {
 public:
  using FocusCore::FocusCore;
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setChecked(bool on) override;
  bool checked() const override { return checked_; }

  // The user clicked the box; checked is its new mark.
  void userClicked(bool checked);

 protected:
  virtual void captionNative() {}
  virtual void checkedNative() {}
  std::string caption_;
  bool checked_ = false;
};

class LineCore : public Line {
 public:
  void setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override;
  std::int32_t x1() const override { return x1_; }
  std::int32_t y1() const override { return y1_; }
  std::int32_t x2() const override { return x2_; }
  std::int32_t y2() const override { return y2_; }

 protected:
  virtual void pointsNative() {}
  std::int32_t x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
};

// --- Menus ---

class MenuItemCore : public MenuItem {
 public:
  MenuItemCore(Toolkit& toolkit, std::string caption) : toolkit_(toolkit), caption_(std::move(caption)) {}
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override;
  // Set on every tick: the widget changes only when the mark does.
  void setChecked(bool on) override;
  bool checked() const override { return checked_; }
  void setTip(const std::string& text) override;
  std::string tip() const override { return tip_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }

  // The user chose the item: onClick, unless it is disabled.
  void choose();

 protected:
  virtual void captionNative() {}
  virtual void checkedNative() {}
  virtual void tipNative() {}
  virtual void enabledNative() {}

  Toolkit& toolkit_;
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  std::string tip_;
};

class MenuCore : public Menu {
 public:
  MenuCore(Toolkit& toolkit, std::string caption) : toolkit_(toolkit), caption_(std::move(caption)) {}
  std::string caption() const override { return caption_; }
  MenuItem& addItem(const std::string& caption) override;
  Menu& addSubMenu(const std::string& caption) override;
  void addSeparator() override;

  // How captions() shows a separator.
  static constexpr const char* kSeparator = "-";
  // Captions of items and sub-menus in menu order, separators as kSeparator.
  const std::vector<std::string>& captions() const { return order_; }
  const std::vector<std::unique_ptr<MenuItemCore>>& items() const { return items_; }
  const std::vector<std::unique_ptr<MenuCore>>& subMenus() const { return subMenus_; }
  // The menu is about to open: onAboutToShow.
  void aboutToShow();

 protected:
  virtual std::unique_ptr<MenuItemCore> makeItem(const std::string& caption) = 0;
  virtual std::unique_ptr<MenuCore> makeSubMenu(const std::string& caption) = 0;
  virtual void separatorNative() {}

  Toolkit& toolkit_;
  std::string caption_;

 private:
  std::vector<std::unique_ptr<MenuItemCore>> items_;
  std::vector<std::unique_ptr<MenuCore>> subMenus_;
  std::vector<std::string> order_;
};

// --- Windows ---

// The logic that the main window and the dialogs share: their controls, the focus and
// the tab order, the default and cancel buttons, and the way a key travels.
class WindowCore {
 public:
  explicit WindowCore(Toolkit& toolkit) : toolkit_(toolkit) {}
  virtual ~WindowCore();
  WindowCore(const WindowCore&) = delete;
  WindowCore& operator=(const WindowCore&) = delete;

  Toolkit& toolkit() const { return toolkit_; }
  // False once the window is being destroyed: callbacks of its widgets keep quiet then.
  const std::shared_ptr<bool>& alive() const { return alive_; }

  // --- Controls ---
  // The controls in creation order.
  const std::vector<std::unique_ptr<ControlNode>>& controls() const { return controls_; }
  // The controls of one kind in creation order.
  template <class T>
  std::vector<T*> controlsOf() const;
  // The control behind an interface reference; nullptr when it is not one of this window's.
  ControlNode* nodeOf(const Control* c) const;

  // --- Focus ---
  // The control that has the focus, or gets it back when the window is active again;
  // nullptr when none.
  virtual ControlNode* focusHolder() const { return focused_; }
  // Gives the focus to c when it can take it.
  void focus(ControlNode* c);
  // Moves the focus to the next (or previous) tab stop after from that can take it.
  void focusNext(ControlNode* from, bool backwards);
  void moveToEndOfTabOrder(ControlNode* c);
  const std::vector<ControlNode*>& tabOrder() const { return tabChain_; }
  // Runs change (which hides or disables c); when the focus was in c it moves on to the
  // next tab stop that can take it, else the window itself keeps the keys.
  void whileFocusMovesOn(const ControlNode* c, const std::function<void()>& change);
  // True while whileFocusMovesOn runs.
  bool focusMoving() const { return movingFocus_ > 0; }
  // The widget of c got the keyboard focus: its got-focus notification.
  void focusArrived(ControlNode* c);

  // --- Buttons ---
  // The shown, enabled default (cancel) button; nullptr when none.
  ButtonCore* defaultButton() const;
  ButtonCore* cancelButton() const;
  // Takes the default (cancel) role from every other button.
  void makeSoleDefault(const ButtonCore* b);
  void makeSoleCancel(const ButtonCore* b);

  // --- Keys ---
  enum class KeyResult {
    Consumed,  // a handler consumed it (or the window went away)
    Used,      // the window used it: a default or cancel button, the focus moved, a dialog closed
    Passed,    // the focused control's own handling takes it
  };
  // Routes a key pressed while target has the focus (nullptr: the window itself): the key
  // preview, the control's handler, then the window's own keys.
  KeyResult routeKey(ControlNode* target, std::int16_t keyCode, std::int16_t shift);

 protected:
  // Takes ownership of a new control and puts it in the tab order when it takes the focus.
  template <class T>
  T& adopt(std::unique_ptr<T> c);
  // The frame of this window that a Parent names; throws for another window's frame.
  FrameCore* frameOf(Parent parent) const;

  // The key preview of the window.
  virtual const KeyDownHandler& preview() const = 0;
  // Escape found no cancel button: true when the window used it (a dialog closes).
  virtual bool escapeUnused() { return false; }
  // The adapter gives its widget the focus. The default (the headless window) records
  // it and notifies at once.
  virtual void giveFocus(ControlNode* c);
  // Nothing can hold the focus: the window itself keeps the keys.
  virtual void dropFocus() { focused_ = nullptr; }
  // The tab order changed.
  virtual void tabOrderNative() {}

  Toolkit& toolkit_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  ControlNode* focused_ = nullptr;

 private:
  std::vector<std::unique_ptr<ControlNode>> controls_;
  std::vector<ControlNode*> tabChain_;
  int movingFocus_ = 0;
};

// A window interface (main window, dialog) over WindowCore: its caption and its controls,
// made by the adapter's factories.
template <class Iface>
class WindowBase : public Iface, public WindowCore {
 public:
  explicit WindowBase(Toolkit& toolkit) : WindowCore(toolkit) {}

  void setCaption(const std::string& text) override {
    caption_ = text;
    captionNative();
  }
  std::string caption() const override { return caption_; }
  Frame& addFrame(Parent parent) override { return adopt(makeFrame(frameOf(parent))); }
  ListBox& addListBox(Parent parent) override { return adopt(makeListBox(frameOf(parent))); }
  CommandButton& addButton(Parent parent) override { return adopt(makeButton(frameOf(parent))); }
  Label& addLabel(Parent parent) override { return adopt(makeLabel(frameOf(parent))); }
  TextField& addTextField(Parent parent) override { return adopt(makeTextField(frameOf(parent))); }
  DropDown& addDropDown(Parent parent) override { return adopt(makeDropDown(frameOf(parent))); }
  CheckBox& addCheckBox(Parent parent) override { return adopt(makeCheckBox(frameOf(parent))); }

 protected:
  const KeyDownHandler& preview() const override { return this->onKeyDown; }
  virtual void captionNative() {}
  virtual std::unique_ptr<FrameCore> makeFrame(FrameCore* parent) = 0;
  virtual std::unique_ptr<ListBoxCore> makeListBox(FrameCore* parent) = 0;
  virtual std::unique_ptr<ButtonCore> makeButton(FrameCore* parent) = 0;
  virtual std::unique_ptr<LabelCore> makeLabel(FrameCore* parent) = 0;
  virtual std::unique_ptr<TextFieldCore> makeTextField(FrameCore* parent) = 0;
  virtual std::unique_ptr<DropDownCore> makeDropDown(FrameCore* parent) = 0;
  virtual std::unique_ptr<CheckBoxCore> makeCheckBox(FrameCore* parent) = 0;

  std::string caption_;
};

// The main window's own part: menus, the text pane and lines, showing, closing and the
// size reports. Its outer geometry is the adapter's (the user moves and sizes it).
class MainWindowCore : public WindowBase<MainWindow> {
 public:
  explicit MainWindowCore(Toolkit& toolkit) : WindowBase(toolkit) {}

  void show() override;
  bool isShown() const override { return shown_; }
  // onQueryUnload, then onUnload (once until it is shown again), then the window hides.
  void unload() override;

  Menu& addMenu(const std::string& caption) override;
  TextPane& addTextPane(Parent parent) override { return adopt(makeTextPane(frameOf(parent))); }
  Line& addLine() override;

  const std::vector<std::unique_ptr<MenuCore>>& menus() const { return menus_; }
  const std::vector<std::unique_ptr<LineCore>>& lines() const { return lines_; }

  // The user closed the window (its close box): as unload().
  void closedByUser() { unload(); }
  // The session ends: onEndSession, once.
  void endSession();

 protected:
  // The client size may have changed: onResize runs when it differs from the size last
  // reported; a window not shown yet reports its size when it is shown.
  void clientSizeChanged();
  // Reports the client size now (the DPI changed, say).
  void fireResize();
  // Sizes are not reported meanwhile (the adapter places everything anew).
  class ResizeHold {
   public:
    explicit ResizeHold(MainWindowCore& w) : w_(w) { ++w_.resizeHeld_; }
    ~ResizeHold() { --w_.resizeHeld_; }
    ResizeHold(const ResizeHold&) = delete;
    ResizeHold& operator=(const ResizeHold&) = delete;

   private:
    MainWindowCore& w_;
  };

  virtual void showNative() {}
  virtual void hideNative() {}
  virtual std::unique_ptr<MenuCore> makeMenu(const std::string& caption) = 0;
  virtual std::unique_ptr<TextPaneCore> makeTextPane(FrameCore* parent) = 0;
  virtual std::unique_ptr<LineCore> makeLine() = 0;

  bool shown_ = false;
  bool resizePending_ = true;
  std::int32_t reportedWidth_ = -1;
  std::int32_t reportedHeight_ = -1;

 private:
  std::vector<std::unique_ptr<MenuCore>> menus_;
  std::vector<std::unique_ptr<LineCore>> lines_;
  bool unloaded_ = false;
  bool sessionEnded_ = false;
  int resizeHeld_ = 0;
};

// A dialog's own part: its client size, place, showing and closing. Escape clicks its
// cancel button, or closes it when it has none.
class DialogCore : public WindowBase<DialogWindow> {
 public:
  explicit DialogCore(Toolkit& toolkit) : WindowBase(toolkit) {}

  void setClientSize(std::int32_t width, std::int32_t height) override;
  std::int32_t scaleWidth() const override { return clientWidth_; }
  std::int32_t scaleHeight() const override { return clientHeight_; }
  void moveTo(std::int32_t left, std::int32_t top) override;
  std::int32_t left() const override { return left_; }
  std::int32_t top() const override { return top_; }
  void show() override;
  void close() override;
  bool isShown() const override { return shown_; }

 protected:
  bool escapeUnused() override;
  virtual void sizeNative() {}
  virtual void moveNative() {}
  virtual void showNative() {}
  virtual void hideNative() {}

  std::int32_t clientWidth_ = 4800;
  std::int32_t clientHeight_ = 3600;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  bool positioned_ = false;
  bool shown_ = false;
};

// --- Templates that need the complete window ---

template <class F, class... A>
void ControlNode::notify(const F& handler, A&&... args) const {
  const F copy = handler;
  window_.toolkit().guarded([&] {
    if (copy) copy(std::forward<A>(args)...);
  });
}

template <class Iface>
void FocusCore<Iface>::setFocus() {
  this->window_.focus(this);
}

template <class Iface>
bool FocusCore<Iface>::hasFocus() const {
  return this->window_.focusHolder() == this;
}

template <class Iface>
void FocusCore<Iface>::moveToEndOfTabOrder() {
  this->window_.moveToEndOfTabOrder(this);
}

template <class T>
std::vector<T*> WindowCore::controlsOf() const {
  std::vector<T*> out;
  for (const auto& c : controls_) {
    if (auto* t = dynamic_cast<T*>(c.get())) out.push_back(t);
  }
  return out;
}

template <class T>
T& WindowCore::adopt(std::unique_ptr<T> c) {
  T& ref = *c;
  if (ref.takesFocus()) tabChain_.push_back(&ref);
  controls_.push_back(std::move(c));
  if (ref.takesFocus()) tabOrderNative();
  return ref;
}

}  // namespace tarnset::tk
