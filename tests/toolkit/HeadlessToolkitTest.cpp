// The in-memory toolkit's own part (the contract suite covers what every toolkit does):
// what it records (messages, questions, choices, file dialogs), how it plays the user's
// part (menu paths, the default handling of keys, typing, picks, dialogs) and its
// simulated screen.
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
  EXPECT_EQ(kit.labels().front()->parentFrame(), &frame);
  label.setTip("Device: /dev/ttyUSB0");  // a tip does not take room
  EXPECT_EQ(label.tip(), "Device: /dev/ttyUSB0");
  EXPECT_EQ(label.width(), 14 * 120);
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

TEST_F(HeadlessToolkitTest, UnconsumedNavigationKeysMoveTheListSelectionWithinBounds) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 5 * 240);  // five visible lines: a page moves four
  for (int i = 0; i < 10; ++i) list.addItem("line " + std::to_string(i));
  kit.pressKey(list, Key::Up);
  EXPECT_EQ(list.listIndex(), 0) << "without a selection, any of these keys selects the first line";
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
  kit.pressKey(button, Key::F5);  // types nothing
  EXPECT_EQ(typed, "k ");
  EXPECT_EQ(clicks, 2);
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

TEST_F(HeadlessToolkitTest, ChoiceBoxesAreRecordedAndAnsweredByTheHook) {
  const std::vector<std::string> ports{"COM 1", "COM 7"};
  EXPECT_EQ(kit.askChoice("Use this adapter?", "Tarnset ADJ Rev.1.2", "", ports), 0) << "no hook: OK";
  bool modalDuring = false;
  kit.setChoiceHook([&](const HeadlessToolkit::ChoiceRequest& r) {
    modalDuring = kit.modalActive();
    return r.details.empty() ? 1 : 5;  // 5 is no entry: as cancelled
  });
  EXPECT_EQ(kit.askChoice("Use this adapter?", "T", "", ports), 1);
  EXPECT_TRUE(modalDuring);
  EXPECT_EQ(kit.askChoice("Use this adapter?", "T", "COM 7 is USB", ports), -1);
  EXPECT_EQ(kit.askChoice("Nothing", "T", "", {}), -1);
  ASSERT_EQ(kit.choiceRequests().size(), 3u) << "an empty list shows no box";
  EXPECT_EQ(kit.choiceRequests()[2].details, "COM 7 is USB");
  EXPECT_EQ(kit.choiceRequests()[1].choices, ports);
  kit.clearChoiceRequests();
  EXPECT_TRUE(kit.choiceRequests().empty());
}

TEST_F(HeadlessToolkitTest, DialogControlsTakeTypingPicksAndKeysOnlyWhileTheDialogIsShown) {
  auto dlg = kit.createDialog();
  tk::TextField& field = dlg->addTextField(nullptr);
  tk::DropDown& box = dlg->addDropDown(nullptr);
  tk::CheckBox& mark = dlg->addCheckBox(nullptr);
  for (const char* s : {"a", "b", "c"}) box.addItem(s);
  int changes = 0;
  field.onChange = [&] { ++changes; };
  EXPECT_FALSE(kit.typeText(field, "x")) << "closed";
  EXPECT_FALSE(kit.pick(box, 1));
  EXPECT_FALSE(kit.click(mark));
  EXPECT_FALSE(kit.pressKey(*dlg, Key::Escape));
  ASSERT_EQ(kit.dialogs().size(), 1u);

  dlg->show();
  EXPECT_TRUE(kit.typeText(field, "COM7"));
  EXPECT_EQ(changes, 4) << "one change a character";
  kit.pressKey(field, Key::Backspace);
  EXPECT_EQ(field.text(), "COM");
  EXPECT_FALSE(kit.pick(box, 3)) << "no such entry";
  kit.pick(box, 1);
  kit.pressKey(box, Key::Down);
  EXPECT_EQ(box.listIndex(), 2);
  kit.pressKey(box, Key::Down);  // the last one stays
  kit.pressKey(box, Key::Up);
  EXPECT_EQ(box.listIndex(), 1);
  kit.pressKey(mark, Key::Space);
  EXPECT_TRUE(mark.checked());
  kit.closeDialog(*dlg);
  EXPECT_FALSE(dlg->isShown());
  dlg.reset();
  EXPECT_TRUE(kit.dialogs().empty());
}

}  // namespace
}  // namespace tarnset
