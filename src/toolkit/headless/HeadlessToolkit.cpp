#include "toolkit/headless/HeadlessToolkit.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "base/Checked16.h"
#include "platform/EventWait.h"

namespace tarnset {

using headless::Focusable;

namespace {

// Drops every "&" so that "COM &3" and "COM 3" name the same item.
std::string withoutAccelerators(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c != '&') out += c;
  }
  return out;
}

bool captionMatches(const std::string& caption, const std::string& wanted) {
  return caption == wanted || withoutAccelerators(caption) == withoutAccelerators(wanted);
}

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    const auto slash = path.find('/', start);
    parts.push_back(path.substr(start, slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

template <class T>
std::vector<T*> rawPointers(const std::vector<std::unique_ptr<T>>& v) {
  std::vector<T*> out;
  out.reserve(v.size());
  for (const auto& p : v) out.push_back(p.get());
  return out;
}

}  // namespace

// ---------------------------------------------------------------- timers and watches

class HeadlessToolkit::TimerImpl final : public tk::Timer {
 public:
  explicit TimerImpl(HeadlessToolkit& tk) : tk_(tk), since_(tk.nowMs()) { tk_.addTimer(this); }
  ~TimerImpl() override { tk_.removeTimer(this); }

  void setInterval(std::int32_t ms) override {
    if (ms < 0) throw std::out_of_range("Timer interval below 0");
    interval_ = ms;
    since_ = tk_.nowMs();  // a new interval starts a new count
  }
  std::int32_t interval() const override { return interval_; }
  void setEnabled(bool on) override {
    if (on && !enabled_) since_ = tk_.nowMs();
    enabled_ = on;
  }
  bool enabled() const override { return enabled_; }

  bool running() const { return enabled_ && interval_ > 0; }
  // Milliseconds until due; 0 or less when due. Only meaningful while running.
  std::int32_t remaining(std::int32_t now) const {
    const auto elapsed =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(since_));
    if (elapsed < 0) return interval_;  // the clock went back: count again from here
    return elapsed >= interval_ ? 0 : interval_ - elapsed;
  }
  void fire() {
    since_ = tk_.nowMs();
    tk_.guarded([&] {
      if (onTick) onTick();
    });
  }

 private:
  HeadlessToolkit& tk_;
  std::int32_t interval_ = 0;
  bool enabled_ = false;
  std::int32_t since_;
};

class HeadlessToolkit::WatchImpl final : public tk::Watch {
 public:
  WatchImpl(HeadlessToolkit& tk, Waitable what, std::function<void()> onReady)
      : tk_(tk), what_(what), onReady_(std::move(onReady)) {
    tk_.addWatch(this);
  }
  ~WatchImpl() override { tk_.removeWatch(this); }

  Waitable waitable() const { return what_; }
  // A waitable that the wait calls invalid is left alone from then on.
  bool inert() const { return inert_; }
  void setInert() { inert_ = true; }
  void fire() {
    tk_.guarded([&] {
      if (onReady_) onReady_();
    });
  }

 private:
  HeadlessToolkit& tk_;
  Waitable what_;
  std::function<void()> onReady_;
  bool inert_ = false;
};

// ---------------------------------------------------------------- toolkit

HeadlessToolkit::HeadlessToolkit(const TickSource& clock) : clock_(clock) {}

HeadlessToolkit::~HeadlessToolkit() = default;

std::unique_ptr<tk::MainWindow> HeadlessToolkit::createMainWindow() {
  return std::make_unique<headless::MainWindow>(*this);
}

std::unique_ptr<tk::Timer> HeadlessToolkit::createTimer() {
  return std::make_unique<TimerImpl>(*this);
}

std::unique_ptr<tk::Watch> HeadlessToolkit::watch(Waitable what, std::function<void()> onReady) {
  return std::make_unique<WatchImpl>(*this, what, std::move(onReady));
}

std::int16_t HeadlessToolkit::messageBox(const std::string& text, const std::string& title,
                                         const std::string& details) {
  messages_.push_back({text, title, details});
  const Message shown = messages_.back();
  ++modalDepth_;
  struct Close {
    int& depth;
    ~Close() { --depth; }
  } close{modalDepth_};
  if (messageHook_) messageHook_(shown);
  return 1;
}

bool HeadlessToolkit::askOkCancel(const std::string& text, const std::string& title,
                                  const std::string& details) {
  questions_.push_back({text, title, details});
  const Message shown = questions_.back();
  ++modalDepth_;
  struct Close {
    int& depth;
    ~Close() { --depth; }
  } close{modalDepth_};
  return questionHook_ ? questionHook_(shown) : true;
}

std::string HeadlessToolkit::chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                            const std::vector<tk::FileFilter>& filters) {
  fileRequests_.push_back({title, suggestedPath, filters});
  const FileRequest shown = fileRequests_.back();
  ++modalDepth_;
  struct Close {
    int& depth;
    ~Close() { --depth; }
  } close{modalDepth_};
  return fileChooserHook_ ? fileChooserHook_(shown) : std::string();
}

bool HeadlessToolkit::writePdf(const std::string& /*html*/, const std::string& /*path*/, std::string& why) {
  why = "PDF output is not available in this program";
  return false;
}

std::int32_t HeadlessToolkit::screenWidth() const {
  return headless::kScreenWidthPx * headless::kTwipsPerPixel;
}

std::int32_t HeadlessToolkit::screenHeight() const {
  return headless::kScreenHeightPx * headless::kTwipsPerPixel;
}

void HeadlessToolkit::quit(int exitCode) {
  quitCalled_ = true;
  quitPending_ = true;
  exitCode_ = exitCode;
}

headless::MainWindow* HeadlessToolkit::window() const {
  return windows_.empty() ? nullptr : windows_.back();
}

headless::MainWindow& HeadlessToolkit::mainWindow() const {
  if (windows_.empty()) throw std::logic_error("No main window");
  return *windows_.back();
}

void HeadlessToolkit::removeWindow(headless::MainWindow* w) {
  std::erase(windows_, w);
}

void HeadlessToolkit::removeTimer(TimerImpl* t) {
  std::erase_if(timers_, [t](const auto& entry) { return entry.second == t; });
}

void HeadlessToolkit::removeWatch(WatchImpl* w) {
  std::erase_if(watches_, [w](const auto& entry) { return entry.second == w; });
}

bool HeadlessToolkit::click(tk::CommandButton& button) {
  auto* b = dynamic_cast<headless::CommandButton*>(&button);
  if (b == nullptr) throw std::invalid_argument("Not a button of the headless toolkit");
  return b->window().click(*b);
}

bool HeadlessToolkit::pressKey(tk::FocusControl& target, std::int16_t keyCode, std::int16_t shift) {
  auto* f = dynamic_cast<Focusable*>(&target);
  if (f == nullptr) throw std::invalid_argument("Not a control of the headless toolkit");
  return f->ownerWindow().pressKey(f, keyCode, shift);
}

bool HeadlessToolkit::pressKey(std::int16_t keyCode, std::int16_t shift) {
  auto& w = mainWindow();
  auto* f = dynamic_cast<Focusable*>(w.focused());
  return w.pressKey(f, keyCode, shift);
}

bool HeadlessToolkit::typeChar(tk::CommandButton& button, char typed) {
  auto* b = dynamic_cast<headless::CommandButton*>(&button);
  if (b == nullptr) throw std::invalid_argument("Not a button of the headless toolkit");
  return b->window().typeChar(*b, typed);
}

int HeadlessToolkit::runDueTimers() {
  std::vector<std::uint64_t> ids;
  for (const auto& [id, t] : timers_) ids.push_back(id);
  int fired = 0;
  const std::int32_t now = nowMs();
  for (auto id : ids) {
    const auto it = timers_.find(id);  // an earlier tick may have destroyed it
    if (it == timers_.end()) continue;
    TimerImpl* t = it->second;
    if (!t->running() || t->remaining(now) > 0) continue;
    t->fire();
    ++fired;
  }
  return fired;
}

std::int32_t HeadlessToolkit::msToNextTimer() const {
  std::int32_t next = -1;
  const std::int32_t now = nowMs();
  for (const auto& [id, t] : timers_) {
    if (!t->running()) continue;
    const std::int32_t r = std::max<std::int32_t>(0, t->remaining(now));
    if (next < 0 || r < next) next = r;
  }
  return next;
}

int HeadlessToolkit::waitWatches(int timeoutMs) {
  std::vector<std::uint64_t> ids;
  std::vector<Waitable> what;
  for (const auto& [id, w] : watches_) {
    if (w->inert()) continue;
    ids.push_back(id);
    what.push_back(w->waitable());
  }
  std::vector<WaitState> states;
  // Nothing ready: a time-out, or a signal; the caller's loop goes on.
  if (waitForAny(what, timeoutMs, states) == 0) return 0;
  int ran = 0;
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (states[i] == WaitState::Quiet) continue;
    const auto it = watches_.find(ids[i]);  // an earlier handler may have destroyed it
    if (it == watches_.end()) continue;
    if (states[i] == WaitState::Invalid) {
      it->second->setInert();
      continue;
    }
    it->second->fire();
    ++ran;
  }
  return ran;
}

int HeadlessToolkit::runPosted() {
  int ran = 0;
  while (!posted_.empty()) {
    std::function<void()> f = std::move(posted_.front());
    posted_.pop_front();
    guarded(f);
    ++ran;
  }
  return ran;
}

int HeadlessToolkit::runLoop() {
  while (!quitPending_) {
    runPosted();
    if (quitPending_) break;
    runDueTimers();
    if (quitPending_) break;
    const std::int32_t timeout = posted_.empty() ? msToNextTimer() : 0;
    const bool anyWatch = std::any_of(watches_.begin(), watches_.end(),
                                      [](const auto& entry) { return !entry.second->inert(); });
    if (timeout < 0 && !anyWatch) return -1;
    waitWatches(timeout);
  }
  quitPending_ = false;
  return exitCode_;
}

// ---------------------------------------------------------------- controls

namespace headless {

void ListBox::clear() {
  items_.clear();
  index_ = -1;
}

void ListBox::addItem(const std::string& text) {
  narrow16(static_cast<std::int64_t>(items_.size()) + 1);  // the count must stay a 16-bit value
  items_.push_back(text);
}

void ListBox::setItemText(std::int16_t n, const std::string& text) {
  if (n < 0 || n >= listCount()) throw std::out_of_range("List line outside the list");
  items_[static_cast<std::size_t>(n)] = text;
}

std::string ListBox::itemText(std::int16_t n) const {
  if (n < 0 || n >= listCount()) throw std::out_of_range("List line outside the list");
  return items_[static_cast<std::size_t>(n)];
}

std::int16_t ListBox::listCount() const {
  return static_cast<std::int16_t>(items_.size());
}

void ListBox::setListIndex(std::int16_t n) {
  if (n < -1 || n >= listCount()) throw std::out_of_range("List index outside the list");
  index_ = n;
}

std::int16_t ListBox::pageLines() const {
  const std::int32_t rows = height_ / kCharHeight;
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(rows - 1, 1, 32767));
}

void ListBox::gotFocus() {
  window_.toolkit().guarded([&] {
    if (onGotFocus) onGotFocus();
  });
}

void ListBox::keyDown(std::int16_t& keyCode, std::int16_t shift) {
  window_.toolkit().guarded([&] {
    if (onKeyDown) onKeyDown(keyCode, shift);
  });
}

void ListBox::defaultKey(std::int16_t keyCode, std::int16_t /*shift*/) {
  const std::int32_t count = listCount();
  if (count == 0) return;
  const std::int32_t last = count - 1;
  const std::int32_t cur = index_;
  std::int32_t next = 0;
  switch (keyCode) {
    case tk::Key::Up:
      next = cur - 1;
      break;
    case tk::Key::Down:
      next = cur + 1;
      break;
    case tk::Key::PageUp:
      next = cur - pageLines();
      break;
    case tk::Key::PageDown:
      next = cur + pageLines();
      break;
    case tk::Key::Home:
      next = 0;
      break;
    case tk::Key::End:
      next = last;
      break;
    default:
      return;
  }
  if (cur < 0) next = 0;  // without a selection, any of these keys selects the first line
  index_ = static_cast<std::int16_t>(std::clamp<std::int32_t>(next, 0, last));
}

void CommandButton::setEnabled(bool on) {
  enabled_ = on;
  if (!on) window_.checkFocus();
}

void CommandButton::setDefault(bool on) {
  if (on) window_.makeSoleDefault(this);
  default_ = on;
}

void CommandButton::setCancel(bool on) {
  if (on) window_.makeSoleCancel(this);
  cancel_ = on;
}

void CommandButton::defaultKey(std::int16_t keyCode, std::int16_t /*shift*/) {
  if (keyCode == tk::Key::Space) fireClick();
}

void CommandButton::fireClick() {
  window_.toolkit().guarded([&] {
    if (onClick) onClick();
  });
}

Label::Label(MainWindow& window, Frame* parent) : ControlBase(window, parent) {
  setCaption("");
}

void Label::move(std::int32_t left, std::int32_t top, std::int32_t /*width*/, std::int32_t /*height*/) {
  left_ = left;
  top_ = top;
}

std::vector<std::string> Label::lines() const {
  std::vector<std::string> out(1);
  for (std::size_t i = 0; i < caption_.size(); ++i) {
    const char c = caption_[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < caption_.size() && caption_[i + 1] == '\n') ++i;
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

void Label::setCaption(const std::string& text) {
  caption_ = text;
  const auto ls = lines();
  std::size_t longest = 0;
  for (const auto& l : ls) longest = std::max(longest, l.size());
  width_ = narrow32(static_cast<std::int64_t>(longest) * kCharWidth);
  height_ = narrow32(static_cast<std::int64_t>(ls.size()) * kCharHeight);
}

void Line::setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
}

MenuItem& Menu::addItem(const std::string& caption) {
  items_.push_back(std::make_unique<MenuItem>(caption));
  order_.push_back(caption);
  return *items_.back();
}

Menu& Menu::addSubMenu(const std::string& caption) {
  subMenus_.push_back(std::make_unique<Menu>(caption));
  order_.push_back(caption);
  return *subMenus_.back();
}

MenuItem* Menu::findItem(const std::string& caption) const {
  for (const auto& i : items_) {
    if (captionMatches(i->caption(), caption)) return i.get();
  }
  return nullptr;
}

Menu* Menu::findSubMenu(const std::string& caption) const {
  for (const auto& m : subMenus_) {
    if (captionMatches(m->caption(), caption)) return m.get();
  }
  return nullptr;
}

std::vector<std::string> Menu::captions() const {
  return order_;
}

// ---------------------------------------------------------------- main window

MainWindow::MainWindow(HeadlessToolkit& toolkit) : toolkit_(toolkit) {
  toolkit_.addWindow(this);
}

MainWindow::~MainWindow() {
  *alive_ = false;
  toolkit_.removeWindow(this);
}

std::int32_t MainWindow::scaleWidth() const {
  return std::max<std::int32_t>(0, width_ - kNonClientWidth);
}

std::int32_t MainWindow::scaleHeight() const {
  return std::max<std::int32_t>(0, height_ - kNonClientHeight);
}

void MainWindow::move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  left_ = left;
  top_ = top;
  setOuterSize(width, height);
}

void MainWindow::setOuterSize(std::int32_t width, std::int32_t height) {
  const std::int32_t oldW = scaleWidth();
  const std::int32_t oldH = scaleHeight();
  width_ = width;
  height_ = height;
  if (scaleWidth() == oldW && scaleHeight() == oldH) return;
  if (!shown_) {
    resizePending_ = true;  // delivered when the window is shown
    return;
  }
  toolkit_.guarded([&] {
    if (onResize) onResize();
  });
}

void MainWindow::resize(std::int32_t scaleWidth, std::int32_t scaleHeight) {
  setOuterSize(add32(scaleWidth, kNonClientWidth), add32(scaleHeight, kNonClientHeight));
}

void MainWindow::show() {
  if (shown_) return;
  shown_ = true;
  unloaded_ = false;
  if (resizePending_) {
    resizePending_ = false;
    toolkit_.guarded([&] {
      if (onResize) onResize();
    });
  }
}

void MainWindow::unload() {
  if (unloaded_) return;
  unloaded_ = true;
  const auto alive = alive_;
  toolkit_.guarded([&] {
    if (onQueryUnload) onQueryUnload();
  });
  if (!*alive) return;
  toolkit_.guarded([&] {
    if (onUnload) onUnload();
  });
  if (!*alive) return;
  shown_ = false;
}

Frame* MainWindow::frameOf(tk::Parent parent) const {
  if (parent == nullptr) return nullptr;
  for (const auto& f : frames_) {
    if (f.get() == parent) return f.get();
  }
  throw std::invalid_argument("The parent frame belongs to another window");
}

tk::Menu& MainWindow::addMenu(const std::string& caption) {
  menus_.push_back(std::make_unique<Menu>(caption));
  return *menus_.back();
}

tk::Frame& MainWindow::addFrame(tk::Parent parent) {
  frames_.push_back(std::make_unique<Frame>(*this, frameOf(parent)));
  return *frames_.back();
}

tk::ListBox& MainWindow::addListBox(tk::Parent parent) {
  listBoxes_.push_back(std::make_unique<ListBox>(*this, frameOf(parent)));
  tabOrder_.push_back(listBoxes_.back().get());
  return *listBoxes_.back();
}

tk::CommandButton& MainWindow::addButton(tk::Parent parent) {
  buttons_.push_back(std::make_unique<CommandButton>(*this, frameOf(parent)));
  tabOrder_.push_back(buttons_.back().get());
  return *buttons_.back();
}

tk::Label& MainWindow::addLabel(tk::Parent parent) {
  labels_.push_back(std::make_unique<Label>(*this, frameOf(parent)));
  return *labels_.back();
}

tk::TextPane& MainWindow::addTextPane(tk::Parent parent) {
  textPanes_.push_back(std::make_unique<TextPane>(*this, frameOf(parent)));
  tabOrder_.push_back(textPanes_.back().get());
  return *textPanes_.back();
}

tk::Line& MainWindow::addLine() {
  lines_.push_back(std::make_unique<Line>());
  return *lines_.back();
}

std::vector<Frame*> MainWindow::frames() const {
  return rawPointers(frames_);
}
std::vector<ListBox*> MainWindow::listBoxes() const {
  return rawPointers(listBoxes_);
}
std::vector<CommandButton*> MainWindow::buttons() const {
  return rawPointers(buttons_);
}
std::vector<Label*> MainWindow::labels() const {
  return rawPointers(labels_);
}
std::vector<TextPane*> MainWindow::textPanes() const {
  return rawPointers(textPanes_);
}
std::vector<Line*> MainWindow::lines() const {
  return rawPointers(lines_);
}
std::vector<Menu*> MainWindow::menus() const {
  return rawPointers(menus_);
}

MenuItem& MainWindow::menuItem(const std::string& path) const {
  const auto parts = splitPath(path);
  if (parts.size() < 2) throw std::out_of_range("No menu item " + path);
  const Menu* menu = nullptr;
  for (const auto& m : menus_) {
    if (captionMatches(m->caption(), parts.front())) {
      menu = m.get();
      break;
    }
  }
  for (std::size_t i = 1; menu != nullptr && i + 1 < parts.size(); ++i) menu = menu->findSubMenu(parts[i]);
  MenuItem* item = menu != nullptr ? menu->findItem(parts.back()) : nullptr;
  if (item == nullptr) throw std::out_of_range("No menu item " + path);
  return *item;
}

std::vector<tk::FocusControl*> MainWindow::tabOrder() const {
  std::vector<tk::FocusControl*> out;
  for (auto* f : tabOrder_) out.push_back(&f->control());
  return out;
}

tk::FocusControl* MainWindow::focused() const {
  return focused_ != nullptr ? &focused_->control() : nullptr;
}

CommandButton* MainWindow::defaultButton() const {
  for (const auto& b : buttons_) {
    if (b->default_ && b->canTakeFocus()) return b.get();
  }
  return nullptr;
}

CommandButton* MainWindow::cancelButton() const {
  for (const auto& b : buttons_) {
    if (b->cancel_ && b->canTakeFocus()) return b.get();
  }
  return nullptr;
}

void MainWindow::focus(Focusable* f) {
  if (f == nullptr || !f->canTakeFocus() || focused_ == f) return;
  focused_ = f;
  f->gotFocus();
}

void MainWindow::moveToEndOfTabOrder(Focusable* f) {
  std::erase(tabOrder_, f);
  tabOrder_.push_back(f);
}

void MainWindow::checkFocus() {
  if (focused_ == nullptr || focused_->canTakeFocus()) return;
  Focusable* lost = focused_;
  focused_ = nullptr;
  focusNext(lost, false);
}

void MainWindow::focusNext(Focusable* from, bool backwards) {
  const std::size_t n = tabOrder_.size();
  if (n == 0) return;
  const auto it = std::find(tabOrder_.begin(), tabOrder_.end(), from);
  std::size_t pos =
      it == tabOrder_.end() ? (backwards ? 0 : n - 1) : static_cast<std::size_t>(it - tabOrder_.begin());
  for (std::size_t step = 1; step <= n; ++step) {
    pos = backwards ? (pos + n - 1) % n : (pos + 1) % n;
    Focusable* candidate = tabOrder_[pos];
    if (candidate == from) break;
    if (candidate->control().tabStop() && candidate->canTakeFocus()) {
      focus(candidate);
      return;
    }
  }
}

void MainWindow::makeSoleDefault(CommandButton* b) {
  for (const auto& other : buttons_) {
    if (other.get() != b) other->default_ = false;
  }
}

void MainWindow::makeSoleCancel(CommandButton* b) {
  for (const auto& other : buttons_) {
    if (other.get() != b) other->cancel_ = false;
  }
}

bool MainWindow::click(CommandButton& button) {
  if (!button.canTakeFocus()) return false;
  const auto alive = alive_;
  focus(&button);
  if (!*alive || !button.canTakeFocus()) return false;  // a got-focus handler may change things
  button.fireClick();
  return true;
}

void MainWindow::openMenu(const std::string& path) {
  const auto parts = splitPath(path);
  Menu* menu = nullptr;
  for (const auto& m : menus_) {
    if (!parts.empty() && captionMatches(m->caption(), parts.front())) {
      menu = m.get();
      break;
    }
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 && menu != nullptr) menu = menu->findSubMenu(parts[i]);
    if (menu == nullptr) throw std::out_of_range("No menu " + path);
    toolkit_.guarded([&] {
      if (menu->onAboutToShow) menu->onAboutToShow();
    });
  }
}

bool MainWindow::chooseMenu(const std::string& path) {
  const auto parts = splitPath(path);
  std::string menus;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) menus += (i > 0 ? "/" : "") + parts[i];
  MenuItem& item = menuItem(path);
  const auto alive = alive_;
  openMenu(menus);  // its onAboutToShow may enable or disable the item
  if (!*alive || !item.enabled()) return false;
  toolkit_.guarded([&] {
    if (item.onClick) item.onClick();
  });
  return true;
}

bool MainWindow::pressKey(Focusable* target, std::int16_t keyCode, std::int16_t shift) {
  if (target != nullptr && !target->canTakeFocus()) return false;
  const auto alive = alive_;
  std::int16_t code = keyCode;
  toolkit_.guarded([&] {
    if (onKeyDown) onKeyDown(code, shift);
  });
  if (!*alive || code == 0) return false;
  if (target != nullptr) {
    target->keyDown(code, shift);
    if (!*alive || code == 0) return false;
  }
  if (code == tk::Key::Enter) {
    if (CommandButton* b = defaultButton()) b->fireClick();
  } else if (code == tk::Key::Escape) {
    if (CommandButton* b = cancelButton()) b->fireClick();
  } else if (code == tk::Key::Tab) {
    focusNext(target, (shift & tk::kShiftBit) != 0);
  } else if (target != nullptr) {
    target->defaultKey(code, shift);
  }
  return true;
}

bool MainWindow::typeChar(CommandButton& button, char typed) {
  if (!button.canTakeFocus()) return false;
  toolkit_.guarded([&] {
    if (button.onKeyPress) button.onKeyPress(typed);
  });
  return true;
}

}  // namespace headless
}  // namespace tarnset
