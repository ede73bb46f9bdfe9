#pragma once
// The contract suite's driver of the headless toolkit: its own driving methods play the
// user; a box's hooks let time pass and the loop try to run while the box is "open".
#include <memory>

#include "base/TickSource.h"
#include "toolkit/contract/BoxPlay.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset::contract {

class HeadlessDriver {
 public:
  static constexpr const char* kName = "headless";
  HeadlessDriver();

  tk::Toolkit& kit() { return kit_; }
  int run() { return kit_.runLoop(); }
  void show(tk::MainWindow& w) { w.show(); }
  void show(tk::DialogWindow& d) { d.show(); }
  void click(tk::CommandButton& b) { kit_.click(b); }
  // A key pressed in the window: on its focused control, or on the window itself.
  void press(tk::Window& w, std::int16_t key, std::int16_t shift = 0);
  void type(tk::TextField& f, const std::string& ascii) { kit_.typeText(f, ascii); }
  void pick(tk::DropDown& d, std::int16_t n) { kit_.pick(d, n); }
  void toggle(tk::CheckBox& c) { kit_.click(c); }
  void closeBox(tk::MainWindow& /*w*/) { kit_.closeWindow(); }
  void closeBox(tk::DialogWindow& d) { kit_.closeDialog(d); }
  void choose(tk::MainWindow& w, tk::MenuItem& item);
  void open(tk::MainWindow& w, tk::Menu& menu);
  void endSession(tk::MainWindow& /*w*/) { kit_.endSession(); }
  bool devicesChanged(tk::MainWindow& /*w*/) {
    kit_.devicesChanged();
    return true;
  }
  void playNextBox(BoxPlay play) { play_ = std::move(play); }
  const BoxSeen& lastBox() const { return seen_; }

 private:
  // The box is "open": time passes while the loop tries to run, then the user looks.
  void inBox(const std::string& title, const std::string& text, const std::string& details,
             const std::vector<std::string>& choices);

  MonotonicTickSource clock_;
  HeadlessToolkit kit_{clock_};
  BoxPlay play_;
  BoxSeen seen_;
};

}  // namespace tarnset::contract
