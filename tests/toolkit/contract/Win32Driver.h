#pragma once
// The contract suite's driver of the Win32 toolkit (under Wine): the user's keys go
// through the system's input, clicks are the buttons' own BM_CLICK, and a box is played
// from a thread of its own while the test's thread sits in the box's loop.
#include <memory>

#include "toolkit/contract/BoxPlay.h"
#include "toolkit/win32/Win32Toolkit.h"

namespace tarnset::w32test {
class ModalPlayer;
class UiCall;
}  // namespace tarnset::w32test

namespace tarnset::contract {

class Win32Driver {
 public:
  static constexpr const char* kName = "win32";
  Win32Driver();
  ~Win32Driver();

  tk::Toolkit& kit() { return kit_; }
  int run() { return kit_.run(); }
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
  void endSession(tk::MainWindow& w);
  bool devicesChanged(tk::MainWindow& w);
  void playNextBox(BoxPlay play);
  const BoxSeen& lastBox();

 private:
  Win32Toolkit kit_;
  std::unique_ptr<w32test::UiCall> ui_;  // made on the test's thread
  std::unique_ptr<w32test::ModalPlayer> player_;
  BoxSeen seen_;
};

}  // namespace tarnset::contract
