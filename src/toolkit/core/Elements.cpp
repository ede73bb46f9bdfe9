#include "toolkit/core/Elements.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "base/Checked16.h"

namespace tarnset::tk {

namespace {

void checkLine(std::int16_t n, std::size_t count) {
  if (n < 0 || static_cast<std::size_t>(n) >= count) throw std::out_of_range("List line outside the list");
}

void checkIndex(std::int16_t n, std::size_t count) {
  if (n < -1 || (n >= 0 && static_cast<std::size_t>(n) >= count)) {
    throw std::out_of_range("List index outside the list");
  }
}

// A line appended to a list whose count must stay a 16-bit value.
void append(std::vector<std::string>& lines, const std::string& text) {
  narrow16(static_cast<std::int64_t>(lines.size()) + 1);
  lines.push_back(text);
}

}  // namespace

int pixelsFor(std::int32_t twips, double dpi) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / kTwipsPerInch));
}

std::int32_t twipsFor(int pixels, double dpi) {
  return static_cast<std::int32_t>(std::lround(static_cast<double>(pixels) * kTwipsPerInch / dpi));
}

// ---------------------------------------------------------------- controls

ControlNode::ControlNode(WindowCore& window, FrameCore* parent, bool takesFocus)
    : window_(window), parent_(parent), takesFocus_(takesFocus) {}

bool ControlNode::shown() const {
  if (!visible_) return false;
  for (const FrameCore* f = parent_; f != nullptr; f = f->parentFrame()) {
    if (!f->visible()) return false;
  }
  return true;
}

bool ControlNode::isWithin(const ControlNode* c) const {
  if (c == this) return true;
  for (const FrameCore* f = parent_; f != nullptr; f = f->parentFrame()) {
    if (f == c) return true;
  }
  return false;
}

void ControlNode::setGeometry(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  // The layout is set again on every change of the panels: an unchanged place costs nothing.
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  placeNative();
}

void ControlNode::changeVisible(bool on) {
  if (on == visible_) return;
  if (on) {
    visible_ = true;
    showNative();
    return;
  }
  window_.whileFocusMovesOn(this, [this] {
    visible_ = false;
    showNative();
  });
}

void ControlNode::changeTabStop(bool on) {
  tabStop_ = on;
  tabStopNative();
}

void FrameCore::setBorder(bool on) {
  if (on == border_) return;
  border_ = on;
  borderNative();
}

void ListBoxCore::clear() {
  items_.clear();
  index_ = -1;
  clearedNative();
}

void ListBoxCore::addItem(const std::string& text) {
  append(items_, text);
  addedNative(text);
}

void ListBoxCore::setItemText(std::int16_t n, const std::string& text) {
  checkLine(n, items_.size());
  // Lines are set on every change of the console: an unchanged one costs nothing.
  if (items_[static_cast<std::size_t>(n)] == text) return;
  items_[static_cast<std::size_t>(n)] = text;
  changedNative(n);
}

std::string ListBoxCore::itemText(std::int16_t n) const {
  checkLine(n, items_.size());
  return items_[static_cast<std::size_t>(n)];
}

std::int16_t ListBoxCore::listCount() const {
  return static_cast<std::int16_t>(items_.size());
}

void ListBoxCore::setListIndex(std::int16_t n) {
  checkIndex(n, items_.size());
  index_ = n;
  selectedNative();
}

void ListBoxCore::userSelected(std::int16_t n) {
  index_ = n >= 0 && static_cast<std::size_t>(n) < items_.size() ? n : std::int16_t{-1};
}

void ButtonCore::setCaption(const std::string& text) {
  if (text == caption_) return;
  caption_ = text;
  captionNative();
}

void ButtonCore::setEnabled(bool on) {
  if (on == enabled_) return;
  if (on) {
    enabled_ = true;
    enabledNative();
    return;
  }
  window_.whileFocusMovesOn(this, [this] {
    enabled_ = false;
    enabledNative();
  });
}

void ButtonCore::setDefault(bool on) {
  if (on == default_) return;
  if (on) window_.makeSoleDefault(this);
  default_ = on;
  defaultNative();
}

void ButtonCore::dropDefault() {
  if (!default_) return;
  default_ = false;
  defaultNative();
}

void ButtonCore::setCancel(bool on) {
  if (on) window_.makeSoleCancel(this);
  cancel_ = on;
}

void ButtonCore::fireClick() {
  if (enabled_) notify(onClick);
}

void LabelCore::move(std::int32_t left, std::int32_t top, std::int32_t /*width*/, std::int32_t /*height*/) {
  setGeometry(left, top, width_, height_);
}

void LabelCore::setCaption(const std::string& text) {
  if (captionSet_ && text == caption_) return;
  captionSet_ = true;
  caption_ = text;
  captionNative();
  remeasure();
}

void LabelCore::remeasure() {
  const auto [w, h] = measure();
  setGeometry(left_, top_, w, h);
}

void LabelCore::setForeColor(SysColor c) {
  // Set on every tick too: a colour set again would redraw the label each time.
  if (colorSet_ && c == color_) return;
  colorSet_ = true;
  color_ = c;
  colorNative();
}

void LabelCore::setTip(const std::string& text) {
  if (text == tip_) return;
  const bool hadTip = !tip_.empty();
  tip_ = text;
  tipNative(hadTip);
}

void TextPaneCore::setText(const std::string& text) {
  text_ = text;
  textNative();
}

void TextFieldCore::setText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  textNative();
}

void TextFieldCore::userEdited(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  notify(onChange);
}

void DropDownCore::clear() {
  items_.clear();
  index_ = -1;
  clearedNative();
}

void DropDownCore::addItem(const std::string& text) {
  append(items_, text);
  addedNative(text);
}

std::int16_t DropDownCore::listCount() const {
  return static_cast<std::int16_t>(items_.size());
}

std::string DropDownCore::itemText(std::int16_t n) const {
  checkLine(n, items_.size());
  return items_[static_cast<std::size_t>(n)];
}

void DropDownCore::setListIndex(std::int16_t n) {
  checkIndex(n, items_.size());
  if (n == index_) return;
  index_ = n;
  selectedNative();
}

void DropDownCore::userPicked(std::int16_t n) {
  if (n < 0 || static_cast<std::size_t>(n) >= items_.size() || n == index_) return;
  index_ = n;
  notify(onChange);
}

void CheckBoxCore::setCaption(const std::string& text) {
  if (text == caption_) return;
  caption_ = text;
  captionNative();
}

void CheckBoxCore::setChecked(bool on) {
  if (on == checked_) return;
  checked_ = on;
  checkedNative();
}

void CheckBoxCore::userClicked(bool checked) {
  checked_ = checked;
  notify(onClick);
}

void LineCore::setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  pointsNative();
}

// ---------------------------------------------------------------- menus

void MenuItemCore::setCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  captionNative();
}

void MenuItemCore::setChecked(bool on) {
  if (on == checked_) return;
  checked_ = on;
  checkedNative();
}

void MenuItemCore::setTip(const std::string& text) {
  if (text == tip_) return;
  tip_ = text;
  tipNative();
}

void MenuItemCore::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  enabledNative();
}

void MenuItemCore::choose() {
  if (!enabled_) return;
  const std::function<void()> f = onClick;
  toolkit_.guarded([&] {
    if (f) f();
  });
}

MenuItem& MenuCore::addItem(const std::string& caption) {
  items_.push_back(makeItem(caption));
  order_.push_back(caption);
  return *items_.back();
}

Menu& MenuCore::addSubMenu(const std::string& caption) {
  subMenus_.push_back(makeSubMenu(caption));
  order_.push_back(caption);
  return *subMenus_.back();
}

void MenuCore::addSeparator() {
  order_.push_back(kSeparator);
  separatorNative();
}

void MenuCore::aboutToShow() {
  const std::function<void()> f = onAboutToShow;
  toolkit_.guarded([&] {
    if (f) f();
  });
}

// ---------------------------------------------------------------- windows

WindowCore::~WindowCore() {
  *alive_ = false;
}

ControlNode* WindowCore::nodeOf(const Control* c) const {
  for (const auto& n : controls_) {
    if (&n->asControl() == c) return n.get();
  }
  return nullptr;
}

FrameCore* WindowCore::frameOf(Parent parent) const {
  if (parent == nullptr) return nullptr;
  for (const auto& c : controls_) {
    if (static_cast<const Control*>(&c->asControl()) == parent) {
      if (auto* f = dynamic_cast<FrameCore*>(c.get())) return f;
    }
  }
  throw std::invalid_argument("The parent frame belongs to another window");
}

void WindowCore::giveFocus(ControlNode* c) {
  if (focused_ != c) focusArrived(c);
}

void WindowCore::focusArrived(ControlNode* c) {
  focused_ = c;
  if (c != nullptr) c->gotFocus();
}

void WindowCore::focus(ControlNode* c) {
  if (c != nullptr && c->canTakeFocus()) giveFocus(c);
}

void WindowCore::focusNext(ControlNode* from, bool backwards) {
  const std::size_t n = tabChain_.size();
  if (n == 0) return;
  const auto it = std::find(tabChain_.begin(), tabChain_.end(), from);
  std::size_t pos =
      it == tabChain_.end() ? (backwards ? 0 : n - 1) : static_cast<std::size_t>(it - tabChain_.begin());
  for (std::size_t step = 1; step <= n; ++step) {
    pos = backwards ? (pos + n - 1) % n : (pos + 1) % n;
    ControlNode* candidate = tabChain_[pos];
    if (candidate == from) return;
    if (candidate->tabStopOn() && candidate->canTakeFocus()) {
      giveFocus(candidate);
      return;
    }
  }
}

void WindowCore::moveToEndOfTabOrder(ControlNode* c) {
  std::erase(tabChain_, c);
  tabChain_.push_back(c);
  tabOrderNative();
}

void WindowCore::whileFocusMovesOn(const ControlNode* c, const std::function<void()>& change) {
  ControlNode* from = focusHolder();
  if (from == nullptr || !from->isWithin(c)) {
    change();
    return;
  }
  ++movingFocus_;
  struct Done {
    int& depth;
    ~Done() { --depth; }
  } done{movingFocus_};
  change();
  if (from->canTakeFocus()) return;
  focusNext(from, false);
  const ControlNode* now = focusHolder();
  if (now == nullptr || !now->canTakeFocus()) dropFocus();
}

ButtonCore* WindowCore::defaultButton() const {
  for (ButtonCore* b : controlsOf<ButtonCore>()) {
    if (b->isDefault() && b->canTakeFocus()) return b;
  }
  return nullptr;
}

ButtonCore* WindowCore::cancelButton() const {
  for (ButtonCore* b : controlsOf<ButtonCore>()) {
    if (b->isCancel() && b->canTakeFocus()) return b;
  }
  return nullptr;
}

void WindowCore::makeSoleDefault(const ButtonCore* b) {
  for (ButtonCore* other : controlsOf<ButtonCore>()) {
    if (other != b) other->dropDefault();
  }
}

void WindowCore::makeSoleCancel(const ButtonCore* b) {
  for (ButtonCore* other : controlsOf<ButtonCore>()) {
    if (other != b) other->dropCancel();
  }
}

WindowCore::KeyResult WindowCore::routeKey(ControlNode* target, std::int16_t keyCode, std::int16_t shift) {
  const auto alive = alive_;
  std::int16_t key = keyCode;
  const KeyDownHandler handler = preview();
  toolkit_.guarded([&] {
    if (handler) handler(key, shift);
  });
  if (!*alive || key == 0) return KeyResult::Consumed;
  if (target != nullptr) {
    target->keyDown(key, shift);
    if (!*alive || key == 0) return KeyResult::Consumed;
  }
  if (key == Key::Enter || key == Key::Escape) {
    if (ButtonCore* b = key == Key::Enter ? defaultButton() : cancelButton()) {
      b->press();
      return KeyResult::Used;
    }
    if (key == Key::Escape && escapeUnused()) return KeyResult::Used;
    return KeyResult::Passed;
  }
  if (key == Key::Tab && (shift & (kCtrlBit | kAltBit)) == 0) {
    focusNext(target != nullptr ? target : focusHolder(), (shift & kShiftBit) != 0);
    return KeyResult::Used;
  }
  return KeyResult::Passed;
}

// ---------------------------------------------------------------- main window

void MainWindowCore::show() {
  const auto alive = alive_;
  const bool first = !shown_;
  shown_ = true;
  unloaded_ = false;
  showNative();
  if (!*alive) return;
  if (first && resizePending_) fireResize();
}

void MainWindowCore::unload() {
  if (unloaded_) return;
  unloaded_ = true;
  const auto alive = alive_;
  const std::function<void()> query = onQueryUnload;
  toolkit_.guarded([&] {
    if (query) query();
  });
  if (!*alive) return;
  const std::function<void()> unloaded = onUnload;
  toolkit_.guarded([&] {
    if (unloaded) unloaded();
  });
  if (!*alive) return;
  shown_ = false;
  hideNative();
}

void MainWindowCore::endSession() {
  if (sessionEnded_) return;
  sessionEnded_ = true;
  const std::function<void()> f = onEndSession;
  toolkit_.guarded([&] {
    if (f) f();
  });
}

Menu& MainWindowCore::addMenu(const std::string& caption) {
  menus_.push_back(makeMenu(caption));
  return *menus_.back();
}

Line& MainWindowCore::addLine() {
  lines_.push_back(makeLine());
  return *lines_.back();
}

void MainWindowCore::clientSizeChanged() {
  if (resizeHeld_ > 0) return;
  if (!shown_) {
    resizePending_ = true;  // reported when the window is shown
    return;
  }
  if (!resizePending_ && scaleWidth() == reportedWidth_ && scaleHeight() == reportedHeight_) return;
  fireResize();
}

void MainWindowCore::fireResize() {
  resizePending_ = false;
  reportedWidth_ = scaleWidth();
  reportedHeight_ = scaleHeight();
  const std::function<void()> f = onResize;
  toolkit_.guarded([&] {
    if (f) f();
  });
}

// ---------------------------------------------------------------- dialog

void DialogCore::setClientSize(std::int32_t width, std::int32_t height) {
  clientWidth_ = std::max<std::int32_t>(0, width);
  clientHeight_ = std::max<std::int32_t>(0, height);
  sizeNative();
}

void DialogCore::moveTo(std::int32_t left, std::int32_t top) {
  left_ = left;
  top_ = top;
  positioned_ = true;
  moveNative();
}

void DialogCore::show() {
  if (shown_) return;
  shown_ = true;
  showNative();
}

void DialogCore::close() {
  if (!shown_) return;
  shown_ = false;
  hideNative();
  const std::function<void()> f = onClose;
  toolkit_.guarded([&] {
    if (f) f();
  });
}

bool DialogCore::escapeUnused() {
  close();
  return true;
}

}  // namespace tarnset::tk
