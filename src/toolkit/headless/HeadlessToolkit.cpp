#include "toolkit/headless/HeadlessToolkit.h"

#include <algorithm>
#include <stdexcept>

#include "base/Checked16.h"
#include "platform/EventWait.h"
#include "toolkit/core/DisplayText.h"

namespace tarnset {

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

// The control behind an interface reference, with its window; throws for another toolkit's.
template <class T>
T& headlessOf(tk::Control& c) {
  auto* t = dynamic_cast<T*>(&c);
  if (t == nullptr) throw std::invalid_argument("Not a control of the headless toolkit");
  return *t;
}

// True when the control's window takes input: a dialog only while it is shown.
bool windowTakesInput(const tk::ControlNode& c) {
  const auto* d = dynamic_cast<const headless::Dialog*>(&c.window());
  return d == nullptr || d->isShown();
}

bool reachable(const tk::ControlNode& c) {
  return c.canTakeFocus() && windowTakesInput(c);
}

// The character a key types (a letter, a digit, a space); 0 for none.
char typedBy(std::int16_t keyCode, std::int16_t shift) {
  if (keyCode >= tk::Key::LetterA && keyCode < tk::Key::LetterA + 26) {
    return static_cast<char>((shift & tk::kShiftBit) != 0 ? keyCode : keyCode - tk::Key::LetterA + 'a');
  }
  const bool digit = keyCode >= tk::Key::Digit0 && keyCode < tk::Key::Digit0 + 10;
  return digit || keyCode == tk::Key::Space ? static_cast<char>(keyCode) : '\0';
}

// Presses a key on target (nullptr: the window itself) of window w.
bool press(tk::WindowCore& w, tk::ControlNode* target, std::int16_t keyCode, std::int16_t shift) {
  if (target != nullptr && !reachable(*target)) return false;
  const auto alive = w.alive();
  const auto result = w.routeKey(target, keyCode, shift);
  if (result == tk::WindowCore::KeyResult::Consumed) return false;
  if (result == tk::WindowCore::KeyResult::Passed && *alive && target != nullptr) {
    if (const char c = typedBy(keyCode, shift); c != 0) target->typed(c);
    auto* keys = dynamic_cast<headless::DefaultKeys*>(target);
    if (*alive && keys != nullptr) keys->defaultKey(keyCode, shift);
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- controls

namespace headless {

std::int16_t ListBox::pageLines() const {
  const std::int32_t rows = height_ / kCharHeight;
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(rows - 1, 1, 32767));
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
  userSelected(static_cast<std::int16_t>(std::clamp<std::int32_t>(next, 0, last)));
}

void CommandButton::defaultKey(std::int16_t keyCode, std::int16_t /*shift*/) {
  if (keyCode == tk::Key::Space) fireClick();
}

Label::Label(tk::WindowCore& window, tk::FrameCore* parent) : LabelCore(window, parent) {
  setCaption("");
}

std::vector<std::string> Label::lines() const {
  return tk::textLines(caption_);
}

std::pair<std::int32_t, std::int32_t> Label::measure() const {
  const auto ls = lines();
  std::size_t longest = 0;
  for (const auto& l : ls) longest = std::max(longest, tk::displayText(l).size());
  return {narrow32(static_cast<std::int64_t>(longest) * kCharWidth),
          narrow32(static_cast<std::int64_t>(ls.size()) * kCharHeight)};
}

void TextField::defaultKey(std::int16_t keyCode, std::int16_t /*shift*/) {
  if (keyCode != tk::Key::Backspace || text_.empty()) return;
  std::u16string shown = tk::displayText(text_);
  shown.pop_back();
  userEdited(tk::programText(shown));
}

void DropDown::defaultKey(std::int16_t keyCode, std::int16_t /*shift*/) {
  if (keyCode == tk::Key::Down) userPicked(static_cast<std::int16_t>(index_ + 1));
  if (keyCode == tk::Key::Up && index_ > 0) userPicked(static_cast<std::int16_t>(index_ - 1));
}

void CheckBox::defaultKey(std::int16_t keyCode, std::int16_t /*shift*/) {
  if (keyCode == tk::Key::Space) userClicked(!checked_);
}

MenuItem* Menu::findItem(const std::string& caption) const {
  for (const auto& i : items()) {
    if (captionMatches(i->caption(), caption)) return i.get();
  }
  return nullptr;
}

Menu* Menu::findSubMenu(const std::string& caption) const {
  for (const auto& m : subMenus()) {
    if (captionMatches(m->caption(), caption)) return static_cast<Menu*>(m.get());
  }
  return nullptr;
}

std::unique_ptr<tk::MenuItemCore> Menu::makeItem(const std::string& caption) {
  return std::make_unique<MenuItem>(toolkit_, caption);
}

std::unique_ptr<tk::MenuCore> Menu::makeSubMenu(const std::string& caption) {
  return std::make_unique<Menu>(toolkit_, caption);
}

template <class Base>
std::vector<tk::FocusControl*> Controls<Base>::tabOrder() const {
  std::vector<tk::FocusControl*> out;
  for (tk::ControlNode* c : this->WindowCore::tabOrder()) {
    out.push_back(dynamic_cast<tk::FocusControl*>(&c->asControl()));
  }
  return out;
}

template <class Base>
tk::FocusControl* Controls<Base>::focused() const {
  tk::ControlNode* f = this->focusHolder();
  return f != nullptr ? dynamic_cast<tk::FocusControl*>(&f->asControl()) : nullptr;
}

template class Controls<tk::MainWindowCore>;
template class Controls<tk::DialogCore>;

// ---------------------------------------------------------------- main window

MainWindow::MainWindow(HeadlessToolkit& toolkit) : Controls(toolkit), kit_(toolkit) {
  kit_.addWindow(this);
}

MainWindow::~MainWindow() {
  kit_.removeWindow(this);
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
  width_ = width;
  height_ = height;
  clientSizeChanged();
}

void MainWindow::resize(std::int32_t scaleWidth, std::int32_t scaleHeight) {
  move(left_, top_, add32(scaleWidth, kNonClientWidth), add32(scaleHeight, kNonClientHeight));
}

std::vector<Line*> MainWindow::lines() const {
  std::vector<Line*> out;
  for (const auto& l : MainWindowCore::lines()) out.push_back(l.get());
  return out;
}

std::vector<Menu*> MainWindow::menus() const {
  std::vector<Menu*> out;
  for (const auto& m : MainWindowCore::menus()) out.push_back(static_cast<Menu*>(m.get()));
  return out;
}

std::unique_ptr<tk::MenuCore> MainWindow::makeMenu(const std::string& caption) {
  return std::make_unique<Menu>(kit_, caption);
}

std::unique_ptr<tk::TextPaneCore> MainWindow::makeTextPane(tk::FrameCore* parent) {
  return std::make_unique<TextPane>(*this, parent);
}

std::unique_ptr<tk::LineCore> MainWindow::makeLine() {
  return std::make_unique<Line>();
}

Menu* MainWindow::topMenu(const std::string& caption) const {
  for (Menu* m : menus()) {
    if (captionMatches(m->caption(), caption)) return m;
  }
  return nullptr;
}

MenuItem& MainWindow::menuItem(const std::string& path) const {
  const auto parts = splitPath(path);
  if (parts.size() < 2) throw std::out_of_range("No menu item " + path);
  const Menu* menu = topMenu(parts.front());
  for (std::size_t i = 1; menu != nullptr && i + 1 < parts.size(); ++i) menu = menu->findSubMenu(parts[i]);
  MenuItem* item = menu != nullptr ? menu->findItem(parts.back()) : nullptr;
  if (item == nullptr) throw std::out_of_range("No menu item " + path);
  return *item;
}

void MainWindow::openMenu(const std::string& path) {
  const auto parts = splitPath(path);
  Menu* menu = topMenu(parts.front());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 && menu != nullptr) menu = menu->findSubMenu(parts[i]);
    if (menu == nullptr) throw std::out_of_range("No menu " + path);
    menu->aboutToShow();
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
  item.choose();
  return true;
}

Dialog::Dialog(HeadlessToolkit& toolkit) : Controls(toolkit), kit_(toolkit) {
  kit_.addDialog(this);
}

Dialog::~Dialog() {
  kit_.removeDialog(this);
}

}  // namespace headless

// ---------------------------------------------------------------- toolkit

HeadlessToolkit::HeadlessToolkit(const TickSource& clock) : core_(*this, clock) {}

HeadlessToolkit::~HeadlessToolkit() = default;

std::unique_ptr<tk::MainWindow> HeadlessToolkit::createMainWindow() {
  return std::make_unique<headless::MainWindow>(*this);
}

std::unique_ptr<tk::DialogWindow> HeadlessToolkit::createDialog() {
  return std::make_unique<headless::Dialog>(*this);
}

std::int16_t HeadlessToolkit::messageBox(const std::string& text, const std::string& title,
                                         const std::string& details) {
  messages_.push_back({text, title, details});
  const Message shown = messages_.back();
  return modal([&] {
    if (messageHook_) messageHook_(shown);
    return std::int16_t{1};
  });
}

bool HeadlessToolkit::askOkCancel(const std::string& text, const std::string& title,
                                  const std::string& details) {
  questions_.push_back({text, title, details});
  const Message shown = questions_.back();
  return modal([&] { return questionHook_ ? questionHook_(shown) : true; });
}

int HeadlessToolkit::askChoice(const std::string& text, const std::string& title, const std::string& details,
                               const std::vector<std::string>& choices) {
  if (choices.empty()) return -1;  // nothing to choose: no box
  choiceRequests_.push_back({text, title, details, choices});
  const ChoiceRequest shown = choiceRequests_.back();
  const int n = static_cast<int>(choices.size());
  const int answer = modal([&] { return choiceHook_ ? choiceHook_(shown) : 0; });
  return answer >= 0 && answer < n ? answer : -1;
}

std::string HeadlessToolkit::chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                            const std::vector<tk::FileFilter>& filters) {
  fileRequests_.push_back({title, suggestedPath, filters});
  const FileRequest shown = fileRequests_.back();
  return modal([&] { return fileChooserHook_ ? fileChooserHook_(shown) : std::string(); });
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
  exitCode_ = exitCode;
  core_.quit(exitCode);
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

void HeadlessToolkit::removeDialog(headless::Dialog* d) {
  std::erase(dialogs_, d);
}

bool HeadlessToolkit::click(tk::CommandButton& button) {
  auto& b = headlessOf<headless::CommandButton>(button);
  if (!reachable(b)) return false;
  const auto alive = b.window().alive();
  b.window().focus(&b);
  if (!*alive || !reachable(b)) return false;  // a got-focus handler may change things
  b.fireClick();
  return true;
}

bool HeadlessToolkit::click(tk::CheckBox& box) {
  auto& c = headlessOf<headless::CheckBox>(box);
  if (!reachable(c)) return false;
  const auto alive = c.window().alive();
  c.window().focus(&c);
  if (!*alive || !reachable(c)) return false;
  c.userClicked(!c.checked());
  return true;
}

bool HeadlessToolkit::typeText(tk::TextField& field, const std::string& chars) {
  auto& f = headlessOf<headless::TextField>(field);
  if (!reachable(f)) return false;
  const auto alive = f.window().alive();
  f.window().focus(&f);
  std::u16string shown = tk::displayText(f.text());
  for (const char16_t c : tk::displayText(chars)) {
    if (!*alive) break;
    shown += c;
    f.userEdited(tk::programText(shown));
  }
  return true;
}

bool HeadlessToolkit::pick(tk::DropDown& box, std::int16_t n) {
  auto& d = headlessOf<headless::DropDown>(box);
  if (!reachable(d) || n < 0 || n >= d.listCount()) return false;
  const auto alive = d.window().alive();
  d.window().focus(&d);
  if (*alive) d.userPicked(n);
  return true;
}

bool HeadlessToolkit::pressKey(tk::FocusControl& target, std::int16_t keyCode, std::int16_t shift) {
  auto& c = headlessOf<tk::ControlNode>(target);
  return press(c.window(), &c, keyCode, shift);
}

bool HeadlessToolkit::pressKey(std::int16_t keyCode, std::int16_t shift) {
  headless::MainWindow& w = mainWindow();
  return press(w, w.focusHolder(), keyCode, shift);
}

bool HeadlessToolkit::pressKey(tk::DialogWindow& dialog, std::int16_t keyCode, std::int16_t shift) {
  auto* d = dynamic_cast<headless::Dialog*>(&dialog);
  if (d == nullptr) throw std::invalid_argument("Not a dialog of the headless toolkit");
  if (!d->isShown()) return false;
  return press(*d, d->focusHolder(), keyCode, shift);
}

bool HeadlessToolkit::typeChar(tk::CommandButton& button, char typed) {
  auto& b = headlessOf<headless::CommandButton>(button);
  if (!reachable(b)) return false;
  b.typed(typed);
  return true;
}

int HeadlessToolkit::waitWatches(int timeoutMs) {
  if (core_.held()) return 0;
  const auto watched = core_.waitables();
  std::vector<Waitable> what;
  for (const auto& [id, w] : watched) what.push_back(w);
  std::vector<WaitState> states;
  // Nothing ready: a time-out, or a signal; the caller's loop goes on.
  if (waitForAny(what, timeoutMs, states) == 0) return 0;
  int ran = 0;
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (states[i] == WaitState::Quiet) continue;
    if (states[i] == WaitState::Invalid) {
      core_.dropWatch(watched[i].first);
    } else if (core_.fireWatch(watched[i].first)) {
      ++ran;
    }
  }
  return ran;
}

int HeadlessToolkit::runLoop() {
  int code = 0;
  while (!core_.takeQuit(code)) {
    core_.runPosted();
    if (core_.quitRequested()) continue;
    core_.runDueTimers();
    if (core_.quitRequested()) continue;
    const std::int32_t timeout = core_.msToNextWork();
    if (timeout < 0 && core_.waitables().empty()) return -1;
    waitWatches(timeout);
  }
  return code;
}

}  // namespace tarnset
