#include "toolkit/contract/HeadlessDriver.h"

#include <chrono>
#include <thread>

namespace tarnset::contract {

HeadlessDriver::HeadlessDriver() {
  kit_.setMessageBoxHook(
      [this](const HeadlessToolkit::Message& m) { inBox(m.title, m.text, m.details, {}); });
  kit_.setQuestionHook([this](const HeadlessToolkit::Message& m) {
    inBox(m.title, m.text, m.details, {});
    return play_.reply == Reply::Ok;
  });
  kit_.setChoiceHook([this](const HeadlessToolkit::ChoiceRequest& r) {
    inBox(r.title, r.text, r.details, r.choices);
    return play_.reply == Reply::Ok ? play_.choice : -1;
  });
}

void HeadlessDriver::inBox(const std::string& title, const std::string& text, const std::string& details,
                           const std::vector<std::string>& choices) {
  // What a nested loop would do while the box is open.
  std::this_thread::sleep_for(std::chrono::milliseconds(kBoxOpenMs));
  kit_.runDueTimers();
  kit_.waitWatches(0);
  kit_.runPosted();
  if (play_.look) play_.look();
  seen_ = {true, title, nonEmptyLines(text), choices};
  for (auto& line : nonEmptyLines(details)) seen_.lines.push_back(line);
}

void HeadlessDriver::press(tk::Window& w, std::int16_t key, std::int16_t shift) {
  if (auto* d = dynamic_cast<tk::DialogWindow*>(&w)) {
    kit_.pressKey(*d, key, shift);
  } else {
    kit_.pressKey(key, shift);
  }
}

void HeadlessDriver::choose(tk::MainWindow& /*w*/, tk::MenuItem& item) {
  dynamic_cast<tk::MenuItemCore&>(item).choose();
}

void HeadlessDriver::open(tk::MainWindow& /*w*/, tk::Menu& menu) {
  dynamic_cast<tk::MenuCore&>(menu).aboutToShow();
}

}  // namespace tarnset::contract
