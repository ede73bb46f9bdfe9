// The Qt toolkit's own part on the offscreen platform (the contract suite covers what
// every toolkit does): the widgets behind the elements and their look, the twips
// conversion, Qt's keys, the boxes as Qt shows them, the dialogs, the text shown as
// UTF-8 or Latin-1, the save dialog and PDF output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/KeyLog.h"
#include "toolkit/QtTestApp.h"
#include "toolkit/qt/QtToolkit.h"

namespace tarnset {
namespace {

namespace Key = tk::Key;

template <class W>
W* widget(tk::Control& c) {
  return qobject_cast<W*>(QtToolkit::widgetOf(c));
}

// Plays the user in the modal dialog that will be open after delayMs: f gets it as W.
// A dialog of another kind is a failure and is closed, so that the test does not hang.
template <class W>
void inModal(int delayMs, std::function<void(W*)> f) {
  QTimer::singleShot(delayMs, [f = std::move(f)] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* w = qobject_cast<W*>(modal);
    if (w == nullptr) {
      ADD_FAILURE() << "no modal " << W::staticMetaObject.className() << " open";
      if (modal != nullptr) modal->close();
      return;
    }
    f(w);
  });
}

std::string localPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The page size of a PDF in points, from its first /MediaBox.
QSizeF mediaBox(const QByteArray& pdf) {
  static const QRegularExpression re(
      QStringLiteral(R"(/MediaBox\s*\[\s*0\s+0\s+([0-9.]+)\s+([0-9.]+)\s*\])"));
  const auto m = re.match(QString::fromLatin1(pdf));
  return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

// The drawing of the first page: the first compressed stream that sets a matrix and
// shows text.
QByteArray firstPageDrawing(const QByteArray& pdf) {
  qsizetype at = 0;
  while ((at = pdf.indexOf("stream\n", at)) >= 0) {
    const qsizetype begin = at + 7;
    const qsizetype end = pdf.indexOf("endstream", begin);
    if (end < 0) break;
    if (pdf.mid(std::max<qsizetype>(0, at - 200), 200).contains("/FlateDecode")) {
      // qUncompress wants the expected size first; it grows its buffer when that is short.
      const QByteArray plain = qUncompress(QByteArray("\x00\x01\x00\x00", 4) + pdf.mid(begin, end - begin));
      if (plain.contains(" cm\n") && plain.contains("BT\n")) return plain;
    }
    at = end + 9;  // past "endstream", which itself ends in "stream"
  }
  return {};
}

// Where the first page's drawing starts, in points from the page's left and top edges:
// the page matrix ("s 0 0 -s x y cm") places the printable area, and the first text
// moves from there ("Tm", then "dx dy Td").
struct Placement {
  double areaLeft = -1;
  double areaTop = -1;
  double textLeft = -1;
};

Placement firstPagePlacement(const QByteArray& pdf, double pageHeight) {
  const QString drawing = QString::fromLatin1(firstPageDrawing(pdf));
  static const QRegularExpression matrix(QStringLiteral(R"(([0-9.]+) 0 0 -[0-9.]+ ([0-9.]+) ([0-9.]+) cm)"));
  static const QRegularExpression text(QStringLiteral(R"(Tm\s+(-?[0-9.]+) -?[0-9.]+ Td)"));
  const auto m = matrix.match(drawing);
  const auto t = text.match(drawing);
  if (!m.hasMatch() || !t.hasMatch()) return {};
  const double scale = m.captured(1).toDouble();
  const double x = m.captured(2).toDouble();
  return {x, pageHeight - m.captured(3).toDouble(), x + scale * t.captured(1).toDouble()};
}

int pageCount(const QByteArray& pdf) {
  static const QRegularExpression re(QStringLiteral(R"(/Type\s*/Page\b)"));
  int pages = 0;
  for (auto it = re.globalMatch(QString::fromLatin1(pdf)); it.hasNext(); it.next()) ++pages;
  return pages;
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
  void logKeys(tk::ListBox& list) { tktest::logKeys(*win, list, log, consumeInList); }

  QApplication& app = tktest::testApplication();  // before the toolkit, which needs it
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
  tk::TextPane& pane = win->addTextPane(nullptr);
  pane.setText("line 1\r\nline 2");
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
  EXPECT_EQ(widget<QPlainTextEdit>(pane)->toPlainText(), QStringLiteral("line 1\nline 2"));
  EXPECT_TRUE(widget<QPlainTextEdit>(pane)->isReadOnly());
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

  // A new caption (the adapter found behind the port) keeps the mark.
  com3.setCaption("COM &3 \u2014 /dev/ttyUSB3");
  EXPECT_EQ(QtToolkit::actionOf(com3)->text(), QString::fromUtf8("COM &3 \u2014 /dev/ttyUSB3"));
  EXPECT_TRUE(QtToolkit::actionOf(com3)->isChecked());

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

TEST_F(QtToolkitTest, QtKeysBecomeTheLogicsKeyCodesAndKeysWithoutOnePassUntouched) {
  tk::ListBox& list = win->addListBox(nullptr);
  logKeys(list);
  consumeInList = true;
  showActive();
  list.setFocus();
  QListWidget* lw = widget<QListWidget>(list);
  QTest::keyClick(lw, Qt::Key_Comma, Qt::KeypadModifier);
  QTest::keyClick(lw, Qt::Key_Enter, Qt::KeypadModifier);
  QTest::keyClick(lw, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
  QTest::keyClick(lw, Qt::Key_Shift, Qt::ShiftModifier);  // a bare modifier: nobody sees it
  QTest::keyClick(lw, Qt::Key_Exclam);                    // no code: passes untouched
  EXPECT_EQ(log, (std::vector<std::string>{"window 108/0", "list 108/0", "window 13/0", "list 13/0",
                                           "window 37/6", "list 37/6"}));
}

TEST_F(QtToolkitTest, AChangedLineKeepsTheListsScrollPosition) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  for (int i = 0; i < 100; ++i) list.addItem("line " + std::to_string(i));
  showActive();
  list.setListIndex(80);
  QScrollBar* bar = widget<QListWidget>(list)->verticalScrollBar();
  const int scrolled = bar->value();
  EXPECT_GT(scrolled, 0) << "the selected line is scrolled into view";
  list.setItemText(0, "first");
  list.setItemText(80, "eighty");
  EXPECT_EQ(bar->value(), scrolled);
  EXPECT_EQ(widget<QListWidget>(list)->item(80)->text(), QStringLiteral("eighty"));
}

TEST_F(QtToolkitTest, LabelsUseTheFixedPitchFontAndButtonsFitTheirCaptions) {
  tk::Label& busy = win->addLabel(nullptr);
  busy.setCaption("COM 1: OPEN");
  EXPECT_TRUE(QFontInfo(QtToolkit::widgetOf(busy)->font()).fixedPitch());
  EXPECT_EQ(busy.width(), std::lround(QtToolkit::widgetOf(busy)->sizeHint().width() * kit.twipsPerPixelX()));

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

TEST_F(QtToolkitTest, AMessageBoxIsACriticalBoxWithTheDetailsAsItsInformativeText) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text, details;
  qsizetype buttons = 0;
  inModal<QMessageBox>(0, [&](QMessageBox* box) {
    icon = box->icon();
    text = box->text();
    details = box->informativeText();
    buttons = box->buttons().size();
    box->accept();
  });
  EXPECT_EQ(kit.messageBox("Line one\r\nLine two", "Tarnset ADJ Rev.1.2",
                           "Port: /dev/ttyUSB0\r\nNext step: plug it in"),
            1);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(text, QStringLiteral("Line one\nLine two"));
  EXPECT_EQ(details, QStringLiteral("Port: /dev/ttyUSB0\nNext step: plug it in"));
  EXPECT_EQ(buttons, 1);
}

TEST_F(QtToolkitTest, AQuestionIsQtsQuestionBoxWithOkAsTheDefaultAndCancelForEscape) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool okIsDefault = false;
  bool cancelIsEscape = false;
  QString noDetails = QStringLiteral("unset");
  inModal<QMessageBox>(0, [&](QMessageBox* box) {
    icon = box->icon();
    buttons = box->standardButtons();
    okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok);
    cancelIsEscape = box->escapeButton() == box->button(QMessageBox::Cancel);
    noDetails = box->informativeText();
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_TRUE(kit.askOkCancel("Write the alignment report?", "Tarnset ADJ Rev.1.2", ""));
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_TRUE(okIsDefault);
  EXPECT_TRUE(cancelIsEscape);
  EXPECT_EQ(noDetails, QString());
}

TEST_F(QtToolkitTest, AChoiceIsADialogInTheQuestionBoxsLookWithTheChoicesInAList) {
  showActive();
  QString title;
  QStringList labels;
  QStringList entries;
  int selected = -1;
  bool okIsDefault = false;
  QWidget* parent = nullptr;
  inModal<QDialog>(0, [&](QDialog* box) {
    title = box->windowTitle();
    for (const QLabel* l : box->findChildren<QLabel*>()) {
      if (!l->text().isEmpty()) labels << l->text();
      if (!l->pixmap().isNull()) labels << QStringLiteral("(icon)");
    }
    auto* list = box->findChild<QListWidget*>();
    for (int i = 0; i < list->count(); ++i) entries << list->item(i)->text();
    selected = list->currentRow();
    auto* ok = box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    okIsDefault = ok->isDefault();
    parent = box->parentWidget();
    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Return);  // Return is OK, also from the list
  });
  EXPECT_EQ(kit.askChoice("No radio answered on COM 3.\r\nUse this adapter as COM 3?", "Tarnset ADJ Rev.1.2",
                          "Adapters found on this computer:", {"COM 1", "COM 5", "COM 7"}),
            2);
  EXPECT_EQ(title, QStringLiteral("Tarnset ADJ Rev.1.2"));
  EXPECT_EQ(labels, (QStringList{"(icon)", "No radio answered on COM 3.\nUse this adapter as COM 3?",
                                 "Adapters found on this computer:"}));
  EXPECT_EQ(entries, (QStringList{"COM 1", "COM 5", "COM 7"}));
  EXPECT_EQ(selected, 0) << "the first choice is selected";
  EXPECT_TRUE(okIsDefault);
  EXPECT_EQ(parent, mainWidget()) << "over the main window";
}

TEST_F(QtToolkitTest, ADialogIsAWindowOverTheMainWindowWithItsClientSizeInTwips) {
  showActive();
  auto dlg = kit.createDialog();
  dlg->setCaption("Instrument");
  dlg->setClientSize(6000, 3000);
  tk::TextField& field = dlg->addTextField(nullptr);
  field.move(120, 120, 3000, 360);
  dlg->show();
  QWidget* w = QtToolkit::widgetOf(*dlg);
  const double tpp = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInchX();
  EXPECT_TRUE(w->isWindow());
  EXPECT_EQ(w->windowType(), Qt::Dialog);
  EXPECT_EQ(w->parentWidget(), mainWidget()) << "it stays in front of the main window";
  EXPECT_FALSE(w->isModal());
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Instrument"));
  EXPECT_EQ(w->size(), QSize(std::lround(6000 / tpp), std::lround(3000 / tpp)));
  EXPECT_LE((w->frameGeometry().center() - mainWidget()->frameGeometry().center()).manhattanLength(), 2)
      << "centred over the main window";
  EXPECT_TRUE(QFontInfo(QtToolkit::widgetOf(field)->font()).fixedPitch()) << "the main window's font";
  EXPECT_EQ(QtToolkit::widgetOf(field)->geometry(), QRect(std::lround(120 / tpp), std::lround(120 / tpp),
                                                          std::lround(3000 / tpp), std::lround(360 / tpp)));
}

TEST_F(QtToolkitTest, ADialogGoesWithItsMainWindowWhenThatGoesFirst) {
  auto dlg = kit.createDialog();
  dlg->addButton(nullptr).setCaption("OK");
  dlg->show();
  const QPointer<QWidget> widget = QtToolkit::widgetOf(*dlg);
  win.reset();
  EXPECT_TRUE(widget.isNull()) << "the main window's widget took the dialog's along";
  dlg.reset();  // and the dialog does not delete it again
  for (const QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->windowType(), Qt::Dialog);
}

TEST_F(QtToolkitTest, TextsShowAsUtf8WhereTheyAreUtf8AndAsLatin1Elsewhere) {
  // "/home/josé/отчёт.html" in UTF-8; "25 °C" in Latin-1.
  const std::string path = "/home/jos\xC3\xA9/\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.html";
  const QString shownPath = QStringLiteral("/home/jos\u00E9/\u043E\u0442\u0447\u0451\u0442.html");
  tk::Label& label = win->addLabel(nullptr);
  label.setCaption(
      "25 \xB0"
      "C");
  label.setTip("Saved to " + path);
  EXPECT_EQ(widget<QLabel>(label)->text(), QStringLiteral("25 \u00B0C"));
  EXPECT_EQ(widget<QLabel>(label)->toolTip(), QStringLiteral("Saved to ") + shownPath);
  tk::ListBox& list = win->addListBox(nullptr);
  list.addItem(path);
  EXPECT_EQ(widget<QListWidget>(list)->item(0)->text(), shownPath);
  QString details;
  inModal<QMessageBox>(0, [&](QMessageBox* box) {
    details = box->informativeText();
    box->accept();
  });
  kit.messageBox(
      "Saved at 25 \xB0"
      "C",
      "Tarnset ADJ Rev.1.2", "File: " + path);
  EXPECT_EQ(details, QStringLiteral("File: ") + shownPath);

  // Typed text comes back as the program's text: UTF-8 beyond Latin-1.
  auto dlg = kit.createDialog();
  tk::TextField& field = dlg->addTextField(nullptr);
  dlg->show();
  QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u043E\u00B5"));
  QApplication::sendEvent(QtToolkit::widgetOf(field), &typed);
  EXPECT_EQ(field.text(), "\xD0\xBE\xC2\xB5");
}

class QtSaveDialogTest : public QtToolkitTest {
 protected:
  QString in(const QString& name) const { return QDir(dir.path()).filePath(name); }
  static QLineEdit* nameEdit(QFileDialog* d) {
    return d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  }
  static QComboBox* typeCombo(QFileDialog* d) {
    return d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  }

  std::string choose() { return kit.chooseSaveFile("Save report", localPath(in("report.pdf")), filters); }

  QTemporaryDir dir;
  const std::vector<tk::FileFilter> filters{{"PDF document", {"*.pdf"}}, {"Web page", {"*.html", "*.htm"}}};
};

TEST_F(QtSaveDialogTest, StartsAtTheSuggestedFileAndAddsTheSelectedFiltersExtension) {
  ASSERT_TRUE(dir.isValid());
  QString title, folder, name, filter;
  bool modal = false;
  inModal<QFileDialog>(0, [&](QFileDialog* d) {
    modal = kit.modalActive();
    title = d->windowTitle();
    folder = d->directory().absolutePath();
    name = nameEdit(d)->text();
    filter = d->selectedNameFilter();
    nameEdit(d)->selectAll();
    QTest::keyClicks(nameEdit(d), "bench-42");
    QTest::keyClick(nameEdit(d), Qt::Key_Return);
  });
  EXPECT_EQ(choose(), localPath(in("bench-42.pdf")));
  EXPECT_TRUE(modal);
  EXPECT_FALSE(kit.modalActive());
  EXPECT_EQ(title, QStringLiteral("Save report"));
  EXPECT_EQ(folder, QDir(dir.path()).absolutePath());
  EXPECT_EQ(name, QStringLiteral("report.pdf"));
  EXPECT_EQ(filter, QStringLiteral("PDF document (*.pdf)"));

  // Another filter chosen by keyboard: its extension goes on the typed name.
  inModal<QFileDialog>(0, [&](QFileDialog* d) {
    QTest::keyClick(typeCombo(d), Qt::Key_Down);
    nameEdit(d)->selectAll();
    QTest::keyClicks(nameEdit(d), "notes");
    QTest::keyClick(nameEdit(d), Qt::Key_Return);
  });
  EXPECT_EQ(choose(), localPath(in("notes.html")));

  // A suggested web page starts with the web page filter.
  inModal<QFileDialog>(0, [&](QFileDialog* d) {
    filter = d->selectedNameFilter();
    nameEdit(d)->selectAll();
    QTest::keyClicks(nameEdit(d), "sheet");
    QTest::keyClick(nameEdit(d), Qt::Key_Return);
  });
  EXPECT_EQ(kit.chooseSaveFile("Save", localPath(in("report.html")), filters), localPath(in("sheet.html")));
  EXPECT_EQ(filter, QStringLiteral("Web page (*.html *.htm)"));

  // The name is taken in the dialog's folder even where the working directory holds a
  // folder of that name.
  QTemporaryDir work;
  ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("summary")));
  const QString savedCurrent = QDir::currentPath();
  QDir::setCurrent(work.path());
  inModal<QFileDialog>(0, [&](QFileDialog* d) {
    nameEdit(d)->selectAll();
    QTest::keyClicks(nameEdit(d), "summary");
    QTest::keyClick(nameEdit(d), Qt::Key_Return);
  });
  const std::string summary = choose();
  QDir::setCurrent(savedCurrent);
  EXPECT_EQ(summary, localPath(in("summary.pdf")));

  // A name typed with an extension keeps it.
  inModal<QFileDialog>(0, [&](QFileDialog* d) {
    nameEdit(d)->selectAll();
    QTest::keyClicks(nameEdit(d), "report.htm");
    QTest::keyClick(nameEdit(d), Qt::Key_Return);
  });
  EXPECT_EQ(choose(), localPath(in("report.htm")));
}

TEST_F(QtSaveDialogTest, CancelOrEscapeGivesAnEmptyPath) {
  ASSERT_TRUE(dir.isValid());
  inModal<QFileDialog>(0, [&](QFileDialog* d) {
    QTest::keyClicks(nameEdit(d), "x");
    QTest::keyClick(nameEdit(d), Qt::Key_Escape);
  });
  EXPECT_EQ(choose(), "");
  inModal<QFileDialog>(0, [](QFileDialog* d) {
    const auto buttons = d->findChildren<QPushButton*>();
    for (QPushButton* b : buttons) {
      if (b->text().remove(QLatin1Char('&')) == QStringLiteral("Cancel")) b->click();
    }
  });
  EXPECT_EQ(choose(), "");
  EXPECT_FALSE(kit.modalActive());
}

TEST_F(QtSaveDialogTest, AsksBeforeReplacingAnExistingFileUnderItsFullName) {
  ASSERT_TRUE(dir.isValid());
  {
    QFile existing(in("existing.pdf"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  }
  QString question;
  bool stillOpen = false;
  inModal<QFileDialog>(0, [&](QFileDialog* d) {
    nameEdit(d)->setText(QStringLiteral("existing"));
    inModal<QMessageBox>(0, [&](QMessageBox* box) {
      question = box->text();
      box->button(QMessageBox::No)->click();
    });
    QTest::keyClick(nameEdit(d), Qt::Key_Return);  // answered No: the dialog stays
    stillOpen = d->isVisible();
    inModal<QMessageBox>(0, [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    QTest::keyClick(nameEdit(d), Qt::Key_Return);
  });
  EXPECT_EQ(choose(), localPath(in("existing.pdf")));
  EXPECT_TRUE(question.contains(QStringLiteral("existing.pdf"))) << question.toStdString();
  EXPECT_TRUE(stillOpen);
}

class QtPdfTest : public QtToolkitTest {
 protected:
  void TearDown() override { QLocale::setDefault(savedLocale); }
  QString in(const QString& name) const { return QDir(dir.path()).filePath(name); }

  // Writes html as a PDF under the locale and returns the file's bytes.
  QByteArray write(const QLocale& locale, const std::string& html, const QString& name) {
    QLocale::setDefault(locale);
    std::string why;
    const bool ok = kit.writePdf(html, localPath(in(name)), why);
    EXPECT_TRUE(ok) << why;
    return readAll(in(name));
  }

  static std::string report(int rows) {
    std::string html =
        "<html><head><title>Alignment report</title></head><body><h1>Alignment report</h1>"
        "<p>Radio serial 123456, read at 10:42.</p><table border=\"1\" cellpadding=\"2\">"
        "<tr><th>Item</th><th>Value</th></tr>";
    for (int i = 0; i < rows; ++i) html += "<tr><td>Item " + std::to_string(i) + "</td><td>\xB5V</td></tr>";
    return html + "</table></body></html>";
  }

  const QLocale savedLocale;
  QTemporaryDir dir;
};

TEST_F(QtPdfTest, WritesAPdfOnLetterPagesForUsUnitsAndA4Elsewhere) {
  ASSERT_TRUE(dir.isValid());
  const QByteArray us = write(QLocale(QLocale::English, QLocale::UnitedStates), report(3), "us.pdf");
  EXPECT_TRUE(us.startsWith("%PDF-"));
  EXPECT_EQ(mediaBox(us).toSize(), QSize(612, 792));
  EXPECT_EQ(pageCount(us), 1);

  const QByteArray de = write(QLocale(QLocale::German, QLocale::Germany), report(3), "de.pdf");
  EXPECT_TRUE(de.startsWith("%PDF-"));
  EXPECT_EQ(mediaBox(de).toSize(), QSize(595, 842));

  // Imperial units the British way still mean A4 paper.
  const QByteArray uk = write(QLocale(QLocale::English, QLocale::UnitedKingdom), report(3), "uk.pdf");
  EXPECT_EQ(mediaBox(uk).toSize(), QSize(595, 842));

  // A long table runs on over further pages.
  const QByteArray longReport = write(QLocale(QLocale::German, QLocale::Germany), report(300), "long.pdf");
  EXPECT_GT(pageCount(longReport), 3);

  // Nothing but the finished files is left in the folder.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
            (QStringList{"de.pdf", "long.pdf", "uk.pdf", "us.pdf"}));
}

TEST_F(QtPdfTest, PagesHaveMarginsOf15MillimetresWhereTheTextBegins) {
  ASSERT_TRUE(dir.isValid());
  constexpr double kMarginPt = 15 / 25.4 * 72;
  const QByteArray pdf = write(QLocale(QLocale::English, QLocale::UnitedStates), report(3), "m.pdf");
  const Placement p = firstPagePlacement(pdf, 792);
  EXPECT_NEAR(p.areaLeft, kMarginPt, 1.0);
  EXPECT_NEAR(p.areaTop, kMarginPt, 1.0);
  EXPECT_NEAR(p.textLeft, kMarginPt, 1.0) << "the heading starts at the margin, not further in";
}

TEST_F(QtPdfTest, AFileThatCannotBeMadeGivesTheReasonAndLeavesNothing) {
  ASSERT_TRUE(dir.isValid());
  std::string why;
  EXPECT_FALSE(kit.writePdf(report(1), localPath(in("missing/report.pdf")), why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(QFile::exists(in("missing/report.pdf")));

  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
  why.clear();
  EXPECT_FALSE(kit.writePdf(report(1), localPath(in("folder")), why));
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(QDir(in("folder")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(QtToolkitTest, DisabledMenuItemsAreGreyedAndCannotBeChosen) {
  tk::Menu& file = win->addMenu("&File");
  tk::MenuItem& save = file.addItem("&Save report...");
  file.addSeparator();
  tk::MenuItem& exit = file.addItem("E&xit");
  save.onClick = [&] { log.push_back("save"); };
  exit.onClick = [&] { log.push_back("exit"); };
  EXPECT_TRUE(save.enabled());

  save.setEnabled(false);
  EXPECT_FALSE(save.enabled());
  QAction* action = QtToolkit::actionOf(save);
  EXPECT_FALSE(action->isEnabled());
  action->trigger();
  EXPECT_TRUE(log.empty());

  save.setEnabled(true);
  EXPECT_TRUE(action->isEnabled());
  action->trigger();
  QtToolkit::actionOf(exit)->trigger();
  EXPECT_EQ(log, (std::vector<std::string>{"save", "exit"}));

  const auto actions = qobject_cast<QMenu*>(action->parent())->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_FALSE(actions[0]->isSeparator());
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2], QtToolkit::actionOf(exit));
}

TEST_F(QtToolkitTest, ALabelTipShowsAsItsToolTip) {
  tk::Label& port = win->addLabel(nullptr);
  port.setCaption("COM 1: OPEN");
  port.setTip("COM 1 is /dev/ttyUSB0\r\nexclusive");
  showActive();
  QWidget* w = QtToolkit::widgetOf(port);
  EXPECT_EQ(w->toolTip(), QStringLiteral("COM 1 is /dev/ttyUSB0\nexclusive"));
  EXPECT_EQ(port.tip(), "COM 1 is /dev/ttyUSB0\r\nexclusive");

  const QPoint inside = w->rect().center();
  QHelpEvent hover(QEvent::ToolTip, inside, w->mapToGlobal(inside));
  QApplication::sendEvent(w, &hover);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), QStringLiteral("COM 1 is /dev/ttyUSB0\nexclusive"));
  QToolTip::hideText();

  port.setTip("");
  EXPECT_EQ(w->toolTip(), QString());
}

}  // namespace
}  // namespace tarnset
