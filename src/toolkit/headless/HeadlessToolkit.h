#pragma once
// The window toolkit in memory: no display, no Qt. Its elements are the toolkit core's
// (toolkit/core/), which record what the logic did to them (captions, lines, geometry,
// visibility, focus, check marks); the toolkit records the boxes shown, and its driving
// methods play the user's part (clicks, menu choices, keys, typing, picks, resizing,
// closing, the session's end). Timers are due by an injected tick source; runLoop() is a
// real event loop for the headless program (waiting on the system's descriptors or
// handles), waitWatches() one wait of it. Timers, watches and posted calls follow the
// core's rules, the same as in the window programs.
//
// What a desktop's widgets would do besides (the default handling of a key that no
// handler consumed):
// - keys, clicks and typing only reach controls that can take the focus (shown, and
//   enabled where they can be disabled), in a dialog only while it is shown;
// - a letter, a digit or Space types its character on the control (a button tells its
//   onKeyPress);
// - a list moves its selection on Up, Down, Page Up, Page Down, Home and End; a button
//   and a check box take Space as a click; a text field deletes its last character on
//   Backspace; a drop-down picks the previous or next entry on Up and Down;
// - text is measured in a fixed character cell of 120 x 240 twips; the screen is
//   1280 x 1024 pixels of 15 twips.
//
// The toolkit must outlive every window, dialog, timer and watch it created.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "toolkit/Toolkit.h"
#include "toolkit/core/Elements.h"
#include "toolkit/core/EventCore.h"

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

// The default handling that a desktop's widget gives a key no handler consumed.
class DefaultKeys {
 public:
  virtual ~DefaultKeys() = default;
  virtual void defaultKey(std::int16_t keyCode, std::int16_t shift) = 0;
};

using Frame = tk::FrameCore;
using TextPane = tk::TextPaneCore;
using Line = tk::LineCore;
using MenuItem = tk::MenuItemCore;

class ListBox final : public tk::ListBoxCore, public DefaultKeys {
 public:
  using ListBoxCore::ListBoxCore;
  // Lines that one page key moves the selection by: the visible lines less one.
  std::int16_t pageLines() const;
  void defaultKey(std::int16_t keyCode, std::int16_t shift) override;
};

class CommandButton final : public tk::ButtonCore, public DefaultKeys {
 public:
  using ButtonCore::ButtonCore;
  void defaultKey(std::int16_t keyCode, std::int16_t shift) override;
};

class Label final : public tk::LabelCore {
 public:
  Label(tk::WindowCore& window, tk::FrameCore* parent);
  // The caption's lines (CR LF, CR or LF separate them).
  std::vector<std::string> lines() const;

 protected:
  std::pair<std::int32_t, std::int32_t> measure() const override;
};

class TextField final : public tk::TextFieldCore, public DefaultKeys {
 public:
  using TextFieldCore::TextFieldCore;
  void defaultKey(std::int16_t keyCode, std::int16_t shift) override;
};

class DropDown final : public tk::DropDownCore, public DefaultKeys {
 public:
  using DropDownCore::DropDownCore;
  void defaultKey(std::int16_t keyCode, std::int16_t shift) override;
};

class CheckBox final : public tk::CheckBoxCore, public DefaultKeys {
 public:
  using CheckBoxCore::CheckBoxCore;
  void defaultKey(std::int16_t keyCode, std::int16_t shift) override;
};

class Menu final : public tk::MenuCore {
 public:
  using MenuCore::MenuCore;
  static constexpr const char* kSeparator = MenuCore::kSeparator;
  // The item or sub-menu of that caption ("&" may be left out); nullptr when none.
  MenuItem* findItem(const std::string& caption) const;
  Menu* findSubMenu(const std::string& caption) const;

 protected:
  std::unique_ptr<tk::MenuItemCore> makeItem(const std::string& caption) override;
  std::unique_ptr<tk::MenuCore> makeSubMenu(const std::string& caption) override;
};

// The controls of a headless window, made by its factories.
template <class Base>
class Controls : public Base {
 public:
  using Base::Base;

  std::vector<Frame*> frames() const { return this->template controlsOf<Frame>(); }
  std::vector<ListBox*> listBoxes() const { return this->template controlsOf<ListBox>(); }
  std::vector<CommandButton*> buttons() const { return this->template controlsOf<CommandButton>(); }
  std::vector<Label*> labels() const { return this->template controlsOf<Label>(); }
  std::vector<TextField*> textFields() const { return this->template controlsOf<TextField>(); }
  std::vector<DropDown*> dropDowns() const { return this->template controlsOf<DropDown>(); }
  std::vector<CheckBox*> checkBoxes() const { return this->template controlsOf<CheckBox>(); }
  // The focus controls in tab order.
  std::vector<tk::FocusControl*> tabOrder() const;
  // The control that has the focus; nullptr when none.
  tk::FocusControl* focused() const;

 protected:
  std::unique_ptr<tk::FrameCore> makeFrame(tk::FrameCore* parent) override {
    return std::make_unique<Frame>(*this, parent);
  }
  std::unique_ptr<tk::ListBoxCore> makeListBox(tk::FrameCore* parent) override {
    return std::make_unique<ListBox>(*this, parent);
  }
  std::unique_ptr<tk::ButtonCore> makeButton(tk::FrameCore* parent) override {
    return std::make_unique<CommandButton>(*this, parent);
  }
  std::unique_ptr<tk::LabelCore> makeLabel(tk::FrameCore* parent) override {
    return std::make_unique<Label>(*this, parent);
  }
  std::unique_ptr<tk::TextFieldCore> makeTextField(tk::FrameCore* parent) override {
    return std::make_unique<TextField>(*this, parent);
  }
  std::unique_ptr<tk::DropDownCore> makeDropDown(tk::FrameCore* parent) override {
    return std::make_unique<DropDown>(*this, parent);
  }
  std::unique_ptr<tk::CheckBoxCore> makeCheckBox(tk::FrameCore* parent) override {
    return std::make_unique<CheckBox>(*this, parent);
  }
};

class MainWindow final : public Controls<tk::MainWindowCore> {
 public:
  explicit MainWindow(HeadlessToolkit& toolkit);
  ~MainWindow() override;

  std::int32_t scaleWidth() const override;
  std::int32_t scaleHeight() const override;
  std::int32_t left() const override { return left_; }
  std::int32_t top() const override { return top_; }
  std::int32_t width() const override { return width_; }
  std::int32_t height() const override { return height_; }
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;

  std::vector<TextPane*> textPanes() const { return controlsOf<TextPane>(); }
  std::vector<Line*> lines() const;
  std::vector<Menu*> menus() const;
  // The menu item at a caption path such as "&Option/&Port/COM &3" ("&" may be left
  // out); throws std::out_of_range when there is none.
  MenuItem& menuItem(const std::string& path) const;
  // Opens the menus along a caption path ("&Option" or "&Option/&Port"), each telling
  // its onAboutToShow, as a user opening them does; throws when there is no such menu.
  void openMenu(const std::string& path);
  // Opens the menus along the path, then chooses its item; false (and no onClick) when
  // the item is disabled once the menus are open.
  bool chooseMenu(const std::string& path);
  // Sets the client size (onResize runs when it changes).
  void resize(std::int32_t scaleWidth, std::int32_t scaleHeight);
  // The session ends.
  void endSession() { MainWindowCore::endSession(); }

 protected:
  std::unique_ptr<tk::MenuCore> makeMenu(const std::string& caption) override;
  std::unique_ptr<tk::TextPaneCore> makeTextPane(tk::FrameCore* parent) override;
  std::unique_ptr<tk::LineCore> makeLine() override;

 private:
  Menu* topMenu(const std::string& caption) const;

  HeadlessToolkit& kit_;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::int32_t width_ = tk::kFirstWindowWidth;
  std::int32_t height_ = tk::kFirstWindowHeight;
};

class Dialog final : public Controls<tk::DialogCore> {
 public:
  explicit Dialog(HeadlessToolkit& toolkit);
  ~Dialog() override;

 private:
  HeadlessToolkit& kit_;
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
  // A choice box that the logic showed.
  struct ChoiceRequest {
    std::string text;
    std::string title;
    std::string details;
    std::vector<std::string> choices;
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
  std::unique_ptr<tk::DialogWindow> createDialog() override;
  std::unique_ptr<tk::Timer> createTimer() override { return core_.createTimer(); }
  // One that the wait finds closed is dropped.
  std::unique_ptr<tk::Watch> watch(Waitable what, std::function<void()> onReady) override {
    return core_.watch(what, std::move(onReady));
  }
  // Queued; runPosted() and the event loop run it.
  void post(std::function<void()> f) override { core_.post(std::move(f)); }
  // Records the box, runs the message-box hook while it is "open", and answers OK (1).
  std::int16_t messageBox(const std::string& text, const std::string& title,
                          const std::string& details) override;
  // Records the question, asks the question hook while the box is "open" and returns
  // its answer; true (OK) without a hook.
  bool askOkCancel(const std::string& text, const std::string& title, const std::string& details) override;
  // Records the request, asks the choice hook while the box is "open" and returns its
  // answer; without a hook, OK on the first choice (0), or -1 when there is none.
  int askChoice(const std::string& text, const std::string& title, const std::string& details,
                const std::vector<std::string>& choices) override;
  // Records the request, asks the file chooser hook while the dialog is "open" and
  // returns its answer as the chosen path; empty (cancelled) without a hook.
  std::string chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                             const std::vector<tk::FileFilter>& filters) override;
  bool modalActive() const override { return core_.modalActive(); }
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
  // Every choice box shown, oldest first.
  const std::vector<ChoiceRequest>& choiceRequests() const { return choiceRequests_; }
  void clearChoiceRequests() { choiceRequests_.clear(); }
  // Plays the user in a choice box: the index chosen, or -1 for Cancel.
  void setChoiceHook(std::function<int(const ChoiceRequest&)> hook) { choiceHook_ = std::move(hook); }
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

  // --- The windows and their controls ---
  // The most recently created main window that still exists; nullptr when none.
  headless::MainWindow* window() const;
  // As window(), but throws std::logic_error when there is none.
  headless::MainWindow& mainWindow() const;
  // The dialogs that exist, oldest first.
  const std::vector<headless::Dialog*>& dialogs() const { return dialogs_; }
  // Lookups on mainWindow().
  headless::MenuItem& menuItem(const std::string& path) const { return mainWindow().menuItem(path); }
  std::vector<headless::CommandButton*> buttons() const { return mainWindow().buttons(); }
  std::vector<headless::ListBox*> listBoxes() const { return mainWindow().listBoxes(); }
  std::vector<headless::Label*> labels() const { return mainWindow().labels(); }
  std::vector<headless::Frame*> frames() const { return mainWindow().frames(); }
  std::vector<headless::TextPane*> textPanes() const { return mainWindow().textPanes(); }
  std::vector<headless::Line*> lines() const { return mainWindow().lines(); }

  // --- Driving, as the user would; each returns false when the control cannot be reached ---
  // Clicks a button (of the main window or a dialog) when it can take the focus; it takes
  // the focus, as under a mouse.
  bool click(tk::CommandButton& button);
  // Clicks a check box: its mark turns over, then onClick.
  bool click(tk::CheckBox& box);
  // Types characters at the end of a text field, one onChange each.
  bool typeText(tk::TextField& field, const std::string& chars);
  // Picks entry n of a drop-down: onChange when it is another one.
  bool pick(tk::DropDown& box, std::int16_t n);
  // Chooses the menu item at a caption path such as "&Option/&Auto port release/&2 sec",
  // opening the menus on the way; false when the item is disabled (it is not chosen).
  bool chooseMenu(const std::string& path) { return mainWindow().chooseMenu(path); }
  // Opens the menus along a path such as "&Option/&Port".
  void openMenu(const std::string& path) { mainWindow().openMenu(path); }
  // Presses a key on a control as if it had the focus: the window's key preview, then the
  // control's handler, then the window's keys and the control's default handling.
  // Returns true when the key was not consumed by a handler (and the control can take keys).
  bool pressKey(tk::FocusControl& target, std::int16_t keyCode, std::int16_t shift = 0);
  // Presses a key on the focused control of the main window, or on the window alone.
  bool pressKey(std::int16_t keyCode, std::int16_t shift = 0);
  // The same in a dialog.
  bool pressKey(tk::DialogWindow& dialog, std::int16_t keyCode, std::int16_t shift = 0);
  // Types a character on a button (its key-press notification).
  bool typeChar(tk::CommandButton& button, char typed);
  // Sets the client size of the main window (onResize runs when it changes).
  void resize(std::int32_t scaleWidth, std::int32_t scaleHeight) {
    mainWindow().resize(scaleWidth, scaleHeight);
  }
  // Closes the main window as its close box does.
  void closeWindow() { mainWindow().closedByUser(); }
  // Closes a dialog as its close box does.
  void closeDialog(tk::DialogWindow& dialog) { dialog.close(); }
  // The user's session ends: the main window's onEndSession.
  void endSession() { mainWindow().endSession(); }
  // The system says serial devices came or went: onDevicesChanged, as a posted call.
  void devicesChanged() { core_.devicesChanged(); }

  // --- Posted work, timers and watches ---
  // Runs one round of posted calls (those posted before it began, oldest first; see
  // Toolkit::post); returns how many ran.
  int runPosted() { return core_.runPosted(); }
  // Fires every enabled timer that is due, at most once each, in creation order;
  // returns how many fired.
  int runDueTimers() { return core_.runDueTimers(); }
  // Milliseconds until the next timer is due (0 when one is due); -1 when none is enabled.
  std::int32_t msToNextTimer() const { return core_.msToNextTimer(); }
  // One wait over the watched waitables, waiting at most timeoutMs (-1 = no
  // limit); runs onReady for each ready one and returns how many ran.
  int waitWatches(int timeoutMs);
  // The event loop: posted work, due timers and ready watches until quit(); returns
  // quit's code. Returns -1 at once when nothing is left that could wake it (no enabled
  // timer, no watch, nothing posted).
  int runLoop();

  // --- Used by the elements ---
  void addWindow(headless::MainWindow* w) { windows_.push_back(w); }
  void removeWindow(headless::MainWindow* w);
  void addDialog(headless::Dialog* d) { dialogs_.push_back(d); }
  void removeDialog(headless::Dialog* d);

 private:
  // Runs ask while a modal box is "open".
  template <class F>
  auto modal(F&& ask) {
    const tk::EventCore::ModalScope scope(core_);
    return ask();
  }

  tk::EventCore core_;
  std::vector<headless::MainWindow*> windows_;
  std::vector<headless::Dialog*> dialogs_;
  std::vector<Message> messages_;
  std::function<void(const Message&)> messageHook_;
  std::vector<Message> questions_;
  std::function<bool(const Message&)> questionHook_;
  std::vector<ChoiceRequest> choiceRequests_;
  std::function<int(const ChoiceRequest&)> choiceHook_;
  std::vector<FileRequest> fileRequests_;
  std::function<std::string(const FileRequest&)> fileChooserHook_;
  int beeps_ = 0;
  bool quitCalled_ = false;
  int exitCode_ = 0;
};

}  // namespace tarnset
