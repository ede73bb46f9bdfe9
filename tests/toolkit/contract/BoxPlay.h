#pragma once
// How the contract suite plays the user in a modal box, and what it saw there.
#include <functional>
#include <string>
#include <vector>

namespace tarnset::contract {

// The user's answer to a box.
enum class Reply { Ok, Cancel, Escape, CloseBox };

// What a box showed.
struct BoxSeen {
  bool found = false;
  std::string title;
  // Every line of text in the box (its text, then its details), empty lines left out.
  std::vector<std::string> lines;
  // The entries of its list, for a choice box.
  std::vector<std::string> choices;
};

// The user's part in the next box: look runs on the UI thread while the box is open, after
// the box has been open for a moment (long enough for a timer of the test to come due);
// then the user answers (choosing entry `choice` in a choice box).
struct BoxPlay {
  std::function<void()> look;
  Reply reply = Reply::Ok;
  int choice = 0;
};

// How long a box stays open before look runs.
constexpr int kBoxOpenMs = 150;

// The non-empty lines of a text (CR LF, CR or LF separate them).
std::vector<std::string> nonEmptyLines(const std::string& text);

}  // namespace tarnset::contract
