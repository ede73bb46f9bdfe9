#pragma once
// The Qt realisation of the toolkit's controls and menus: each is the toolkit core's
// element (which keeps its state) with a widget that follows it. An adapter owns no
// widget itself: the widgets are children of their window's widget and die with it.
// Widget callbacks capture the window's "alive" token so that nothing reaches the logic
// while a window is being destroyed.
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"
#include "toolkit/core/Elements.h"

namespace tarnset::qtk {

class WindowSide;
class WatchAdapter;

// What the elements of one toolkit share: the unit conversion, the font and the
// registries of windows and watches.
class Env {
 public:
  Env(tk::Toolkit& toolkit, double dpiX, double dpiY);

  tk::Toolkit& toolkit() const { return toolkit_; }
  // Twips per pixel as exact ratios, and the conversions both ways.
  double tppX() const { return tppX_; }
  double tppY() const { return tppY_; }
  int pxX(std::int32_t twips) const;
  int pxY(std::int32_t twips) const;
  std::int32_t twipsX(int px) const;
  std::int32_t twipsY(int px) const;

  // The fixed-pitch font of every window's client area.
  QFont fixedFont() const;

  std::vector<WindowSide*> windows;
  std::vector<WatchAdapter*> watches;

 private:
  tk::Toolkit& toolkit_;
  double dpiX_;
  double dpiY_;
  double tppX_;
  double tppY_;
};

// Program text as Qt text (see tk::displayText), and for multi-line texts with every line
// break made a line feed.
QString toQt(const std::string& text);
QString toQtLines(const std::string& text);
// Qt text as program text (see tk::programText).
std::string fromQt(const QString& s);

// The widget behind an element, whatever its kind.
class WidgetOf {
 public:
  virtual ~WidgetOf() = default;
  virtual QWidget* qwidget() const = 0;
};

// A control of the core with its widget W, placed in twips in its parent widget.
template <class Core, class W>
class QtControl : public Core, public WidgetOf {
 public:
  QtControl(tk::WindowCore& window, tk::FrameCore* parent, Env& env, W* widget)
      : Core(window, parent), env_(env), widget_(widget) {
    if (this->takesFocus()) widget_->setFocusPolicy(Qt::StrongFocus);
    QtControl::placeNative();
    widget_->show();
  }

  W* widget() const { return widget_; }
  QWidget* qwidget() const override { return widget_; }

 protected:
  void placeNative() override {
    widget_->setGeometry(env_.pxX(this->left_), env_.pxY(this->top_), std::max(0, env_.pxX(this->width_)),
                         std::max(0, env_.pxY(this->height_)));
  }
  void showNative() override { widget_->setVisible(this->visible_); }
  void tabStopNative() override {
    widget_->setFocusPolicy(this->tabStop_ ? Qt::StrongFocus : Qt::ClickFocus);
  }

  Env& env_;
  W* widget_;
};

// A panel. Its border, when it has one, is an etched rectangle drawn a few pixels below
// its top edge (tk::kFrameTopInsetPx).
class PanelFrame final : public QFrame {
 public:
  using QFrame::QFrame;
  bool border = true;

 protected:
  void paintEvent(QPaintEvent* e) override;
};

class FrameAdapter final : public QtControl<tk::FrameCore, PanelFrame> {
 public:
  FrameAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);

 protected:
  void borderNative() override;
};

class ListBoxAdapter final : public QtControl<tk::ListBoxCore, QListWidget> {
 public:
  ListBoxAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);

 protected:
  void clearedNative() override;
  void addedNative(const std::string& text) override;
  void changedNative(std::int16_t n) override;
  void selectedNative() override;

 private:
  bool selecting_ = false;
};

class ButtonAdapter final : public QtControl<tk::ButtonCore, QPushButton> {
 public:
  ButtonAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);
  // Return and Escape click the button as the mouse does: it shows the press.
  void press() override { widget_->click(); }

 protected:
  void captionNative() override { widget_->setText(toQt(caption_)); }
  void enabledNative() override { widget_->setEnabled(enabled_); }
  void defaultNative() override { widget_->setDefault(default_); }
};

class LabelAdapter final : public QtControl<tk::LabelCore, QLabel> {
 public:
  LabelAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);

 protected:
  std::pair<std::int32_t, std::int32_t> measure() const override;
  void captionNative() override { widget_->setText(toQtLines(caption_)); }
  void colorNative() override;
  void tipNative(bool /*hadTip*/) override { widget_->setToolTip(toQtLines(tip_)); }
};

class TextPaneAdapter final : public QtControl<tk::TextPaneCore, QPlainTextEdit> {
 public:
  TextPaneAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);

 protected:
  void textNative() override { widget_->setPlainText(toQtLines(text_)); }
};

class TextFieldAdapter final : public QtControl<tk::TextFieldCore, QLineEdit> {
 public:
  TextFieldAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);

 protected:
  void textNative() override { widget_->setText(toQt(text_)); }
};

class DropDownAdapter final : public QtControl<tk::DropDownCore, QComboBox> {
 public:
  DropDownAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);

 protected:
  void clearedNative() override;
  void addedNative(const std::string& text) override;
  void selectedNative() override;

 private:
  bool selecting_ = false;
};

class CheckBoxAdapter final : public QtControl<tk::CheckBoxCore, QCheckBox> {
 public:
  CheckBoxAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget);

 protected:
  void captionNative() override { widget_->setText(toQt(caption_)); }
  void checkedNative() override { widget_->setChecked(checked_); }
};

class LineAdapter final : public tk::LineCore {
 public:
  LineAdapter(QWidget& canvas, bool dark) : canvas_(canvas), dark_(dark) {}
  // Drawn in the palette's dark shade, else in its light shade.
  bool dark() const { return dark_; }

 protected:
  void pointsNative() override { canvas_.update(); }

 private:
  QWidget& canvas_;
  bool dark_;
};

class MenuItemAdapter final : public tk::MenuItemCore {
 public:
  MenuItemAdapter(tk::Toolkit& toolkit, QMenu& menu, const std::string& caption, std::shared_ptr<bool> alive);
  QAction* action() const { return action_; }

 protected:
  void captionNative() override;
  void checkedNative() override;
  void tipNative() override;
  void enabledNative() override { action_->setEnabled(enabled_); }

 private:
  QAction* action_;
};

class MenuAdapter final : public tk::MenuCore {
 public:
  MenuAdapter(tk::Toolkit& toolkit, QMenu* menu, const std::string& caption, std::shared_ptr<bool> alive);
  QMenu* menu() const { return menu_; }

 protected:
  std::unique_ptr<tk::MenuItemCore> makeItem(const std::string& caption) override;
  std::unique_ptr<tk::MenuCore> makeSubMenu(const std::string& caption) override;
  void separatorNative() override { menu_->addSeparator(); }

 private:
  QMenu* menu_;
  std::shared_ptr<bool> alive_;
};

}  // namespace tarnset::qtk
