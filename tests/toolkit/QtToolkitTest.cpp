// The Qt toolkit on the offscreen platform: the window and its widgets, the twips
// conversion, key routing with preview and consuming, default and cancel buttons,
// timers, descriptor watches, message boxes and the fatal-error guard.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/qt/QtToolkit.h"

namespace tarnset {
namespace {

namespace Key = tk::Key;

QApplication& application() {
  static int argc = 1;
  static char name[] = "test_toolkit_qt";
  static char* argv[] = {name, nullptr};
  static auto* app = new QApplication(argc, argv);
  return *app;
}

template <class W>
W* widget(tk::Control& c) {
  return qobject_cast<W*>(QtToolkit::widgetOf(c));
}

class QtToolkitTest : public ::testing::Test {
 protected:
  QMainWindow* mainWidget() { return qobject_cast<QMainWindow*>(QtToolkit::widgetOf(*win)); }

  void showActive() {
    win->show();
    mainWidget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(mainWidget()));
  }

  // Records every key the window's preview and the list's handler see.
  void logKeys(tk::ListBox& list) {
    win->onKeyDown = [this](std::int16_t& code, std::int16_t shift) {
      log.push_back("window " + std::to_string(code) + "/" + std::to_string(shift));
    };
    list.onKeyDown = [this](std::int16_t& code, std::int16_t shift) {
      log.push_back("list " + std::to_string(code) + "/" + std::to_string(shift));
      if (consumeInList) code = 0;
    };
  }

  QApplication& app = application();  // before the toolkit, which needs it
  QtToolkit kit;
  std::unique_ptr<tk::MainWindow> win = kit.createMainWindow();
  std::vector<std::string> log;
  bool consumeInList = false;
};

TEST_F(QtToolkitTest, WindowComesUpWithItsCaptionMenusAndControls) {
  win->setCaption("Tarnset ADJ Rev.1.2");
  win->addMenu("&File").addItem("E&xit");
  tk::Menu& port = win->addMenu("&Option").addSubMenu("&Port");
  std::vector<tk::MenuItem*> coms;
  for (const char* c : {"COM &1", "COM &2", "COM &3"}) coms.push_back(&port.addItem(c));
  coms[1]->setTip("/dev/ttyUSB0");
  tk::CommandButton& connect = win->addButton(nullptr);
  connect.setCaption("Connect");
  tk::ListBox& list = win->addListBox(nullptr);
  list.addItem("[A/D]");
  showActive();

  QMainWindow* mw = mainWidget();
  EXPECT_EQ(mw->windowTitle(), QStringLiteral("Tarnset ADJ Rev.1.2"));
  const auto top = mw->menuBar()->actions();
  ASSERT_EQ(top.size(), 2);
  EXPECT_EQ(top[0]->text(), QStringLiteral("&File"));
  QMenu* option = top[1]->menu();
  ASSERT_NE(option, nullptr);
  QMenu* portMenu = option->actions().at(0)->menu();
  ASSERT_NE(portMenu, nullptr);
  EXPECT_EQ(portMenu->actions().at(2)->text(), QStringLiteral("COM &3"));
  EXPECT_EQ(QtToolkit::actionOf(*coms[1])->toolTip(), QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(QtToolkit::actionOf(*coms[1])->statusTip(), QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(widget<QPushButton>(connect)->text(), QStringLiteral("Connect"));
  EXPECT_EQ(widget<QListWidget>(list)->item(0)->text(), QStringLiteral("[A/D]"));
  EXPECT_TRUE(widget<QPushButton>(connect)->isVisible());
}

TEST_F(QtToolkitTest, ChoosingAMenuItemCallsTheLogicWhichAloneSetsTheMarks) {
  tk::Menu& port = win->addMenu("&Option").addSubMenu("&Port");
  tk::MenuItem& com1 = port.addItem("COM &1");
  tk::MenuItem& com3 = port.addItem("COM &3");
  com1.setChecked(true);  // port 1 at start, then port 3 chosen
  com3.setChecked(true);
  com1.setChecked(false);
  com1.onClick = [&] { log.push_back("com1"); };
  QtToolkit::actionOf(com1)->trigger();
  EXPECT_EQ(log, std::vector<std::string>{"com1"});
  EXPECT_FALSE(QtToolkit::actionOf(com1)->isChecked());
  EXPECT_TRUE(QtToolkit::actionOf(com3)->isChecked());  // not an exclusive group
  EXPECT_TRUE(com3.checked());

  // Opening the menu tells the logic first, so that it can bring the tips up to date.
  port.onAboutToShow = [&] { com3.setTip("/dev/ttyUSB3"); };
  auto* menu = qobject_cast<QMenu*>(QtToolkit::actionOf(com3)->parent());
  ASSERT_NE(menu, nullptr);
  Q_EMIT menu->aboutToShow();
  EXPECT_EQ(QtToolkit::actionOf(com3)->toolTip(), QStringLiteral("/dev/ttyUSB3"));
}

TEST_F(QtToolkitTest, TwipsBecomePixelsByTheScreensLogicalDpi) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const double tpp = 1440.0 / screen->logicalDotsPerInchX();
  EXPECT_EQ(kit.twipsPerPixelX(), std::lround(tpp));
  EXPECT_EQ(kit.screenWidth(), std::lround(screen->availableGeometry().width() * tpp));

  tk::Frame& frame = win->addFrame(nullptr);
  frame.move(120, 600, 6000, 3000);
  tk::ListBox& list = win->addListBox(&frame);
  list.move(120, 120, 2880, 1500);
  const QRect g = widget<QListWidget>(list)->geometry();  // relative to the frame
  EXPECT_EQ(g, QRect(std::lround(120 / tpp), std::lround(120 / tpp), std::lround(2880 / tpp),
                     std::lround(1500 / tpp)));
  EXPECT_EQ(list.width(), 2880);

  win->addMenu("&File");
  int resizes = 0;
  win->onResize = [&] { ++resizes; };
  win->move(0, 0, 9525, 6600);  // before show, the client size is already current
  EXPECT_EQ(win->width(), 9525);
  EXPECT_EQ(win->scaleWidth(), 9525);  // the offscreen platform draws no frame
  const int menuHeight = mainWidget()->menuBar()->height();
  EXPECT_NEAR(win->scaleHeight(), 6600 - menuHeight * tpp, tpp);
  showActive();
  EXPECT_GE(resizes, 1);  // the first show reports the client size
}

TEST_F(QtToolkitTest, KeysReachThePreviewThenTheListAndAConsumedKeyDoesNotMoveTheSelection) {
  tk::ListBox& list = win->addListBox(nullptr);
  for (const char* s : {"a", "b", "c"}) list.addItem(s);
  list.setListIndex(0);
  logKeys(list);
  showActive();
  list.setFocus();
  QListWidget* lw = widget<QListWidget>(list);

  QTest::keyClick(lw, Qt::Key_Down);
  EXPECT_EQ(list.listIndex(), 1);
  consumeInList = true;
  QTest::keyClick(lw, Qt::Key_Down);
  EXPECT_EQ(list.listIndex(), 1);
  QTest::keyClick(lw, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(lw, Qt::Key_Comma, Qt::KeypadModifier);
  QTest::keyClick(lw, Qt::Key_Enter, Qt::KeypadModifier);
  QTest::keyClick(lw, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
  QTest::keyClick(lw, Qt::Key_Shift, Qt::ShiftModifier);  // a bare modifier: nobody sees it
  QTest::keyClick(lw, Qt::Key_Exclam);                    // no code: passes untouched
  EXPECT_EQ(log, (std::vector<std::string>{"window 40/0", "list 40/0", "window 40/0", "list 40/0",
                                           "window 39/1", "list 39/1", "window 108/0", "list 108/0",
                                           "window 13/0", "list 13/0", "window 37/6", "list 37/6"}));
}

TEST_F(QtToolkitTest, F5ReachesThePreviewWhateverHasTheFocus) {
  tk::CommandButton& button = win->addButton(nullptr);
  tk::TextPane& pane = win->addTextPane(nullptr);
  pane.setText("line 1\r\nline 2");
  win->onKeyDown = [&](std::int16_t& code, std::int16_t) { log.push_back(std::to_string(code)); };
  showActive();
  button.setFocus();
  QTest::keyClick(QtToolkit::widgetOf(button), Qt::Key_F5);
  pane.setFocus();
  QTest::keyClick(QtToolkit::widgetOf(pane), Qt::Key_F5);
  EXPECT_EQ(log, (std::vector<std::string>{"116", "116"}));
  EXPECT_EQ(widget<QPlainTextEdit>(pane)->toPlainText(), QStringLiteral("line 1\nline 2"));
  EXPECT_EQ(pane.text(), "line 1\r\nline 2");
}

TEST_F(QtToolkitTest, ReturnClicksTheDefaultButtonAndEscapeTheCancelButtonFromAnyFocus) {
  tk::Frame& frame = win->addFrame(nullptr);
  tk::CommandButton& ok = win->addButton(&frame);
  tk::ListBox& list = win->addListBox(nullptr);
  ok.setDefault(true);
  ok.setCancel(true);
  ok.onClick = [&] { log.push_back("click"); };
  std::string typed;
  ok.onKeyPress = [&](char c) { typed += c; };
  showActive();
  list.setFocus();
  QTest::keyClick(QtToolkit::widgetOf(list), Qt::Key_Return);
  QTest::keyClick(QtToolkit::widgetOf(list), Qt::Key_Escape);
  EXPECT_EQ(log, (std::vector<std::string>{"click", "click"}));

  frame.setVisible(false);  // a hidden default button takes no Return
  QTest::keyClick(QtToolkit::widgetOf(list), Qt::Key_Return);
  EXPECT_EQ(log.size(), 2u);

  frame.setVisible(true);
  ok.setFocus();
  QTest::keyClicks(QtToolkit::widgetOf(ok), "kK");
  EXPECT_EQ(typed, "kK");
}

TEST_F(QtToolkitTest, TabOrderFollowsMoveToEndAndSkipsControlsWithoutTabStop) {
  tk::CommandButton& a = win->addButton(nullptr);
  tk::CommandButton& b = win->addButton(nullptr);
  tk::CommandButton& c = win->addButton(nullptr);
  a.moveToEndOfTabOrder();  // b, c, a
  showActive();
  c.setFocus();
  QTest::keyClick(QtToolkit::widgetOf(c), Qt::Key_Tab);
  EXPECT_TRUE(a.hasFocus());
  a.setTabStop(false);
  EXPECT_FALSE(a.tabStop());
  c.setFocus();
  QTest::keyClick(QtToolkit::widgetOf(c), Qt::Key_Tab);
  EXPECT_TRUE(b.hasFocus());
}

TEST_F(QtToolkitTest, ListGotFocusAndTextChangesThatKeepSelectionAndScrolling) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  for (int i = 0; i < 100; ++i) list.addItem("line " + std::to_string(i));
  int gotFocus = 0;
  list.onGotFocus = [&] { ++gotFocus; };
  showActive();
  list.setFocus();
  EXPECT_EQ(gotFocus, 1);

  list.setListIndex(80);
  QScrollBar* bar = widget<QListWidget>(list)->verticalScrollBar();
  const int scrolled = bar->value();
  EXPECT_GT(scrolled, 0);
  list.setItemText(0, "first");
  list.setItemText(80, "eighty");
  EXPECT_EQ(bar->value(), scrolled);
  EXPECT_EQ(list.listIndex(), 80);
  EXPECT_EQ(list.itemText(80), "eighty");
  list.setListIndex(-1);
  EXPECT_EQ(list.listIndex(), -1);
  EXPECT_THROW(list.setListIndex(100), std::out_of_range);
}

TEST_F(QtToolkitTest, LabelsSizeToTheirTextAndButtonsFitTheirCaptions) {
  tk::Label& busy = win->addLabel(nullptr);
  busy.setCaption("COM 1: OPEN");
  const std::int32_t oneLine = busy.height();
  const std::int32_t width = busy.width();
  busy.setCaption("COM 1: WXYZ");  // same length in a fixed-pitch font: same width
  EXPECT_EQ(busy.width(), width);
  busy.setCaption("COM 1: OPEN\r\nsecond");
  EXPECT_GT(busy.height(), oneLine);
  EXPECT_EQ(busy.width(), width);
  busy.move(120, 120, 1, 1);
  EXPECT_EQ(busy.left(), 120);
  EXPECT_EQ(busy.width(), width);
  EXPECT_TRUE(QFontInfo(QtToolkit::widgetOf(busy)->font()).fixedPitch());

  tk::CommandButton& reload = win->addButton(nullptr);
  reload.setCaption("Reload(F5)");
  reload.move(0, 0, 1800, 330);
  QPushButton* pb = widget<QPushButton>(reload);
  QStyleOptionButton opt;
  opt.initFrom(pb);
  opt.rect = pb->rect();
  const QRect contents = pb->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, pb);
  const QRect text = pb->fontMetrics().boundingRect(pb->text());
  EXPECT_LE(text.width(), contents.width());
  EXPECT_LE(pb->fontMetrics().height(), contents.height() + 2);
}

TEST_F(QtToolkitTest, TimersTickAndQuitEndsTheLoopWithItsCode) {
  auto timer = kit.createTimer();
  int ticks = 0;
  timer->onTick = [&] {
    if (++ticks == 3) kit.quit(9);
  };
  timer->setInterval(10);
  timer->setEnabled(true);
  EXPECT_EQ(kit.run(), 9);
  EXPECT_EQ(ticks, 3);
}

TEST_F(QtToolkitTest, QuitBeforeTheLoopMakesRunReturnAtOnceAndKeepsMessageBoxesWorking) {
  kit.quit(4);
  bool shown = false;
  QTimer::singleShot(0, [&] {
    if (auto* box = QApplication::activeModalWidget()) {
      shown = true;
      box->close();
    }
  });
  kit.messageBox("Cannot read 'Const.ini'.", "Tarnset ADJ Rev.1.2", "");
  EXPECT_TRUE(shown);
  EXPECT_EQ(kit.run(), 4);
}

TEST_F(QtToolkitTest, WatchFiresOnAPipeButWaitsWhileAMessageBoxIsOpen) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int reads = 0;
  auto watch = kit.watchReadable(fds[0], [&] {
    char c;
    if (::read(fds[0], &c, 1) == 1) ++reads;
  });
  ASSERT_EQ(::write(fds[1], "a", 1), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return reads == 1; }, 2000));

  bool modal = false;
  int readsDuringBox = -1;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text, details;
  qsizetype buttons = 0;
  QTimer::singleShot(0, [&] {
    ASSERT_EQ(::write(fds[1], "b", 1), 1);
    QTimer::singleShot(100, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      modal = kit.modalActive();
      readsDuringBox = reads;
      icon = box->icon();
      text = box->text();
      details = box->informativeText();
      buttons = box->buttons().size();
      box->accept();
    });
  });
  EXPECT_EQ(kit.messageBox("Line one\r\nLine two", "Tarnset ADJ Rev.1.2",
                           "Port: /dev/ttyUSB0\r\nNext step: plug it in"),
            1);
  EXPECT_TRUE(modal);
  EXPECT_EQ(readsDuringBox, 1);  // the pending byte waited for the box
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(text, QStringLiteral("Line one\nLine two"));
  EXPECT_EQ(details, QStringLiteral("Port: /dev/ttyUSB0\nNext step: plug it in"))
      << "shown without a further click";
  EXPECT_EQ(buttons, 1);
  EXPECT_FALSE(kit.modalActive());
  EXPECT_TRUE(QTest::qWaitFor([&] { return reads == 2; }, 2000));
  watch.reset();
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(QtToolkitTest, ProgrammingErrorsInNotificationsReachTheFatalHandler) {
  std::string fatal;
  kit.setFatalHandler([&](const std::exception& e) { fatal = e.what(); });
  tk::CommandButton& button = win->addButton(nullptr);
  button.onClick = [] { throw std::out_of_range("Index outside the table"); };
  widget<QPushButton>(button)->click();
  EXPECT_EQ(fatal, "Index outside the table");
}

TEST_F(QtToolkitTest, UnloadRunsQueryUnloadThenUnloadOnceEvenFromTheCloseBox) {
  win->onQueryUnload = [&] { log.push_back("query"); };
  win->onUnload = [&] { log.push_back("unload"); };
  showActive();
  mainWidget()->close();
  win->unload();
  EXPECT_EQ(log, (std::vector<std::string>{"query", "unload"}));
  EXPECT_FALSE(win->isShown());
}

}  // namespace
}  // namespace tarnset
