// The in-memory toolkit: what it records (messages, questions, file dialogs), how it
// plays the user's part, its timers by a manual clock and its real poll() loop.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "support/TempDir.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset {
namespace {

namespace Key = tk::Key;

class HeadlessToolkitTest : public ::testing::Test {
 protected:
  ManualTickSource clock{1000};
  HeadlessToolkit kit{clock};
  std::unique_ptr<tk::MainWindow> win = kit.createMainWindow();
  std::vector<std::string> log;
};

TEST_F(HeadlessToolkitTest, RecordsWindowGeometryAndMeasuresLabelsInCharacterCells) {
  win->move(100, 200, 9525, 6600);
  EXPECT_EQ(win->width(), 9525);
  EXPECT_EQ(win->scaleWidth(), 9525 - headless::kNonClientWidth);
  EXPECT_EQ(win->scaleHeight(), 6600 - headless::kNonClientHeight);
  EXPECT_EQ(kit.screenWidth(), 19200);
  EXPECT_EQ(kit.twipsPerPixelY(), 15);

  tk::Frame& frame = win->addFrame(nullptr);
  tk::Label& label = win->addLabel(&frame);
  label.setCaption("Tarnset\r\nAdjust Utility\r\n");
  EXPECT_EQ(label.width(), 14 * 120);
  EXPECT_EQ(label.height(), 3 * 240);  // the trailing CR LF starts an empty third line
  label.move(500, 240, 1, 1);          // the size keeps following the caption
  EXPECT_EQ(label.left(), 500);
  EXPECT_EQ(label.width(), 14 * 120);
  EXPECT_EQ(kit.labels().front()->parent(), &frame);
  label.setTip("Device: /dev/ttyUSB0");  // a tip does not take room
  EXPECT_EQ(label.tip(), "Device: /dev/ttyUSB0");
  EXPECT_EQ(label.width(), 14 * 120);
}

TEST_F(HeadlessToolkitTest, ListBoxKeepsSelectionOnTextChangesAndRefusesBadIndexes) {
  tk::ListBox& list = win->addListBox(nullptr);
  for (const char* s : {"a", "b", "c"}) list.addItem(s);
  list.setListIndex(1);
  list.setItemText(1, "B");
  EXPECT_EQ(list.listIndex(), 1);
  EXPECT_EQ(list.itemText(1), "B");
  EXPECT_THROW(list.setItemText(3, "x"), std::out_of_range);
  EXPECT_THROW(list.itemText(-1), std::out_of_range);
  EXPECT_THROW(list.setListIndex(3), std::out_of_range);
  list.setListIndex(-1);
  EXPECT_EQ(list.listIndex(), -1);
  list.setListIndex(2);
  list.clear();
  EXPECT_EQ(list.listCount(), 0);
  EXPECT_EQ(list.listIndex(), -1);
}

TEST_F(HeadlessToolkitTest, MenuItemsAreFoundByCaptionPathAndChosen) {
  tk::Menu& option = win->addMenu("&Option");
  tk::Menu& port = option.addSubMenu("&Port");
  tk::MenuItem& com3 = port.addItem("COM &3");
  com3.onClick = [&] { log.push_back("com3"); };
  com3.setTip("/dev/ttyUSB0");

  EXPECT_EQ(&kit.menuItem("&Option/&Port/COM &3"), &com3);
  EXPECT_EQ(&kit.menuItem("Option/Port/COM 3"), &com3);
  EXPECT_THROW(kit.menuItem("&Option/COM &3"), std::out_of_range);
  EXPECT_THROW(kit.menuItem("&File/E&xit"), std::out_of_range);

  option.onAboutToShow = [&] { log.push_back("option opens"); };
  port.onAboutToShow = [&] { log.push_back("port opens"); };
  kit.openMenu("&Option");
  EXPECT_EQ(log, std::vector<std::string>{"option opens"});
  EXPECT_THROW(kit.openMenu("&Option/&Speed"), std::out_of_range);
  log.clear();
  kit.chooseMenu("&Option/&Port/COM &3");
  EXPECT_EQ(log, (std::vector<std::string>{"option opens", "port opens", "com3"})) << "opened on the way";
  EXPECT_FALSE(com3.checked());  // choosing does not set the mark: the logic does
  EXPECT_EQ(kit.menuItem("&Option/&Port/COM &3").tip(), "/dev/ttyUSB0");
}

TEST_F(HeadlessToolkitTest, KeyPreviewRunsFirstAndConsumingStopsTheKey) {
  tk::ListBox& list = win->addListBox(nullptr);
  for (const char* s : {"a", "b", "c"}) list.addItem(s);
  win->onKeyDown = [&](std::int16_t& code, std::int16_t shift) {
    log.push_back("window " + std::to_string(code) + "/" + std::to_string(shift));
    if (code == Key::F5) code = 0;
  };
  list.onKeyDown = [&](std::int16_t& code, std::int16_t) {
    log.push_back("list " + std::to_string(code));
    if (code == Key::Right) code = 0;
  };

  EXPECT_FALSE(kit.pressKey(list, Key::F5, 0));
  EXPECT_FALSE(kit.pressKey(list, Key::Right, tk::kShiftBit));
  EXPECT_TRUE(kit.pressKey(list, Key::Down, 0));
  EXPECT_EQ(log,
            (std::vector<std::string>{"window 116/0", "window 39/1", "list 39", "window 40/0", "list 40"}));
  EXPECT_EQ(list.listIndex(), 0);  // from no selection, Down selects the first line
}

TEST_F(HeadlessToolkitTest, UnconsumedNavigationKeysMoveTheListSelectionWithinBounds) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 5 * 240);  // five visible lines: a page moves four
  for (int i = 0; i < 10; ++i) list.addItem("line " + std::to_string(i));
  kit.pressKey(list, Key::Up);
  EXPECT_EQ(list.listIndex(), 0);
  kit.pressKey(list, Key::Up);
  EXPECT_EQ(list.listIndex(), 0);
  kit.pressKey(list, Key::PageDown);
  EXPECT_EQ(list.listIndex(), 4);
  kit.pressKey(list, Key::End);
  EXPECT_EQ(list.listIndex(), 9);
  kit.pressKey(list, Key::Down);
  EXPECT_EQ(list.listIndex(), 9);
  kit.pressKey(list, Key::PageUp);
  EXPECT_EQ(list.listIndex(), 5);
  kit.pressKey(list, Key::Home);
  EXPECT_EQ(list.listIndex(), 0);
  kit.pressKey(list, Key::Left);  // not a navigation key of a list
  EXPECT_EQ(list.listIndex(), 0);
}

TEST_F(HeadlessToolkitTest, ReturnAndEscapeClickTheDefaultAndCancelButtonsWhileReachable) {
  tk::Frame& frame = win->addFrame(nullptr);
  tk::ListBox& list = win->addListBox(nullptr);
  tk::CommandButton& a = win->addButton(&frame);
  tk::CommandButton& b = win->addButton(&frame);
  a.onClick = [&] { log.push_back("a"); };
  b.onClick = [&] { log.push_back("b"); };
  a.setDefault(true);
  b.setDefault(true);  // one default button at a time
  EXPECT_FALSE(a.isDefault());
  a.setCancel(true);

  kit.pressKey(list, Key::Enter);
  kit.pressKey(list, Key::Escape);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));

  frame.setVisible(false);  // buttons in a hidden frame take no keys
  kit.pressKey(list, Key::Enter);
  frame.setVisible(true);
  b.setEnabled(false);
  kit.pressKey(list, Key::Enter);
  EXPECT_EQ(log.size(), 2u);

  list.onKeyDown = [](std::int16_t& code, std::int16_t) { code = 0; };
  b.setEnabled(true);
  kit.pressKey(list, Key::Enter);  // consumed by the list: the default button stays quiet
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(HeadlessToolkitTest, ClicksReachOnlyShownEnabledButtonsAndTakeTheFocus) {
  tk::Frame& frame = win->addFrame(nullptr);
  tk::CommandButton& button = win->addButton(&frame);
  int clicks = 0;
  button.onClick = [&] { ++clicks; };
  button.setEnabled(false);
  EXPECT_FALSE(kit.click(button));
  button.setEnabled(true);
  frame.setVisible(false);
  EXPECT_FALSE(kit.click(button));
  EXPECT_FALSE(kit.typeChar(button, 'x'));
  frame.setVisible(true);
  EXPECT_TRUE(kit.click(button));
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(button.hasFocus());

  std::string typed;
  button.onKeyPress = [&](char c) { typed += c; };
  kit.typeChar(button, 'k');
  kit.pressKey(button, Key::Space);
  EXPECT_EQ(typed, "k");
  EXPECT_EQ(clicks, 2);
}

TEST_F(HeadlessToolkitTest, FocusIsSingleAndMovesOnWhenItsControlIsHidden) {
  tk::Frame& panel = win->addFrame(nullptr);
  tk::ListBox& console = win->addListBox(&panel);
  tk::CommandButton& first = win->addButton(nullptr);
  tk::TextPane& pane = win->addTextPane(nullptr);
  int gotFocus = 0;
  console.onGotFocus = [&] { ++gotFocus; };

  console.setFocus();
  console.setFocus();  // already focused: no second notification
  EXPECT_EQ(gotFocus, 1);
  first.setFocus();
  EXPECT_FALSE(console.hasFocus());
  EXPECT_TRUE(first.hasFocus());

  first.moveToEndOfTabOrder();
  auto* w = kit.window();
  EXPECT_EQ(w->tabOrder(), (std::vector<tk::FocusControl*>{&console, &pane, &first}));
  pane.setTabStop(false);
  first.setVisible(false);  // the focus goes to the next tab stop: around to the console
  EXPECT_EQ(w->focused(), &console);
  EXPECT_EQ(gotFocus, 2);

  panel.setVisible(false);  // nothing else can take it
  EXPECT_EQ(w->focused(), nullptr);
  console.setFocus();
  EXPECT_EQ(w->focused(), nullptr);

  panel.setVisible(true);
  first.setVisible(true);
  console.setFocus();
  kit.pressKey(Key::Tab);  // to the focused control: the pane is no tab stop
  EXPECT_EQ(w->focused(), &first);
}

TEST_F(HeadlessToolkitTest, ResizeShowAndCloseRunTheWindowNotifications) {
  win->onResize = [&] { log.push_back("resize " + std::to_string(win->scaleWidth())); };
  win->onQueryUnload = [&] { log.push_back("query"); };
  win->onUnload = [&] {
    log.push_back("unload");
    kit.quit(0);
  };
  win->move(0, 0, 9525, 8000);  // hidden: the resize waits for show()
  EXPECT_TRUE(log.empty());
  win->show();
  kit.resize(8000, 6000);
  kit.resize(8000, 6000);  // same size: nothing
  kit.closeWindow();
  kit.closeWindow();
  EXPECT_EQ(log, (std::vector<std::string>{"resize 9405", "resize 8000", "query", "unload"}));
  EXPECT_FALSE(win->isShown());
  EXPECT_TRUE(kit.quitCalled());
}

TEST_F(HeadlessToolkitTest, MessageBoxesAreRecordedAndModalWhileShown) {
  bool modalDuring = false;
  kit.setMessageBoxHook([&](const HeadlessToolkit::Message& m) {
    modalDuring = kit.modalActive();
    log.push_back(m.text);
  });
  EXPECT_EQ(kit.messageBox("Cannot read 'Const.ini'.", "Tarnset ADJ Rev.1.2", "Looked for: /x/Const.ini"), 1);
  EXPECT_TRUE(modalDuring);
  EXPECT_FALSE(kit.modalActive());
  ASSERT_EQ(kit.messages().size(), 1u);
  EXPECT_EQ(kit.messages()[0].title, "Tarnset ADJ Rev.1.2");
  EXPECT_EQ(kit.messages()[0].details, "Looked for: /x/Const.ini");
  kit.beep();
  kit.beep();
  EXPECT_EQ(kit.beeps(), 2);
}

TEST_F(HeadlessToolkitTest, QuestionBoxesAreRecordedApartFromMessagesAndAnsweredByTheHook) {
  EXPECT_TRUE(kit.askOkCancel("Replace the report?", "Tarnset ADJ Rev.1.2", ""));  // no hook: OK
  bool modalDuring = false;
  kit.setQuestionHook([&](const HeadlessToolkit::Message& q) {
    modalDuring = kit.modalActive();
    return q.text != "Overwrite?";
  });
  EXPECT_FALSE(kit.askOkCancel("Overwrite?", "Save", "File: /tmp/a.pdf"));
  EXPECT_TRUE(modalDuring);
  EXPECT_FALSE(kit.modalActive());
  EXPECT_TRUE(kit.askOkCancel("Write?", "Save", ""));

  ASSERT_EQ(kit.questions().size(), 3u);
  EXPECT_EQ(kit.questions()[0].text, "Replace the report?");
  EXPECT_EQ(kit.questions()[1].title, "Save");
  EXPECT_EQ(kit.questions()[1].details, "File: /tmp/a.pdf");
  EXPECT_TRUE(kit.messages().empty());
  kit.clearQuestions();
  EXPECT_TRUE(kit.questions().empty());
}

TEST_F(HeadlessToolkitTest, SaveDialogsAreRecordedAndCancelledUnlessTheHookChooses) {
  const std::vector<tk::FileFilter> filters{{"PDF document", {"*.pdf"}}, {"Web page", {"*.html"}}};
  EXPECT_EQ(kit.chooseSaveFile("Save report", "/home/tech/report.pdf", filters), "");  // no hook: cancelled

  bool modalDuring = false;
  kit.setFileChooserHook([&](const HeadlessToolkit::FileRequest& r) {
    modalDuring = kit.modalActive();
    return r.filters.size() == 2 ? "/home/tech/bench-42.pdf" : "";
  });
  EXPECT_EQ(kit.chooseSaveFile("Save report", "/home/tech/report.pdf", filters), "/home/tech/bench-42.pdf");
  EXPECT_TRUE(modalDuring);
  EXPECT_FALSE(kit.modalActive());

  ASSERT_EQ(kit.fileRequests().size(), 2u);
  const HeadlessToolkit::FileRequest& r = kit.fileRequests()[1];
  EXPECT_EQ(r.title, "Save report");
  EXPECT_EQ(r.suggestedPath, "/home/tech/report.pdf");
  EXPECT_EQ(r.filters, filters);
  kit.clearFileRequests();
  EXPECT_TRUE(kit.fileRequests().empty());
}

TEST_F(HeadlessToolkitTest, WritePdfRefusesWithAReasonAndWritesNothing) {
  const testing::TempDir folder;
  const std::string path = folder.path("report.pdf");
  std::string why;
  EXPECT_FALSE(kit.canWritePdf());
  EXPECT_FALSE(kit.writePdf("<html><body><h1>Report</h1></body></html>", path, why));
  EXPECT_EQ(why, "PDF output is not available in this program");
  EXPECT_TRUE(std::filesystem::is_empty(folder.dir())) << "nothing written";
}

TEST_F(HeadlessToolkitTest, DisabledMenuItemsAreFoundButNotChosen) {
  tk::Menu& file = win->addMenu("&File");
  tk::MenuItem& save = file.addItem("&Save report...");
  file.addSeparator();
  file.addItem("E&xit");
  save.onClick = [&] { log.push_back("save"); };
  EXPECT_TRUE(save.enabled());

  save.setEnabled(false);
  EXPECT_EQ(&kit.menuItem("File/Save report..."), &save);
  EXPECT_FALSE(kit.chooseMenu("&File/&Save report..."));
  EXPECT_TRUE(log.empty());

  // The menu brings its items up to date as it opens: that decides.
  file.onAboutToShow = [&] { save.setEnabled(true); };
  EXPECT_TRUE(kit.chooseMenu("&File/&Save report..."));
  file.onAboutToShow = [&] { save.setEnabled(false); };
  EXPECT_FALSE(kit.chooseMenu("&File/&Save report..."));
  EXPECT_EQ(log, std::vector<std::string>{"save"});

  EXPECT_EQ(kit.window()->menus().front()->captions(),
            (std::vector<std::string>{"&Save report...", headless::Menu::kSeparator, "E&xit"}));
}

TEST_F(HeadlessToolkitTest, ProgrammingErrorsInNotificationsReachTheFatalHandler) {
  tk::CommandButton& button = win->addButton(nullptr);
  button.onClick = [] { throw std::overflow_error("Overflow"); };
  EXPECT_THROW(kit.click(button), std::overflow_error);  // without a handler the driver sees it

  std::string fatal;
  kit.setFatalHandler([&](const std::exception& e) { fatal = e.what(); });
  EXPECT_TRUE(kit.click(button));
  EXPECT_EQ(fatal, "Overflow");
}

TEST_F(HeadlessToolkitTest, TimersFireOncePerRoundInCreationOrderByTheClock) {
  auto slow = kit.createTimer();
  auto fast = kit.createTimer();
  slow->onTick = [&] { log.push_back("slow"); };
  fast->onTick = [&] { log.push_back("fast"); };
  slow->setInterval(100);
  fast->setInterval(50);
  fast->setEnabled(true);
  EXPECT_EQ(kit.runDueTimers(), 0);  // slow is disabled, fast not yet due
  slow->setEnabled(true);
  clock.advance(49);
  EXPECT_EQ(kit.runDueTimers(), 0);
  EXPECT_EQ(kit.msToNextTimer(), 1);
  clock.advance(151);  // both overdue: each fires once
  EXPECT_EQ(kit.runDueTimers(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"slow", "fast"}));
  EXPECT_EQ(kit.runDueTimers(), 0);  // counted again from the last firing

  fast->setInterval(0);  // no interval, no ticks
  clock.advance(100);
  EXPECT_EQ(kit.runDueTimers(), 1);
  EXPECT_THROW(fast->setInterval(-1), std::out_of_range);
}

TEST_F(HeadlessToolkitTest, TimersSurviveTheTickWrapAndTimersDestroyedByATick) {
  clock.set(2147483600);
  auto first = kit.createTimer();
  auto second = kit.createTimer();
  first->setInterval(50);
  second->setInterval(50);
  first->setEnabled(true);
  second->setEnabled(true);
  int secondTicks = 0;
  second->onTick = [&] { ++secondTicks; };
  first->onTick = [&] { second.reset(); };
  clock.advance(60);  // the count passes from its largest value to a negative one
  EXPECT_EQ(kit.runDueTimers(), 1);
  EXPECT_EQ(secondTicks, 0);
}

}  // namespace
}  // namespace tarnset
