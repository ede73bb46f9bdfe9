#include "toolkit/contract/QtDriver.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <utility>

#include "toolkit/QtTestApp.h"
#include "toolkit/core/DisplayText.h"

namespace tarnset::contract {

namespace {

void activate(QWidget* w) {
  w->activateWindow();
  if (!QTest::qWaitForWindowActive(w)) ADD_FAILURE() << "the window did not become active";
}

// The Qt key for a key code of the logic.
Qt::Key qtKey(std::int16_t code) {
  namespace K = tk::Key;
  switch (code) {
    case K::Enter:
      return Qt::Key_Return;
    case K::Escape:
      return Qt::Key_Escape;
    case K::Tab:
      return Qt::Key_Tab;
    case K::Space:
      return Qt::Key_Space;
    case K::Backspace:
      return Qt::Key_Backspace;
    case K::Left:
      return Qt::Key_Left;
    case K::Right:
      return Qt::Key_Right;
    case K::Up:
      return Qt::Key_Up;
    case K::Down:
      return Qt::Key_Down;
    case K::F5:
      return Qt::Key_F5;
    default:
      return static_cast<Qt::Key>(code);  // letters and digits share their codes
  }
}

Qt::KeyboardModifiers qtModifiers(std::int16_t shift) {
  Qt::KeyboardModifiers m;
  if ((shift & tk::kShiftBit) != 0) m |= Qt::ShiftModifier;
  if ((shift & tk::kCtrlBit) != 0) m |= Qt::ControlModifier;
  if ((shift & tk::kAltBit) != 0) m |= Qt::AltModifier;
  return m;
}

// What the box shows: its labels' lines (or the message box's text and details) and its list.
BoxSeen readBox(QDialog* box) {
  BoxSeen seen{true, box->windowTitle().toStdString(), {}, {}};
  const auto add = [&](const QString& text) {
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      seen.lines.push_back(tk::programText(line.toStdU16String()));
    }
  };
  if (auto* m = qobject_cast<QMessageBox*>(box)) {
    add(m->text());
    add(m->informativeText());
  } else {
    for (const QLabel* l : box->findChildren<QLabel*>()) add(l->text());
  }
  if (const auto* list = box->findChild<QListWidget*>()) {
    for (int i = 0; i < list->count(); ++i)
      seen.choices.push_back(tk::programText(list->item(i)->text().toStdU16String()));
  }
  return seen;
}

QAbstractButton* buttonOf(QDialog* box, bool ok) {
  if (auto* m = qobject_cast<QMessageBox*>(box)) {
    QAbstractButton* b = m->button(ok ? QMessageBox::Ok : QMessageBox::Cancel);
    return b != nullptr ? b : m->button(QMessageBox::Ok);
  }
  auto* buttons = box->findChild<QDialogButtonBox*>();
  return buttons != nullptr ? buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel) : nullptr;
}

}  // namespace

QtDriver::QtDriver() {
  tktest::testApplication();
  kit_ = std::make_unique<QtToolkit>();
}

QtDriver::~QtDriver() = default;

void QtDriver::show(tk::MainWindow& w) {
  w.show();
  activate(QtToolkit::widgetOf(w));
}

void QtDriver::show(tk::DialogWindow& d) {
  d.show();
  activate(QtToolkit::widgetOf(d));
}

void QtDriver::click(tk::CommandButton& b) {
  QTest::mouseClick(QtToolkit::widgetOf(b), Qt::LeftButton);
}

void QtDriver::press(tk::Window& w, std::int16_t key, std::int16_t shift) {
  QWidget* top = QtToolkit::widgetOf(w);
  QWidget* target = top->focusWidget() != nullptr ? top->focusWidget() : top;
  if (key >= 'A' && key <= 'Z') {
    // A letter goes with the character it types.
    const bool upper = (shift & tk::kShiftBit) != 0;
    QTest::keyClick(target, static_cast<char>(upper ? key : key - 'A' + 'a'), qtModifiers(shift));
    return;
  }
  QTest::keyClick(target, qtKey(key), qtModifiers(shift));
}

void QtDriver::type(tk::TextField& f, const std::string& ascii) {
  QWidget* w = QtToolkit::widgetOf(f);
  w->setFocus(Qt::MouseFocusReason);
  QTest::keyClicks(w, QString::fromLatin1(ascii.data(), static_cast<qsizetype>(ascii.size())));
}

void QtDriver::pick(tk::DropDown& d, std::int16_t n) {
  auto* combo = qobject_cast<QComboBox*>(QtToolkit::widgetOf(d));
  combo->setFocus(Qt::MouseFocusReason);
  while (combo->currentIndex() < n) QTest::keyClick(combo, Qt::Key_Down);
  while (combo->currentIndex() > n) QTest::keyClick(combo, Qt::Key_Up);
}

void QtDriver::toggle(tk::CheckBox& c) {
  auto* box = qobject_cast<QCheckBox*>(QtToolkit::widgetOf(c));
  QStyleOptionButton opt;
  opt.initFrom(box);
  const QRect mark = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, box);
  QTest::mouseClick(box, Qt::LeftButton, {}, mark.center());
}

void QtDriver::closeBox(tk::Window& w) {
  QtToolkit::widgetOf(w)->close();
}

void QtDriver::choose(tk::MainWindow& /*w*/, tk::MenuItem& item) {
  QtToolkit::actionOf(item)->trigger();
}

void QtDriver::open(tk::MainWindow& /*w*/, tk::Menu& menu) {
  Q_EMIT QtToolkit::menuOf(menu)->aboutToShow();
}

void QtDriver::playNextBox(BoxPlay play) {
  seen_ = {};
  // Looks for the box every few milliseconds (the box may open on a later tick), lets it
  // stay open for a moment, then plays the user.
  auto* watcher = new QTimer();
  player_.reset(watcher);
  watcher->setInterval(10);
  QObject::connect(watcher, &QTimer::timeout, watcher, [this, watcher, play = std::move(play)] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    watcher->stop();
    QTimer::singleShot(kBoxOpenMs, box, [this, box, play] {
      if (play.look) play.look();
      seen_ = readBox(box);
      switch (play.reply) {
        case Reply::Ok:
          if (auto* list = box->findChild<QListWidget*>()) list->setCurrentRow(play.choice);
          buttonOf(box, true)->click();
          break;
        case Reply::Cancel:
          buttonOf(box, false)->click();
          break;
        case Reply::Escape:
          QTest::keyClick(box->focusWidget() != nullptr ? box->focusWidget() : box, Qt::Key_Escape);
          break;
        case Reply::CloseBox:
          box->close();
          break;
      }
    });
  });
  watcher->start();
}

}  // namespace tarnset::contract
