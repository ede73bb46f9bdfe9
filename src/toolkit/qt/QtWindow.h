#pragma once
// The Qt realisation of the main window and the dialogs: the toolkit core's windows
// (their controls, focus, default and cancel buttons, key routing) over a QMainWindow
// and a top-level dialog widget.
#include <QMainWindow>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"
#include "toolkit/core/Elements.h"
#include "toolkit/qt/QtControls.h"

class QKeyEvent;

namespace tarnset::qtk {

// What the toolkit needs of every window: its top-level widget, its controls by widget,
// and its key routing.
class WindowSide {
 public:
  WindowSide(Env& env, tk::WindowCore& core);
  virtual ~WindowSide();
  WindowSide(const WindowSide&) = delete;
  WindowSide& operator=(const WindowSide&) = delete;

  virtual QWidget* topWidget() const = 0;
  tk::WindowCore& core() const { return core_; }
  // The control whose widget w is; nullptr when none.
  tk::ControlNode* nodeOf(const QWidget* w) const;
  // Routes a key press whose first receiver is `receiver` (a widget of this window)
  // through the core. Returns true when the key is used up.
  bool routeKey(QWidget* receiver, QKeyEvent* e);
  // The widget w got the keyboard focus.
  void focusCameTo(const QWidget* w);
  // The window's frame on the screen, in twips.
  QRect outer() const;

 protected:
  // The core's focus hooks, over Qt's focus.
  tk::ControlNode* heldFocus() const;
  void focusWidget(tk::ControlNode* c);
  void clearFocus();
  // Qt's own tab chain follows the core's (Qt uses it when it moves the focus itself).
  void applyTabChain();

  Env& env_;

 private:
  tk::WindowCore& core_;
};

// The widget factories of a Qt window whose controls go into `client` or its frames.
template <class Base>
class QtWindowBase : public Base, public WindowSide {
 public:
  explicit QtWindowBase(Env& env) : Base(env.toolkit()), WindowSide(env, *this) {}

  tk::ControlNode* focusHolder() const override { return heldFocus(); }

 protected:
  // The widget that controls without a frame go into.
  virtual QWidget* clientWidget() const = 0;
  QWidget* parentWidget(tk::FrameCore* parent) const;

  void giveFocus(tk::ControlNode* c) override { focusWidget(c); }
  void dropFocus() override { clearFocus(); }
  void tabOrderNative() override { applyTabChain(); }
  void captionNative() override { topWidget()->setWindowTitle(toQt(this->caption_)); }

  std::unique_ptr<tk::FrameCore> makeFrame(tk::FrameCore* parent) override {
    return std::make_unique<FrameAdapter>(*this, parent, env_, parentWidget(parent));
  }
  std::unique_ptr<tk::ListBoxCore> makeListBox(tk::FrameCore* parent) override {
    return std::make_unique<ListBoxAdapter>(*this, parent, env_, parentWidget(parent));
  }
  std::unique_ptr<tk::ButtonCore> makeButton(tk::FrameCore* parent) override {
    return std::make_unique<ButtonAdapter>(*this, parent, env_, parentWidget(parent));
  }
  std::unique_ptr<tk::LabelCore> makeLabel(tk::FrameCore* parent) override {
    return std::make_unique<LabelAdapter>(*this, parent, env_, parentWidget(parent));
  }
  std::unique_ptr<tk::TextFieldCore> makeTextField(tk::FrameCore* parent) override {
    return std::make_unique<TextFieldAdapter>(*this, parent, env_, parentWidget(parent));
  }
  std::unique_ptr<tk::DropDownCore> makeDropDown(tk::FrameCore* parent) override {
    return std::make_unique<DropDownAdapter>(*this, parent, env_, parentWidget(parent));
  }
  std::unique_ptr<tk::CheckBoxCore> makeCheckBox(tk::FrameCore* parent) override {
    return std::make_unique<CheckBoxAdapter>(*this, parent, env_, parentWidget(parent));
  }
};

class MainWidget final : public QMainWindow {
 public:
  std::function<void()> closing;

 protected:
  void closeEvent(QCloseEvent* e) override;
};

// The client area: places the controls and draws the window's lines.
class ClientArea final : public QWidget {
 public:
  ClientArea(const Env& env, const std::vector<std::unique_ptr<tk::LineCore>>& lines);
  std::function<void()> resized;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  const Env& env_;
  const std::vector<std::unique_ptr<tk::LineCore>>& lines_;
};

class MainWindowAdapter final : public QtWindowBase<tk::MainWindowCore> {
 public:
  explicit MainWindowAdapter(Env& env);
  ~MainWindowAdapter() override;

  std::int32_t scaleWidth() const override;
  std::int32_t scaleHeight() const override;
  std::int32_t left() const override;
  std::int32_t top() const override;
  std::int32_t width() const override;
  std::int32_t height() const override;
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;

  QWidget* topWidget() const override { return widget_.get(); }
  // The session ends.
  void endSession() { MainWindowCore::endSession(); }

 protected:
  QWidget* clientWidget() const override { return client_; }
  void showNative() override { widget_->show(); }
  void hideNative() override { widget_->hide(); }
  std::unique_ptr<tk::MenuCore> makeMenu(const std::string& caption) override;
  std::unique_ptr<tk::TextPaneCore> makeTextPane(tk::FrameCore* parent) override;
  std::unique_ptr<tk::LineCore> makeLine() override;

 private:
  std::unique_ptr<MainWidget> widget_;
  ClientArea* client_;
};

class DialogWidget final : public QWidget {
 public:
  explicit DialogWidget(QWidget* owner);
  std::function<void()> closing;

 protected:
  void closeEvent(QCloseEvent* e) override;
};

class DialogAdapter final : public QtWindowBase<tk::DialogCore> {
 public:
  // owner: the main window's widget it stays in front of (nullptr: none).
  DialogAdapter(Env& env, QWidget* owner);
  ~DialogAdapter() override;

  std::int32_t left() const override;
  std::int32_t top() const override;
  QWidget* topWidget() const override { return widget_; }

 protected:
  QWidget* clientWidget() const override { return widget_; }
  void sizeNative() override;
  void moveNative() override;
  void showNative() override;
  void hideNative() override { widget_->hide(); }

 private:
  // A child of its owner's widget, which deletes it when it goes first.
  QPointer<DialogWidget> widget_;
};

}  // namespace tarnset::qtk
