#pragma once
// The contract suite's driver of the Qt toolkit on the offscreen platform: the user's
// clicks and keys are QTest's mouse and key events on the widgets; a box is played from
// a Qt timer that runs in the box's own event loop.
#include <memory>

#include "toolkit/contract/BoxPlay.h"
#include "toolkit/qt/QtToolkit.h"

class QObject;

namespace tarnset::contract {

class QtDriver {
 public:
  static constexpr const char* kName = "qt";
  QtDriver();
  ~QtDriver();

  tk::Toolkit& kit() { return *kit_; }
  int run() { return kit_->run(); }
  void show(tk::MainWindow& w);
  void show(tk::DialogWindow& d);
  void click(tk::CommandButton& b);
  void press(tk::Window& w, std::int16_t key, std::int16_t shift = 0);
  void type(tk::TextField& f, const std::string& ascii);
  void pick(tk::DropDown& d, std::int16_t n);
  void toggle(tk::CheckBox& c);
  void closeBox(tk::Window& w);
  void choose(tk::MainWindow& w, tk::MenuItem& item);
  void open(tk::MainWindow& w, tk::Menu& menu);
  void endSession(tk::MainWindow& /*w*/) { kit_->endSession(); }
  // Qt says nothing of serial devices.
  bool devicesChanged(tk::MainWindow& /*w*/) { return false; }
  void playNextBox(BoxPlay play);
  const BoxSeen& lastBox() const { return seen_; }

 private:
  std::unique_ptr<QtToolkit> kit_;
  std::unique_ptr<QObject> player_;
  BoxSeen seen_;
};

}  // namespace tarnset::contract
