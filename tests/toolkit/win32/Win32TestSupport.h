#pragma once
// Playing the user of a Win32 window in tests (Wine's null display driver on the build
// machines): keys through the system's input, the thread's messages dispatched, and the
// modal boxes of the test's thread found and answered from a thread of their own.
#define NOMINMAX
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tarnset::w32test {

std::wstring textOf(HWND h);
std::wstring classOf(HWND h);

// Dispatches the thread's messages until none has come for a moment.
void pump();

struct Mods {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  bool extended = false;  // the keypad's Enter, for one
};

// Presses and releases a key through the system's input, as the user does.
void sendKey(WORD vk, Mods m = {});
// A key pressed and handled.
void press(WORD vk, Mods m = {});
// Characters typed through the system's input (as Unicode input) and handled.
void typeText(const std::wstring& text);

// The visible dialog box (class #32770) of a thread, other than except; nullptr when none.
HWND findDialog(DWORD thread, HWND except = nullptr);
// The same, waiting for it up to five seconds.
HWND waitForDialog(DWORD thread, HWND except = nullptr);

// Runs a function on the test's thread when another thread asks: the way to look at the
// toolkit while the test's thread sits in a modal box's loop.
class UiCall {
 public:
  UiCall();
  ~UiCall();
  UiCall(const UiCall&) = delete;
  UiCall& operator=(const UiCall&) = delete;
  // From another thread: runs f on the test's thread and waits for it.
  void call(const std::function<void()>& f) const;

 private:
  HWND hwnd_;
};

// Plays the user in the modal dialog that the test's thread opens next: act runs on a
// thread of its own once the dialog is shown.
class ModalPlayer {
 public:
  explicit ModalPlayer(std::function<void(HWND)> act);
  ~ModalPlayer() { finish(); }
  ModalPlayer(const ModalPlayer&) = delete;
  ModalPlayer& operator=(const ModalPlayer&) = delete;
  // Waits for the player; true when it found a dialog.
  bool finish();

 private:
  DWORD ui_;
  std::atomic<bool> found_{false};
  std::thread thread_;
};

// What a box shows.
struct Box {
  std::wstring title;
  std::wstring text;  // the texts of its static controls, one below the other
  HICON icon = nullptr;
  std::vector<int> buttons;  // the ids of the visible buttons
  std::vector<std::wstring> choices;
  int defaultButton = 0;
};
Box readBox(HWND box);

// A key pressed in a dialog of another thread: to its focused control, whose dialog loop
// handles it.
void keyInDialog(HWND dialog, UINT vk);

}  // namespace tarnset::w32test
