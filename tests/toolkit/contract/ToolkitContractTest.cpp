// The toolkit contract (toolkit/Toolkit.h), one suite run over every toolkit the tree
// builds: what the elements keep, how keys, clicks, typing and picks reach the logic, the
// focus and the tab order, the windows' notifications, the dialogs beside the main
// window, the boxes, and the timers, watches and posted calls with the rules they
// follow. The user's part is played by each toolkit's driver; the event loop is the
// toolkit's own, waited on until what a case looks for has happened.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TestSignal.h"
#include "toolkit/KeyLog.h"
#include "toolkit/contract/Drivers.h"

namespace tarnset::contract {
namespace {

namespace Key = tk::Key;

template <class D>
class ToolkitContract : public ::testing::Test {
 protected:
  // Runs the toolkit's event loop until done() holds (looked at every 5 ms); false when
  // it did not within maxMs.
  bool runUntil(const std::function<bool()>& done, std::int32_t maxMs = 5000) {
    auto check = kit.createTimer();
    auto limit = kit.createTimer();
    check->onTick = [&] {
      if (done()) kit.quit(0);
    };
    limit->onTick = [&] { kit.quit(1); };
    check->setInterval(5);
    limit->setInterval(maxMs);
    check->setEnabled(true);
    limit->setEnabled(true);
    d.run();
    return done();
  }

  // Records every key the window's preview and the list's handler see.
  void logKeys(tk::ListBox& list) { tktest::logKeys(*win, list, log, consumeInList); }

  D d;
  tk::Toolkit& kit = d.kit();
  std::unique_ptr<tk::MainWindow> win = kit.createMainWindow();
  std::vector<std::string> log;
  bool consumeInList = false;
};

TYPED_TEST_SUITE(ToolkitContract, Drivers, DriverName);

// ---------------------------------------------------------------- what the elements keep

TYPED_TEST(ToolkitContract, ControlsKeepWhatTheLogicSetsAndRefuseBadIndexes) {
  tk::MainWindow& w = *this->win;
  w.setCaption("Tarnset ADJ Rev.1.2");
  EXPECT_EQ(w.caption(), "Tarnset ADJ Rev.1.2");
  tk::Frame& frame = w.addFrame(nullptr);
  frame.move(120, 600, 6000, 3000);
  EXPECT_EQ(frame.left(), 120);
  EXPECT_EQ(frame.top(), 600);
  EXPECT_EQ(frame.width(), 6000);
  EXPECT_EQ(frame.height(), 3000);
  EXPECT_TRUE(frame.border());
  frame.setBorder(false);
  EXPECT_FALSE(frame.border());

  tk::ListBox& list = w.addListBox(&frame);
  EXPECT_EQ(list.width(), 1200) << "the size before the logic places a control";
  for (const char* s : {"a", "b", "c"}) list.addItem(s);
  list.setListIndex(1);
  list.setItemText(1, "B");
  EXPECT_EQ(list.listIndex(), 1) << "a changed line keeps the selection";
  EXPECT_EQ(list.itemText(1), "B");
  EXPECT_EQ(list.listCount(), 3);
  EXPECT_THROW(list.setItemText(3, "x"), std::out_of_range);
  EXPECT_THROW(list.itemText(-1), std::out_of_range);
  EXPECT_THROW(list.setListIndex(3), std::out_of_range);
  EXPECT_THROW(list.setListIndex(-2), std::out_of_range);
  list.setListIndex(-1);
  EXPECT_EQ(list.listIndex(), -1);
  list.setListIndex(2);
  list.clear();
  EXPECT_EQ(list.listCount(), 0);
  EXPECT_EQ(list.listIndex(), -1);

  tk::CommandButton& a = w.addButton(&frame);
  tk::CommandButton& b = w.addButton(&frame);
  a.setCaption("Connect");
  EXPECT_EQ(a.caption(), "Connect");
  a.setEnabled(false);
  EXPECT_FALSE(a.enabled());
  a.setDefault(true);
  b.setDefault(true);
  EXPECT_FALSE(a.isDefault()) << "one default button at a time";
  EXPECT_TRUE(b.isDefault());
  a.setCancel(true);
  b.setCancel(true);
  EXPECT_FALSE(a.isCancel()) << "one cancel button at a time";

  tk::Label& label = w.addLabel(nullptr);
  label.setCaption("COM 1: OPEN");
  label.setTip("COM 1 is /dev/ttyUSB0");
  label.setForeColor(tk::SysColor::GrayText);
  EXPECT_EQ(label.caption(), "COM 1: OPEN");
  EXPECT_EQ(label.tip(), "COM 1 is /dev/ttyUSB0");
  EXPECT_EQ(label.foreColor(), tk::SysColor::GrayText);
  tk::TextPane& pane = w.addTextPane(nullptr);
  pane.setText("line 1\r\nline 2");
  EXPECT_EQ(pane.text(), "line 1\r\nline 2");
  tk::Line& line = w.addLine();
  line.setPoints(1, 2, 3, 4);
  EXPECT_EQ(std::vector<std::int32_t>({line.x1(), line.y1(), line.x2(), line.y2()}),
            (std::vector<std::int32_t>{1, 2, 3, 4}));
  list.setVisible(false);
  EXPECT_FALSE(list.visible());

  auto other = this->kit.createMainWindow();
  tk::Frame& foreign = other->addFrame(nullptr);
  EXPECT_THROW(w.addListBox(&foreign), std::invalid_argument);
}

TYPED_TEST(ToolkitContract, ALabelsSizeFollowsItsCaptionInTheFixedPitchFont) {
  tk::Label& busy = this->win->addLabel(nullptr);
  busy.setCaption("COM 1: OPEN");
  const std::int32_t width = busy.width();
  const std::int32_t height = busy.height();
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
  busy.setCaption("COM 1: WXYZ");
  EXPECT_EQ(busy.width(), width) << "as many characters, as wide";
  busy.setCaption("COM 1: OPEN\r\nsecond");
  EXPECT_GT(busy.height(), height);
  EXPECT_EQ(busy.width(), width);
  busy.move(120, 240, 1, 1);
  EXPECT_EQ(busy.left(), 120);
  EXPECT_EQ(busy.top(), 240);
  EXPECT_EQ(busy.width(), width) << "the size stays the caption's";
  busy.setCaption("COM 1: OPEN and more");
  EXPECT_GT(busy.width(), width);
}

// ---------------------------------------------------------------- keys, clicks and focus

TYPED_TEST(ToolkitContract, KeysReachThePreviewThenTheListAndAConsumedKeyStops) {
  tk::ListBox& list = this->win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  for (const char* s : {"a", "b", "c"}) list.addItem(s);
  list.setListIndex(0);
  this->logKeys(list);
  this->d.show(*this->win);
  list.setFocus();
  ASSERT_TRUE(list.hasFocus());

  this->d.press(*this->win, Key::Down);
  EXPECT_EQ(list.listIndex(), 1) << "the list's own handling";
  this->consumeInList = true;
  this->d.press(*this->win, Key::Down);
  EXPECT_EQ(list.listIndex(), 1) << "consumed";
  this->d.press(*this->win, Key::Right, tk::kShiftBit);
  this->d.press(*this->win, Key::F5);
  EXPECT_EQ(this->log, (std::vector<std::string>{"window 40/0", "list 40/0", "window 40/0", "list 40/0",
                                                 "window 39/1", "list 39/1", "window 116/0", "list 116/0"}));

  this->win->onKeyDown = [](std::int16_t& code, std::int16_t) { code = 0; };
  this->log.clear();
  this->d.press(*this->win, Key::Down);
  EXPECT_TRUE(this->log.empty()) << "consumed by the preview: the list never sees it";
}

TYPED_TEST(ToolkitContract, F5ReachesThePreviewWhateverHasTheFocus) {
  tk::CommandButton& button = this->win->addButton(nullptr);
  tk::TextPane& pane = this->win->addTextPane(nullptr);
  pane.move(0, 600, 3000, 1500);
  pane.setText("line 1\r\nline 2");
  this->win->onKeyDown = [&](std::int16_t& code, std::int16_t) { this->log.push_back(std::to_string(code)); };
  this->d.show(*this->win);
  button.setFocus();
  this->d.press(*this->win, Key::F5);
  pane.setFocus();
  ASSERT_TRUE(pane.hasFocus());
  this->d.press(*this->win, Key::F5);
  EXPECT_EQ(this->log, (std::vector<std::string>{"116", "116"}));
}

TYPED_TEST(ToolkitContract, ReturnAndEscapeClickTheDefaultAndTheCancelButtonWhileTheyCanBeClicked) {
  tk::MainWindow& w = *this->win;
  tk::Frame& frame = w.addFrame(nullptr);
  frame.move(0, 0, 4000, 1000);
  tk::CommandButton& ok = w.addButton(&frame);
  tk::CommandButton& cancel = w.addButton(&frame);
  cancel.move(1800, 0, 1200, 360);
  tk::ListBox& list = w.addListBox(nullptr);
  list.move(0, 1200, 3000, 1500);
  ok.setDefault(true);
  cancel.setCancel(true);
  ok.onClick = [&] { this->log.push_back("ok"); };
  cancel.onClick = [&] { this->log.push_back("cancel"); };
  this->d.show(w);
  list.setFocus();
  this->d.press(w, Key::Enter);
  this->d.press(w, Key::Escape);
  EXPECT_EQ(this->log, (std::vector<std::string>{"ok", "cancel"}));

  frame.setVisible(false);
  this->d.press(w, Key::Enter);
  frame.setVisible(true);
  ok.setEnabled(false);
  this->d.press(w, Key::Enter);
  ok.setEnabled(true);
  list.onKeyDown = [](std::int16_t& code, std::int16_t) { code = 0; };
  this->d.press(w, Key::Enter);
  EXPECT_EQ(this->log.size(), 2u) << "hidden, disabled, consumed: no click";
}

TYPED_TEST(ToolkitContract, TabMovesTheFocusAlongTheTabOrderPastControlsThatAreNoTabStops) {
  tk::CommandButton& a = this->win->addButton(nullptr);
  tk::CommandButton& b = this->win->addButton(nullptr);
  tk::CommandButton& c = this->win->addButton(nullptr);
  b.move(1500, 0, 1200, 360);
  c.move(3000, 0, 1200, 360);
  a.moveToEndOfTabOrder();  // b, c, a
  this->d.show(*this->win);
  c.setFocus();
  this->d.press(*this->win, Key::Tab);
  EXPECT_TRUE(a.hasFocus());
  a.setTabStop(false);
  EXPECT_FALSE(a.tabStop());
  c.setFocus();
  this->d.press(*this->win, Key::Tab);
  EXPECT_TRUE(b.hasFocus());
  this->d.press(*this->win, Key::Tab, tk::kShiftBit);
  EXPECT_TRUE(c.hasFocus());
}

TYPED_TEST(ToolkitContract, TheFocusMovesOnWhenItsControlIsHiddenOrDisabled) {
  tk::MainWindow& w = *this->win;
  tk::Frame& frame = w.addFrame(nullptr);
  frame.move(0, 600, 4000, 1000);
  tk::CommandButton& a = w.addButton(nullptr);
  tk::CommandButton& b = w.addButton(&frame);
  tk::ListBox& c = w.addListBox(nullptr);
  c.move(0, 2000, 3000, 1500);
  int gotFocus = 0;
  c.onGotFocus = [&] { ++gotFocus; };
  this->d.show(w);
  b.setFocus();
  ASSERT_TRUE(b.hasFocus());
  frame.setVisible(false);
  EXPECT_TRUE(c.hasFocus()) << "on to the next tab stop";
  EXPECT_EQ(gotFocus, 1);
  c.setFocus();
  EXPECT_EQ(gotFocus, 1) << "it had the focus already";
  c.setVisible(false);
  EXPECT_TRUE(a.hasFocus()) << "round to the first";
  a.setEnabled(false);
  EXPECT_FALSE(a.hasFocus() || b.hasFocus() || c.hasFocus()) << "nothing left: the window keeps the keys";
  b.setFocus();
  EXPECT_FALSE(b.hasFocus()) << "inside a hidden frame: refused";
}

TYPED_TEST(ToolkitContract, AClickRunsTheButtonAndGivesItTheFocusAndSpaceClicksItToo) {
  tk::CommandButton& button = this->win->addButton(nullptr);
  button.setCaption("Connect");
  tk::ListBox& list = this->win->addListBox(nullptr);
  list.move(0, 600, 3000, 1500);
  int clicks = 0;
  button.onClick = [&] { ++clicks; };
  this->d.show(*this->win);
  list.setFocus();
  this->d.click(button);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(button.hasFocus());
  button.setEnabled(false);
  this->d.click(button);
  EXPECT_EQ(clicks, 1);
  button.setEnabled(true);
  button.setFocus();
  this->d.press(*this->win, Key::Space);
  EXPECT_EQ(clicks, 2);

  std::string typed;
  button.onKeyPress = [&](char c) { typed += c; };
  this->d.press(*this->win, 'K');
  this->d.press(*this->win, 'K', tk::kShiftBit);
  EXPECT_EQ(typed, "kK") << "the characters typed on the button";
}

TYPED_TEST(ToolkitContract, MenusTellTheLogicWhenOpenedAndChosenAndOnlyTheLogicSetsTheirMarks) {
  tk::MainWindow& w = *this->win;
  tk::Menu& file = w.addMenu("&File");
  tk::MenuItem& save = file.addItem("&Save report...");
  file.addSeparator();
  tk::MenuItem& exit = file.addItem("E&xit");
  tk::Menu& port = w.addMenu("&Option").addSubMenu("&Port");
  tk::MenuItem& com1 = port.addItem("COM &1");
  tk::MenuItem& com3 = port.addItem("COM &3");
  save.onClick = [&] { this->log.push_back("save"); };
  exit.onClick = [&] { this->log.push_back("exit"); };
  com1.onClick = [&] { this->log.push_back("com1"); };
  EXPECT_EQ(file.caption(), "&File");
  EXPECT_EQ(exit.caption(), "E&xit");

  com1.setChecked(true);  // port 1 at start, then port 3 chosen
  com3.setChecked(true);
  com1.setChecked(false);
  this->d.choose(w, com1);
  EXPECT_FALSE(com1.checked()) << "choosing an item does not mark it";
  EXPECT_TRUE(com3.checked()) << "not an exclusive group";

  EXPECT_TRUE(save.enabled());
  save.setEnabled(false);
  EXPECT_FALSE(save.enabled());
  this->d.choose(w, save);
  save.setEnabled(true);
  this->d.choose(w, save);
  this->d.choose(w, exit);
  EXPECT_EQ(this->log, (std::vector<std::string>{"com1", "save", "exit"})) << "a disabled item is not chosen";

  port.onAboutToShow = [&] { com3.setTip("COM 3 is /dev/ttyUSB3"); };
  this->d.open(w, port);
  EXPECT_EQ(com3.tip(), "COM 3 is /dev/ttyUSB3") << "the logic brought it up to date as the menu opened";
}

// ---------------------------------------------------------------- the windows

TYPED_TEST(ToolkitContract, ShowingResizingAndClosingTheMainWindowRunItsNotifications) {
  tk::MainWindow& w = *this->win;
  w.addMenu("&File").addItem("E&xit");
  int resizes = 0;
  w.onResize = [&] { ++resizes; };
  w.onQueryUnload = [&] { this->log.push_back("query"); };
  w.onUnload = [&] { this->log.push_back("unload"); };
  w.move(0, 0, 9525, 6600);
  EXPECT_EQ(resizes, 0) << "a hidden window reports its size when it is shown";
  EXPECT_LT(w.scaleHeight(), 6600) << "the caption and the menu bar are outside the client area";
  EXPECT_FALSE(w.isShown());
  this->d.show(w);
  EXPECT_TRUE(w.isShown());
  EXPECT_GE(resizes, 1);
  const int before = resizes;
  w.move(0, 0, 9000, 6000);
  EXPECT_TRUE(this->runUntil([&] { return resizes > before; }, 2000));

  this->d.closeBox(w);
  w.unload();
  EXPECT_EQ(this->log, (std::vector<std::string>{"query", "unload"})) << "once";
  EXPECT_FALSE(w.isShown());
  this->d.show(w);
  w.unload();
  EXPECT_EQ(this->log.size(), 4u) << "shown again, it unloads again";
}

TYPED_TEST(ToolkitContract, ADialogRunsBesideTheMainWindowWithItsOwnControls) {
  tk::Toolkit& kit = this->kit;
  this->d.show(*this->win);
  auto dlg = kit.createDialog();
  dlg->setCaption("Instrument");
  dlg->setClientSize(7200, 3600);
  EXPECT_EQ(dlg->caption(), "Instrument");
  EXPECT_EQ(dlg->scaleWidth(), 7200);
  EXPECT_EQ(dlg->scaleHeight(), 3600);
  tk::Frame& frame = dlg->addFrame(nullptr);
  frame.move(120, 120, 6960, 1200);
  tk::TextField& address = dlg->addTextField(&frame);
  address.move(120, 240, 4800, 360);
  tk::DropDown& role = dlg->addDropDown(nullptr);
  role.move(120, 1500, 3000, 360);
  tk::CheckBox& logged = dlg->addCheckBox(nullptr);
  logged.move(3300, 1500, 3000, 360);
  tk::CommandButton& ok = dlg->addButton(nullptr);
  ok.move(3600, 3000, 1500, 420);
  tk::CommandButton& cancel = dlg->addButton(nullptr);
  cancel.move(5400, 3000, 1500, 420);
  int changes = 0;
  int picks = 0;
  int marks = 0;
  int closed = 0;
  address.onChange = [&] { ++changes; };
  role.onChange = [&] { ++picks; };
  logged.onClick = [&] { ++marks; };
  ok.onClick = [&] { this->log.push_back("ok"); };
  cancel.onClick = [&] { this->log.push_back("cancel"); };
  dlg->onClose = [&] { ++closed; };
  ok.setDefault(true);
  cancel.setCancel(true);

  // What the logic sets notifies nobody.
  address.setText("TCPIP::10.0.0.5");
  for (const char* r : {"Generator", "Counter", "Power meter"}) role.addItem(r);
  role.setListIndex(0);
  logged.setCaption("Log the session");
  logged.setChecked(true);
  EXPECT_EQ(address.text(), "TCPIP::10.0.0.5");
  EXPECT_EQ(role.listCount(), 3);
  EXPECT_EQ(role.itemText(1), "Counter");
  EXPECT_EQ(role.listIndex(), 0);
  EXPECT_THROW(role.setListIndex(3), std::out_of_range);
  EXPECT_EQ(logged.caption(), "Log the session");
  EXPECT_TRUE(logged.checked());
  EXPECT_EQ(changes + picks + marks, 0);

  EXPECT_FALSE(dlg->isShown());
  this->d.show(*dlg);
  EXPECT_TRUE(dlg->isShown());
  EXPECT_TRUE(this->win->isShown());

  // Not modal: timers tick and posted calls run while it is open.
  int ticks = 0;
  bool posted = false;
  auto timer = kit.createTimer();
  timer->onTick = [&] { ++ticks; };
  timer->setInterval(10);
  timer->setEnabled(true);
  kit.post([&] { posted = true; });
  EXPECT_TRUE(this->runUntil([&] { return ticks >= 2 && posted; }));

  // What the user does notifies the logic.
  this->d.type(address, "::5025");
  EXPECT_EQ(address.text(), "TCPIP::10.0.0.5::5025");
  EXPECT_GE(changes, 1);
  this->d.pick(role, 2);
  EXPECT_EQ(role.listIndex(), 2);
  EXPECT_GE(picks, 1);
  this->d.toggle(logged);
  EXPECT_FALSE(logged.checked());
  EXPECT_EQ(marks, 1);

  // Return clicks the default button, Escape the cancel button, or closes the dialog.
  address.setFocus();
  this->d.press(*dlg, Key::Enter);
  this->d.press(*dlg, Key::Escape);
  EXPECT_EQ(this->log, (std::vector<std::string>{"ok", "cancel"}));
  EXPECT_TRUE(dlg->isShown());
  cancel.setCancel(false);
  this->d.press(*dlg, Key::Escape);
  EXPECT_FALSE(dlg->isShown());
  EXPECT_EQ(closed, 1);
  dlg->close();
  EXPECT_EQ(closed, 1) << "closed already";
  this->d.show(*dlg);
  this->d.closeBox(*dlg);
  EXPECT_FALSE(dlg->isShown());
  EXPECT_EQ(closed, 2);
}

TYPED_TEST(ToolkitContract, TheSessionsEndRunsOnEndSessionOnce) {
  int ended = 0;
  this->win->onEndSession = [&] { ++ended; };
  this->d.show(*this->win);
  this->d.endSession(*this->win);
  this->d.endSession(*this->win);
  EXPECT_EQ(ended, 1);
}

TYPED_TEST(ToolkitContract, DeviceNoticesRunFromTheLoopAsOneCall) {
  int notices = 0;
  this->kit.onDevicesChanged = [&] { ++notices; };
  this->d.show(*this->win);
  if (!this->d.devicesChanged(*this->win)) GTEST_SKIP() << "this system gives the toolkit no device notices";
  this->d.devicesChanged(*this->win);
  EXPECT_EQ(notices, 0) << "not inside the system's notice";
  EXPECT_TRUE(this->runUntil([&] { return notices > 0; }));
  EXPECT_EQ(notices, 1);
}

TYPED_TEST(ToolkitContract, ProgrammingErrorsInNotificationsReachTheFatalHandler) {
  tk::CommandButton& button = this->win->addButton(nullptr);
  button.onClick = [] { throw std::out_of_range("Index outside the table"); };
  std::string fatal;
  this->kit.setFatalHandler([&](const std::exception& e) { fatal = e.what(); });
  this->d.show(*this->win);
  this->d.click(button);
  EXPECT_EQ(fatal, "Index outside the table");
}

// ---------------------------------------------------------------- the loop

TYPED_TEST(ToolkitContract, TimersTickWhileEnabledWithAnIntervalAndQuitEndsTheLoop) {
  tk::Toolkit& kit = this->kit;
  auto timer = kit.createTimer();
  int ticks = 0;
  timer->onTick = [&] {
    if (++ticks == 3) kit.quit(9);
  };
  timer->setInterval(10);
  EXPECT_FALSE(timer->enabled());
  EXPECT_EQ(timer->interval(), 10);
  int idleTicks = 0;
  auto idle = kit.createTimer();  // never enabled
  idle->setInterval(5);
  idle->onTick = [&] { ++idleTicks; };
  auto zero = kit.createTimer();  // enabled without an interval
  zero->onTick = [&] { ++idleTicks; };
  zero->setEnabled(true);
  int onceTicks = 0;
  std::unique_ptr<tk::Timer> once = kit.createTimer();  // destroys itself in its first tick
  once->onTick = [&] {
    ++onceTicks;
    once.reset();
  };
  once->setInterval(1);
  once->setEnabled(true);
  timer->setEnabled(true);
  EXPECT_EQ(this->d.run(), 9);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(idleTicks, 0);
  EXPECT_EQ(onceTicks, 1);

  kit.quit(4);
  EXPECT_EQ(this->d.run(), 4) << "a quit before the loop ends it at once";
}

TYPED_TEST(ToolkitContract, AWatchRunsWhenItsWaitableIsReadyAndMayEndItself) {
  tk::Toolkit& kit = this->kit;
  testing::TestSignal ready;
  testing::TestSignal never;
  int runs = 0;
  int neverRuns = 0;
  std::unique_ptr<tk::Watch> watch = kit.watch(ready.waitable(), [&] {
    ready.clear();
    if (++runs == 2) {
      watch.reset();  // as the serial host does when its port closed itself
      kit.quit(5);
    }
  });
  auto quiet = kit.watch(never.waitable(), [&] { ++neverRuns; });
  auto raiser = kit.createTimer();
  raiser->onTick = [&] { ready.raise(); };
  raiser->setInterval(20);
  raiser->setEnabled(true);
  EXPECT_EQ(this->d.run(), 5);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(neverRuns, 0);
  EXPECT_EQ(watch, nullptr);
}

TYPED_TEST(ToolkitContract, PostedCallsRunAfterTheCallerInOrderAndOneRoundAtATime) {
  tk::Toolkit& kit = this->kit;
  std::vector<std::string>& order = this->log;
  tk::CommandButton& button = this->win->addButton(nullptr);
  button.onClick = [&] {
    kit.post([&] {
      order.push_back("a");
      kit.post([&] { order.push_back("c"); });
    });
    kit.post([&] { order.push_back("b"); });
    order.push_back("click done");
  };
  this->d.show(*this->win);
  this->d.click(button);
  EXPECT_EQ(order, std::vector<std::string>{"click done"}) << "never inside the caller";

  // A call that posts itself again and again starves neither the timers nor the rest.
  int spins = 0;
  std::function<void()> spin = [&] {
    ++spins;
    kit.post(spin);
  };
  kit.post(spin);
  auto timer = kit.createTimer();
  timer->onTick = [&] { kit.quit(2); };
  timer->setInterval(20);
  timer->setEnabled(true);
  EXPECT_EQ(this->d.run(), 2);
  EXPECT_EQ(order, (std::vector<std::string>{"click done", "a", "b", "c"}));
  EXPECT_GT(spins, 1);
}

// ---------------------------------------------------------------- boxes

TYPED_TEST(ToolkitContract, ABoxHoldsTimersWatchesAndPostedCallsUntilItCloses) {
  tk::Toolkit& kit = this->kit;
  this->d.show(*this->win);
  testing::TestSignal signal;
  int ticks = 0;
  int watchRuns = 0;
  int postedRuns = 0;
  auto watch = kit.watch(signal.waitable(), [&] {
    signal.clear();
    ++watchRuns;
  });
  struct Seen {
    bool modal = false;
    int ticks = -1;
    int watchRuns = -1;
    int postedRuns = -1;
  } seen;
  std::int16_t answer = 0;
  auto timer = kit.createTimer();
  timer->setInterval(10);
  timer->onTick = [&] {
    if (++ticks == 3) {
      kit.post([&] { ++postedRuns; });
      signal.raise();
      this->d.playNextBox({[&] { seen = {kit.modalActive(), ticks, watchRuns, postedRuns}; }});
      answer = kit.messageBox("Line one\r\nLine two", "Tarnset ADJ Rev.1.2",
                              "Port: COM1\r\nNext step: plug it in");
      EXPECT_FALSE(kit.modalActive());
    }
    if (ticks >= 6 && watchRuns > 0 && postedRuns > 0) kit.quit(7);
  };
  timer->setEnabled(true);
  EXPECT_EQ(this->d.run(), 7);
  EXPECT_EQ(answer, 1);
  const BoxSeen& box = this->d.lastBox();
  ASSERT_TRUE(box.found);
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.ticks, 3) << "no tick while the box is open";
  EXPECT_EQ(seen.watchRuns, 0) << "the ready watch waited for the box";
  EXPECT_EQ(seen.postedRuns, 0) << "the posted call waited for the box";
  EXPECT_EQ(box.title, "Tarnset ADJ Rev.1.2");
  EXPECT_EQ(box.lines,
            (std::vector<std::string>{"Line one", "Line two", "Port: COM1", "Next step: plug it in"}))
      << "the details below the text, in the same box";
}

TYPED_TEST(ToolkitContract, QuestionAndChoiceBoxesAnswerAsTheUserDid) {
  tk::Toolkit& kit = this->kit;
  this->d.show(*this->win);
  const std::vector<std::pair<Reply, bool>> questions{
      {Reply::Ok, true}, {Reply::Cancel, false}, {Reply::Escape, false}, {Reply::CloseBox, false}};
  for (const auto& [reply, expected] : questions) {
    bool modal = false;
    this->d.playNextBox({[&] { modal = kit.modalActive(); }, reply});
    EXPECT_EQ(kit.askOkCancel("Write the report?", "Tarnset ADJ Rev.1.2", "File: report.pdf"), expected);
    EXPECT_TRUE(this->d.lastBox().found);
    EXPECT_TRUE(modal);
  }
  EXPECT_EQ(this->d.lastBox().lines, (std::vector<std::string>{"Write the report?", "File: report.pdf"}));

  const std::vector<std::string> ports{"COM 1", "COM 2 (USB serial adapter)", "COM 7"};
  this->d.playNextBox({nullptr, Reply::Ok, 1});
  EXPECT_EQ(kit.askChoice("No radio answered on COM 3.\r\nUse this adapter as COM 3?", "Tarnset ADJ Rev.1.2",
                          "The adapters found:", ports),
            1);
  const BoxSeen& box = this->d.lastBox();
  EXPECT_EQ(box.choices, ports);
  EXPECT_EQ(box.lines, (std::vector<std::string>{"No radio answered on COM 3.", "Use this adapter as COM 3?",
                                                 "The adapters found:"}));
  for (const Reply r : {Reply::Cancel, Reply::Escape, Reply::CloseBox}) {
    this->d.playNextBox({nullptr, r, 2});
    EXPECT_EQ(kit.askChoice("Use this adapter?", "T", "", ports), -1);
    EXPECT_TRUE(this->d.lastBox().found);
  }
  EXPECT_EQ(kit.askChoice("Nothing to choose", "T", "", {}), -1);
  EXPECT_FALSE(kit.modalActive());
}

}  // namespace
}  // namespace tarnset::contract
