#pragma once
// The Qt realisation of the toolkit's elements. Each element is a small adapter that
// owns no widget itself: the widgets are children of the main window's QMainWindow and
// die with it. Widget callbacks capture the window's "alive" token so that nothing
// reaches the logic while a window is being destroyed.
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"

class QKeyEvent;
class QMenu;

namespace tarnset::qtk {

class WindowAdapter;
class WatchAdapter;

// What the elements of one toolkit share: the error guard, the unit conversion and
// the registries of windows and watches.
class Env {
 public:
  Env(tk::Toolkit& toolkit, double dpiX, double dpiY);

  // Runs a notification through the toolkit's fatal-error guard.
  template <class F>
  void guarded(F&& f) {
    toolkit_.guarded(std::forward<F>(f));
  }

  // Twips per pixel as exact ratios, and the conversions both ways.
  double tppX() const { return tppX_; }
  double tppY() const { return tppY_; }
  int pxX(std::int32_t twips) const;
  int pxY(std::int32_t twips) const;
  std::int32_t twipsX(int px) const;
  std::int32_t twipsY(int px) const;

  // The fixed-pitch font of the client area.
  QFont fixedFont() const;

  std::vector<WindowAdapter*> windows;
  std::vector<WatchAdapter*> watches;
  int modalDepth = 0;

 private:
  tk::Toolkit& toolkit_;
  double tppX_;
  double tppY_;
};

// Program text as Qt text: Latin-1, and for multi-line texts CR LF (or a lone CR) as a line break.
QString toQt(const std::string& text);
QString toQtLines(const std::string& text);
// Qt text as program text: Latin-1, characters outside it become "?".
std::string fromQt(const QString& s);

// --- Widgets with the hooks the adapters need ---

class MainWidget final : public QMainWindow {
 public:
  std::function<void()> closing;

 protected:
  void closeEvent(QCloseEvent* e) override;
};

class LineAdapter;

// The client area: places the controls and draws the window's lines.
class ClientArea final : public QWidget {
 public:
  ClientArea(const Env& env, const std::vector<std::unique_ptr<LineAdapter>>& lines);
  std::function<void()> resized;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  const Env& env_;
  const std::vector<std::unique_ptr<LineAdapter>>& lines_;
};

// A panel. Its border, when it has one, is an etched rectangle drawn a few pixels below
// its top edge, where a titled frame would draw its caption band, so that a panel placed
// right under a row of buttons does not touch them.
class PanelFrame final : public QFrame {
 public:
  using QFrame::QFrame;
  static constexpr int kTopInset = 6;
  bool border = true;

 protected:
  void paintEvent(QPaintEvent* e) override;
};

class ListWidget final : public QListWidget {
 public:
  using QListWidget::QListWidget;
  std::function<void()> focused;

 protected:
  void focusInEvent(QFocusEvent* e) override;
};

// --- Adapters ---

// Geometry and visibility of a control placed in the client area or a frame.
template <class Iface, class W>
class ControlAdapter : public Iface {
 public:
  ControlAdapter(WindowAdapter& window, W* widget);

  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    place();
  }
  std::int32_t left() const override { return left_; }
  std::int32_t top() const override { return top_; }
  std::int32_t width() const override { return width_; }
  std::int32_t height() const override { return height_; }
  void setVisible(bool on) override {
    visible_ = on;
    widget_->setVisible(on);
  }
  bool visible() const override { return visible_; }

  W* widget() const { return widget_; }

 protected:
  virtual void place();

  WindowAdapter& window_;
  W* widget_;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::int32_t width_ = 1200;
  std::int32_t height_ = 360;
  bool visible_ = true;
};

// Focus and tab order on top of ControlAdapter.
template <class Iface, class W>
class FocusAdapter : public ControlAdapter<Iface, W> {
 public:
  FocusAdapter(WindowAdapter& window, W* widget);

  void setFocus() override;
  bool hasFocus() const override;
  void setTabStop(bool on) override;
  bool tabStop() const override;
  void moveToEndOfTabOrder() override;
};

class FrameAdapter final : public ControlAdapter<tk::Frame, PanelFrame> {
 public:
  FrameAdapter(WindowAdapter& window, QWidget* parent);
  void setBorder(bool on) override;
  bool border() const override { return border_; }

 private:
  bool border_ = true;
};

class ListBoxAdapter final : public FocusAdapter<tk::ListBox, ListWidget> {
 public:
  ListBoxAdapter(WindowAdapter& window, QWidget* parent);
  void clear() override;
  void addItem(const std::string& text) override;
  void setItemText(std::int16_t n, const std::string& text) override;
  std::string itemText(std::int16_t n) const override;
  std::int16_t listCount() const override;
  std::int16_t listIndex() const override;
  void setListIndex(std::int16_t n) override;
};

class ButtonAdapter final : public FocusAdapter<tk::CommandButton, QPushButton> {
 public:
  ButtonAdapter(WindowAdapter& window, QWidget* parent);
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }
  void setDefault(bool on) override;
  bool isDefault() const override { return default_; }
  void setCancel(bool on) override;
  bool isCancel() const override { return cancel_; }

  // Drops the default (cancel) role without touching the other buttons.
  void dropDefault();
  void dropCancel() { cancel_ = false; }
  // True when the button is enabled and shown within its window.
  bool usable() const;

 private:
  std::string caption_;
  bool enabled_ = true;
  bool default_ = false;
  bool cancel_ = false;
};

class LabelAdapter final : public ControlAdapter<tk::Label, QLabel> {
 public:
  LabelAdapter(WindowAdapter& window, QWidget* parent);
  // Only the position is taken: the size follows the caption.
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setForeColor(tk::SysColor c) override;
  tk::SysColor foreColor() const override { return color_; }
  void setTip(const std::string& text) override;
  std::string tip() const override { return tip_; }

 protected:
  void place() override;

 private:
  std::string caption_;
  tk::SysColor color_ = tk::SysColor::ButtonText;
  std::string tip_;
  bool captionSet_ = false;
  bool colorSet_ = false;
};

class TextPaneAdapter final : public FocusAdapter<tk::TextPane, QPlainTextEdit> {
 public:
  TextPaneAdapter(WindowAdapter& window, QWidget* parent);
  void setText(const std::string& text) override;
  std::string text() const override { return text_; }

 private:
  std::string text_;
};

class LineAdapter final : public tk::Line {
 public:
  LineAdapter(QWidget& canvas, bool dark) : canvas_(canvas), dark_(dark) {}
  void setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override;
  std::int32_t x1() const override { return x1_; }
  std::int32_t y1() const override { return y1_; }
  std::int32_t x2() const override { return x2_; }
  std::int32_t y2() const override { return y2_; }
  // Drawn in the palette's dark shade, else in its light shade.
  bool dark() const { return dark_; }

 private:
  QWidget& canvas_;
  bool dark_;
  std::int32_t x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
};

class MenuItemAdapter final : public tk::MenuItem {
 public:
  MenuItemAdapter(Env& env, QMenu& menu, const std::string& caption, std::shared_ptr<bool> alive);
  std::string caption() const override { return caption_; }
  void setChecked(bool on) override;
  bool checked() const override { return checked_; }
  void setTip(const std::string& text) override;
  std::string tip() const override { return tip_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }

  QAction* action() const { return action_; }

 private:
  std::string caption_;
  QAction* action_;
  bool checked_ = false;
  bool enabled_ = true;
  std::string tip_;
};

class MenuAdapter final : public tk::Menu {
 public:
  MenuAdapter(Env& env, QMenu* menu, std::string caption, std::shared_ptr<bool> alive);
  std::string caption() const override { return caption_; }
  tk::MenuItem& addItem(const std::string& caption) override;
  tk::Menu& addSubMenu(const std::string& caption) override;
  void addSeparator() override;

  QMenu* menu() const { return menu_; }

 private:
  Env& env_;
  QMenu* menu_;
  std::string caption_;
  std::shared_ptr<bool> alive_;
  std::vector<std::unique_ptr<MenuItemAdapter>> items_;
  std::vector<std::unique_ptr<MenuAdapter>> subMenus_;
};

class WindowAdapter final : public tk::MainWindow {
 public:
  explicit WindowAdapter(Env& env);
  ~WindowAdapter() override;

  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  std::int32_t scaleWidth() const override;
  std::int32_t scaleHeight() const override;
  std::int32_t left() const override;
  std::int32_t top() const override;
  std::int32_t width() const override;
  std::int32_t height() const override;
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;
  void show() override;
  bool isShown() const override;
  void unload() override;

  tk::Menu& addMenu(const std::string& caption) override;
  tk::Frame& addFrame(tk::Parent parent) override;
  tk::ListBox& addListBox(tk::Parent parent) override;
  tk::CommandButton& addButton(tk::Parent parent) override;
  tk::Label& addLabel(tk::Parent parent) override;
  tk::TextPane& addTextPane(tk::Parent parent) override;
  tk::Line& addLine() override;

  Env& env() const { return env_; }
  MainWidget* widget() const { return widget_.get(); }
  ClientArea* client() const { return client_; }
  const std::shared_ptr<bool>& alive() const { return alive_; }

  // Routes a key press whose first receiver is `receiver` (a widget of this window):
  // key preview, the list box's handler or the button's key-press, the default and
  // cancel buttons. Returns true when the key is consumed.
  bool routeKey(QWidget* receiver, QKeyEvent* e);

  // Tab order of the focus controls.
  void addToTabChain(QWidget* w);
  void moveToEndOfTabChain(QWidget* w);
  // Takes the default (cancel) role from every other button.
  void makeSoleDefault(ButtonAdapter* b);
  void makeSoleCancel(ButtonAdapter* b);

 private:
  QWidget* parentWidget(tk::Parent parent) const;
  void runUnload();
  void applyTabChain();

  Env& env_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::string caption_;
  bool unloaded_ = false;
  std::vector<std::unique_ptr<LineAdapter>> lines_;  // before the widgets: the client area draws them
  std::unique_ptr<MainWidget> widget_;
  ClientArea* client_;
  std::vector<std::unique_ptr<MenuAdapter>> menus_;
  std::vector<std::unique_ptr<FrameAdapter>> frames_;
  std::vector<std::unique_ptr<ListBoxAdapter>> listBoxes_;
  std::vector<std::unique_ptr<ButtonAdapter>> buttons_;
  std::vector<std::unique_ptr<LabelAdapter>> labels_;
  std::vector<std::unique_ptr<TextPaneAdapter>> textPanes_;
  std::vector<QWidget*> tabChain_;
};

class TimerAdapter final : public tk::Timer {
 public:
  explicit TimerAdapter(Env& env);
  void setInterval(std::int32_t ms) override;
  std::int32_t interval() const override { return interval_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }

 private:
  void apply();

  QTimer timer_;
  std::int32_t interval_ = 0;
  bool enabled_ = false;
};

class WatchAdapter final : public tk::Watch {
 public:
  WatchAdapter(Env& env, int fd, std::function<void()> onReadable);
  ~WatchAdapter() override;
  // Pauses (false) or resumes (true) the watch.
  void setActive(bool on) { notifier_.setEnabled(on); }

 private:
  Env& env_;
  QSocketNotifier notifier_;
  std::function<void()> onReadable_;
};

}  // namespace tarnset::qtk
