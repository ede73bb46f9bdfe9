#pragma once
// The window toolkit in memory: no display, no Qt. Every element records what the
// logic did to it (captions, geometry, visibility, focus, check marks, message boxes),
// and the driving methods play the user's part (clicks, menu choices, keys, resizing,
// closing). Timers are due by an injected tick source; runLoop() is a real event loop
// for the headless program (waiting on the system's descriptors or handles), waitWatches() one
// round of it.
//
// Behaviour that mirrors a desktop window:
// - a control counts as shown when it and every frame around it are visible; keys,
//   clicks and focus only reach shown controls (buttons also need to be enabled);
// - hiding or disabling the focused control moves the focus to the next shown tab stop;
// - a key goes to the window's key preview first, then to the control's own handler,
//   then to the default handling (list selection movement, Return clicks the default
//   button, Escape the cancel button, Tab moves the focus, Space clicks a button);
//   a handler that sets the key code to 0 consumes the key;
// - text is measured in a fixed character cell of 120 x 240 twips; the screen is
//   1280 x 1024 pixels of 15 twips.
//
// The toolkit must outlive every window, timer and watch it created.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

class HeadlessToolkit;

namespace headless {

// Character cell used to measure label captions, in twips.
constexpr std::int32_t kCharWidth = 120;
constexpr std::int32_t kCharHeight = 240;
// The simulated screen.
constexpr std::int32_t kTwipsPerPixel = 15;
constexpr std::int32_t kScreenWidthPx = 1280;
constexpr std::int32_t kScreenHeightPx = 1024;
// Outer size minus client size of the main window: borders, caption and menu bar.
constexpr std::int32_t kNonClientWidth = 120;
constexpr std::int32_t kNonClientHeight = 750;
// Size of a control before the logic moves it.
constexpr std::int32_t kDefaultControlWidth = 1200;
constexpr std::int32_t kDefaultControlHeight = 360;

class MainWindow;
class Frame;

// What the window needs of every control that takes the focus.
class Focusable {
 public:
  virtual ~Focusable() = default;
  // The control as the logic sees it.
  virtual tk::FocusControl& control() = 0;
  // The window the control belongs to.
  virtual MainWindow& ownerWindow() const = 0;
  // True when the control is shown (and enabled, for buttons), so it can take the focus.
  virtual bool canTakeFocus() const = 0;
  // Runs the got-focus notification, where the control has one.
  virtual void gotFocus() {}
  // Runs the control's own key-down handler, where it has one.
  virtual void keyDown(std::int16_t& /*keyCode*/, std::int16_t /*shift*/) {}
  // The control's default handling of a key that no handler consumed.
  virtual void defaultKey(std::int16_t /*keyCode*/, std::int16_t /*shift*/) {}
};

// Geometry, visibility and parent frame shared by every control.
template <class Iface>
class ControlBase : public Iface {
 public:
  ControlBase(MainWindow& window, Frame* parent) : window_(window), parent_(parent) {}

  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
  }
  std::int32_t left() const override { return left_; }
  std::int32_t top() const override { return top_; }
  std::int32_t width() const override { return width_; }
  std::int32_t height() const override { return height_; }
  void setVisible(bool on) override;
  bool visible() const override { return visible_; }

  // The frame holding the control; nullptr = the window's client area.
  Frame* parent() const { return parent_; }
  // The window the control belongs to.
  MainWindow& window() const { return window_; }
  // True when the control and every frame around it are visible.
  bool shown() const;

 protected:
  MainWindow& window_;
  Frame* parent_;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::int32_t width_ = kDefaultControlWidth;
  std::int32_t height_ = kDefaultControlHeight;
  bool visible_ = true;
};

// Focus and tab order on top of ControlBase.
template <class Iface>
class FocusBase : public ControlBase<Iface>, public Focusable {
 public:
  using ControlBase<Iface>::ControlBase;

  void setFocus() override;
  bool hasFocus() const override;
  void setTabStop(bool on) override { tabStop_ = on; }
  bool tabStop() const override { return tabStop_; }
  void moveToEndOfTabOrder() override;

  tk::FocusControl& control() override { return *this; }
  MainWindow& ownerWindow() const override { return this->window_; }
  bool canTakeFocus() const override { return this->shown(); }

 private:
  bool tabStop_ = true;
};

class Frame final : public ControlBase<tk::Frame> {
 public:
  using ControlBase::ControlBase;
  void setBorder(bool on) override { border_ = on; }
  bool border() const override { return border_; }

 private:
  bool border_ = true;
};

class ListBox final : public FocusBase<tk::ListBox> {
 public:
  using FocusBase::FocusBase;
  void clear() override;
  void addItem(const std::string& text) override;
  void setItemText(std::int16_t n, const std::string& text) override;
  std::string itemText(std::int16_t n) const override;
  std::int16_t listCount() const override;
  std::int16_t listIndex() const override { return index_; }
  void setListIndex(std::int16_t n) override;

  // All lines, for assertions.
  const std::vector<std::string>& items() const { return items_; }
  // Lines that one page key moves the selection by: the visible lines less one.
  std::int16_t pageLines() const;

  void gotFocus() override;
  void keyDown(std::int16_t& keyCode, std::int16_t shift) override;
  void defaultKey(std::int16_t keyCode, std::int16_t shift) override;

 private:
  std::vector<std::string> items_;
  std::int16_t index_ = -1;
};

class CommandButton final : public FocusBase<tk::CommandButton> {
 public:
  using FocusBase::FocusBase;
  void setCaption(const std::string& text) override { caption_ = text; }
  std::string caption() const override { return caption_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }
  void setDefault(bool on) override;
  bool isDefault() const override { return default_; }
  void setCancel(bool on) override;
  bool isCancel() const override { return cancel_; }

  bool canTakeFocus() const override { return enabled_ && shown(); }
  void defaultKey(std::int16_t keyCode, std::int16_t shift) override;
  // Runs the click notification (the caller has checked that the button can be clicked).
  void fireClick();

 private:
  friend class MainWindow;
  std::string caption_;
  bool enabled_ = true;
  bool default_ = false;
  bool cancel_ = false;
};

class Label final : public ControlBase<tk::Label> {
 public:
  Label(MainWindow& window, Frame* parent);
  // Only the position is taken: the size follows the caption.
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setForeColor(tk::SysColor c) override { color_ = c; }
  tk::SysColor foreColor() const override { return color_; }
  void setTip(const std::string& text) override { tip_ = text; }
  std::string tip() const override { return tip_; }

  // The caption's lines (CR LF, CR or LF separate them).
  std::vector<std::string> lines() const;

 private:
  std::string caption_;
  tk::SysColor color_ = tk::SysColor::ButtonText;
  std::string tip_;
};

class TextPane final : public FocusBase<tk::TextPane> {
 public:
  using FocusBase::FocusBase;
  void setText(const std::string& text) override { text_ = text; }
  std::string text() const override { return text_; }

 private:
  std::string text_;
};

class Line final : public tk::Line {
 public:
  void setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override;
  std::int32_t x1() const override { return x1_; }
  std::int32_t y1() const override { return y1_; }
  std::int32_t x2() const override { return x2_; }
  std::int32_t y2() const override { return y2_; }

 private:
  std::int32_t x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
};

class MenuItem final : public tk::MenuItem {
 public:
  explicit MenuItem(std::string caption) : caption_(std::move(caption)) {}
  std::string caption() const override { return caption_; }
  void setChecked(bool on) override { checked_ = on; }
  bool checked() const override { return checked_; }
  void setTip(const std::string& text) override { tip_ = text; }
  std::string tip() const override { return tip_; }
  void setEnabled(bool on) override { enabled_ = on; }
  bool enabled() const override { return enabled_; }

 private:
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  std::string tip_;
};

class Menu final : public tk::Menu {
 public:
  explicit Menu(std::string caption) : caption_(std::move(caption)) {}
  std::string caption() const override { return caption_; }
  MenuItem& addItem(const std::string& caption) override;
  Menu& addSubMenu(const std::string& caption) override;
  void addSeparator() override { order_.push_back(kSeparator); }

  // How captions() shows a separator.
  static constexpr const char* kSeparator = "-";
  // The item or sub-menu of that caption ("&" may be left out); nullptr when none.
  MenuItem* findItem(const std::string& caption) const;
  Menu* findSubMenu(const std::string& caption) const;
  // Captions of items and sub-menus in menu order, separators as kSeparator.
  std::vector<std::string> captions() const;

 private:
  std::string caption_;
  std::vector<std::unique_ptr<MenuItem>> items_;
  std::vector<std::unique_ptr<Menu>> subMenus_;
  std::vector<std::string> order_;
};

class MainWindow final : public tk::MainWindow {
 public:
  explicit MainWindow(HeadlessToolkit& toolkit);
  ~MainWindow() override;

  void setCaption(const std::string& text) override { caption_ = text; }
  std::string caption() const override { return caption_; }
  std::int32_t scaleWidth() const override;
  std::int32_t scaleHeight() const override;
  std::int32_t left() const override { return left_; }
  std::int32_t top() const override { return top_; }
  std::int32_t width() const override { return width_; }
  std::int32_t height() const override { return height_; }
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;
  void show() override;
  bool isShown() const override { return shown_; }
  void unload() override;

  tk::Menu& addMenu(const std::string& caption) override;
  tk::Frame& addFrame(tk::Parent parent) override;
  tk::ListBox& addListBox(tk::Parent parent) override;
  tk::CommandButton& addButton(tk::Parent parent) override;
  tk::Label& addLabel(tk::Parent parent) override;
  tk::TextPane& addTextPane(tk::Parent parent) override;
  tk::Line& addLine() override;

  // Controls of each kind in creation order.
  std::vector<Frame*> frames() const;
  std::vector<ListBox*> listBoxes() const;
  std::vector<CommandButton*> buttons() const;
  std::vector<Label*> labels() const;
  std::vector<TextPane*> textPanes() const;
  std::vector<Line*> lines() const;
  std::vector<Menu*> menus() const;
  // The menu item at a caption path such as "&Option/&Port/COM &3" ("&" may be left
  // out); throws std::out_of_range when there is none.
  MenuItem& menuItem(const std::string& path) const;
  // The focus controls in tab order.
  std::vector<tk::FocusControl*> tabOrder() const;
  // The control that has the focus; nullptr when none.
  tk::FocusControl* focused() const;
  // The visible, enabled default (cancel) button; nullptr when none.
  CommandButton* defaultButton() const;
  CommandButton* cancelButton() const;

  // Driving, as the user would. Each returns false when the control cannot be reached.
  bool click(CommandButton& button);
  // Opens the menus along a caption path ("&Option" or "&Option/&Port"), each telling
  // its onAboutToShow, as a user opening them does; throws when there is no such menu.
  void openMenu(const std::string& path);
  // Opens the menus along the path, then chooses its item; false (and no onClick) when
  // the item is disabled once the menus are open.
  bool chooseMenu(const std::string& path);
  bool pressKey(Focusable* target, std::int16_t keyCode, std::int16_t shift);
  bool typeChar(CommandButton& button, char typed);
  void resize(std::int32_t scaleWidth, std::int32_t scaleHeight);

  // Used by the controls.
  HeadlessToolkit& toolkit() const { return toolkit_; }
  void focus(Focusable* f);
  bool hasFocus(const Focusable* f) const { return focused_ == f; }
  void moveToEndOfTabOrder(Focusable* f);
  // Moves the focus on when the focused control can no longer hold it.
  void checkFocus();
  // Takes the default (cancel) role from every other button.
  void makeSoleDefault(CommandButton* b);
  void makeSoleCancel(CommandButton* b);
  // Moves the focus to the next (or previous) tab stop that can take it.
  void focusNext(Focusable* from, bool backwards);

 private:
  void setOuterSize(std::int32_t width, std::int32_t height);
  Frame* frameOf(tk::Parent parent) const;

  HeadlessToolkit& toolkit_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::string caption_;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::int32_t width_ = 9600;
  std::int32_t height_ = 7200;
  bool shown_ = false;
  bool unloaded_ = false;
  bool resizePending_ = true;

  std::vector<std::unique_ptr<Menu>> menus_;
  std::vector<std::unique_ptr<Frame>> frames_;
  std::vector<std::unique_ptr<ListBox>> listBoxes_;
  std::vector<std::unique_ptr<CommandButton>> buttons_;
  std::vector<std::unique_ptr<Label>> labels_;
  std::vector<std::unique_ptr<TextPane>> textPanes_;
  std::vector<std::unique_ptr<Line>> lines_;
  std::vector<Focusable*> tabOrder_;
  Focusable* focused_ = nullptr;
};

}  // namespace headless

class HeadlessToolkit final : public tk::Toolkit {
 public:
  // A message box or question box that the logic showed.
  struct Message {
    std::string text;
    std::string title;
    std::string details;
  };
  // A save-file dialog that the logic opened.
  struct FileRequest {
    std::string title;
    std::string suggestedPath;
    std::vector<tk::FileFilter> filters;
  };

  explicit HeadlessToolkit(const TickSource& clock);
  ~HeadlessToolkit() override;
  HeadlessToolkit(const HeadlessToolkit&) = delete;
  HeadlessToolkit& operator=(const HeadlessToolkit&) = delete;

  std::unique_ptr<tk::MainWindow> createMainWindow() override;
  // Timers start disabled with interval 0; one fires only while enabled with an interval above 0.
  std::unique_ptr<tk::Timer> createTimer() override;
  // Destroy a watch before closing what it watches; one that the wait finds closed is dropped.
  std::unique_ptr<tk::Watch> watch(Waitable what, std::function<void()> onReady) override;
  // Queued; runPosted() and the event loop run it.
  void post(std::function<void()> f) override { posted_.push_back(std::move(f)); }
  // Records the box, runs the message-box hook while it is "open", and answers OK (1).
  std::int16_t messageBox(const std::string& text, const std::string& title,
                          const std::string& details) override;
  // Records the question, asks the question hook while the box is "open" and returns
  // its answer; true (OK) without a hook.
  bool askOkCancel(const std::string& text, const std::string& title, const std::string& details) override;
  // Records the request, asks the file chooser hook while the dialog is "open" and
  // returns its answer as the chosen path; empty (cancelled) without a hook.
  std::string chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                             const std::vector<tk::FileFilter>& filters) override;
  bool modalActive() const override { return modalDepth_ > 0; }
  void beep() override { ++beeps_; }
  // Makes no PDF: returns false with a reason and leaves the file system alone.
  bool writePdf(const std::string& html, const std::string& path, std::string& why) override;
  bool canWritePdf() const override { return false; }
  std::int32_t screenWidth() const override;
  std::int32_t screenHeight() const override;
  std::int32_t twipsPerPixelX() const override { return headless::kTwipsPerPixel; }
  std::int32_t twipsPerPixelY() const override { return headless::kTwipsPerPixel; }
  void quit(int exitCode) override;

  // --- Records ---
  // Every message box shown, oldest first.
  const std::vector<Message>& messages() const { return messages_; }
  void clearMessages() { messages_.clear(); }
  // Called while a message box is open, before it answers OK.
  void setMessageBoxHook(std::function<void(const Message&)> hook) { messageHook_ = std::move(hook); }
  // Every question box shown, oldest first (not among messages()).
  const std::vector<Message>& questions() const { return questions_; }
  void clearQuestions() { questions_.clear(); }
  // Plays the user answering a question box: true = OK, false = Cancel.
  void setQuestionHook(std::function<bool(const Message&)> hook) { questionHook_ = std::move(hook); }
  // Every save-file dialog opened, oldest first.
  const std::vector<FileRequest>& fileRequests() const { return fileRequests_; }
  void clearFileRequests() { fileRequests_.clear(); }
  // Plays the user in a save-file dialog: returns the chosen path as the dialog would
  // (extension added, replacing agreed), or empty to cancel.
  void setFileChooserHook(std::function<std::string(const FileRequest&)> hook) {
    fileChooserHook_ = std::move(hook);
  }
  // Number of beeps.
  int beeps() const { return beeps_; }
  // Whether quit() was called, and its last exit code.
  bool quitCalled() const { return quitCalled_; }
  int exitCode() const { return exitCode_; }

  // --- The main window and its controls ---
  // The most recently created main window that still exists; nullptr when none.
  headless::MainWindow* window() const;
  // As window(), but throws std::logic_error when there is none.
  headless::MainWindow& mainWindow() const;
  // Lookups on mainWindow().
  headless::MenuItem& menuItem(const std::string& path) const { return mainWindow().menuItem(path); }
  std::vector<headless::CommandButton*> buttons() const { return mainWindow().buttons(); }
  std::vector<headless::ListBox*> listBoxes() const { return mainWindow().listBoxes(); }
  std::vector<headless::Label*> labels() const { return mainWindow().labels(); }
  std::vector<headless::Frame*> frames() const { return mainWindow().frames(); }
  std::vector<headless::TextPane*> textPanes() const { return mainWindow().textPanes(); }
  std::vector<headless::Line*> lines() const { return mainWindow().lines(); }

  // --- Driving ---
  // Clicks a button when it is shown and enabled (it takes the focus, as under a mouse).
  bool click(tk::CommandButton& button);
  // Chooses the menu item at a caption path such as "&Option/&Auto port release/&2 sec",
  // opening the menus on the way; false when the item is disabled (it is not chosen).
  bool chooseMenu(const std::string& path) { return mainWindow().chooseMenu(path); }
  // Opens the menus along a path such as "&Option/&Port".
  void openMenu(const std::string& path) { mainWindow().openMenu(path); }
  // Presses a key on a control as if it had the focus: the window's key preview, then the
  // control's handler, then the default handling. Returns true when the key reached the
  // default handling (not consumed, and the control can take keys).
  bool pressKey(tk::FocusControl& target, std::int16_t keyCode, std::int16_t shift = 0);
  // Presses a key on the focused control of the main window, or on the window alone.
  bool pressKey(std::int16_t keyCode, std::int16_t shift = 0);
  // Types a character on a button (its key-press notification).
  bool typeChar(tk::CommandButton& button, char typed);
  // Sets the client size of the main window (onResize runs when it changes).
  void resize(std::int32_t scaleWidth, std::int32_t scaleHeight) {
    mainWindow().resize(scaleWidth, scaleHeight);
  }
  // Closes the main window as its close box does.
  void closeWindow() { mainWindow().unload(); }

  // --- Posted work, timers and watches ---
  // Runs what was posted, oldest first, and what that posts in turn; returns how many ran.
  int runPosted();
  // Fires every enabled timer whose interval has elapsed since it was enabled or last
  // fired, at most once each, in creation order; returns how many fired.
  int runDueTimers();
  // Milliseconds until the next timer is due (0 when one is due); -1 when none is enabled.
  std::int32_t msToNextTimer() const;
  // One wait over the watched waitables, waiting at most timeoutMs (-1 = no
  // limit); runs onReady for each ready one and returns how many ran.
  int waitWatches(int timeoutMs);
  // The event loop: posted work, due timers and ready watches until quit(); returns
  // quit's code.
  // Returns -1 at once when nothing is left that could wake it (no enabled timer and
  // no watch).
  int runLoop();

  // --- Used by the elements ---
  std::int32_t nowMs() const { return clock_.nowMs(); }
  void addWindow(headless::MainWindow* w) { windows_.push_back(w); }
  void removeWindow(headless::MainWindow* w);

  class TimerImpl;
  class WatchImpl;
  void addTimer(TimerImpl* t) { timers_[nextId_++] = t; }
  void removeTimer(TimerImpl* t);
  void addWatch(WatchImpl* w) { watches_[nextId_++] = w; }
  void removeWatch(WatchImpl* w);

 private:
  const TickSource& clock_;
  std::vector<headless::MainWindow*> windows_;
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, TimerImpl*> timers_;
  std::map<std::uint64_t, WatchImpl*> watches_;
  std::vector<Message> messages_;
  std::function<void(const Message&)> messageHook_;
  std::vector<Message> questions_;
  std::function<bool(const Message&)> questionHook_;
  std::vector<FileRequest> fileRequests_;
  std::function<std::string(const FileRequest&)> fileChooserHook_;
  std::deque<std::function<void()>> posted_;
  int modalDepth_ = 0;
  int beeps_ = 0;
  bool quitCalled_ = false;
  bool quitPending_ = false;
  int exitCode_ = 0;
};

// --- Template members that need the complete window and frame ---

namespace headless {

template <class Iface>
void ControlBase<Iface>::setVisible(bool on) {
  visible_ = on;
  if (!on) window_.checkFocus();
}

template <class Iface>
bool ControlBase<Iface>::shown() const {
  if (!visible_) return false;
  for (const Frame* f = parent_; f != nullptr; f = f->parent()) {
    if (!f->visible()) return false;
  }
  return true;
}

template <class Iface>
void FocusBase<Iface>::setFocus() {
  this->window_.focus(this);
}

template <class Iface>
bool FocusBase<Iface>::hasFocus() const {
  return this->window_.hasFocus(this);
}

template <class Iface>
void FocusBase<Iface>::moveToEndOfTabOrder() {
  this->window_.moveToEndOfTabOrder(this);
}

}  // namespace headless
}  // namespace tarnset
