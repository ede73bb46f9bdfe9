#pragma once
// Small fakes around the console: a list box that keeps its lines and counts redraws,
// a sequencer that records the E8 texts it is given, and an owner that records events.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "clone/E8Sender.h"
#include "console/ConsoleEvents.h"
#include "toolkit/Toolkit.h"

namespace tarnset::test {

class FakeListBox : public tk::ListBox {
 public:
  void move(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {}
  std::int32_t left() const override { return 0; }
  std::int32_t top() const override { return 0; }
  std::int32_t width() const override { return 0; }
  std::int32_t height() const override { return 0; }
  void setVisible(bool) override {}
  bool visible() const override { return true; }
  void setFocus() override {}
  bool hasFocus() const override { return false; }
  void setTabStop(bool) override {}
  bool tabStop() const override { return true; }
  void moveToEndOfTabOrder() override {}

  void clear() override {
    lines.clear();
    ++clears;
  }
  void addItem(const std::string& text) override { lines.push_back(text); }
  void setItemText(std::int16_t n, const std::string& text) override {
    lines.at(static_cast<std::size_t>(n)) = text;
    ++redraws[n];
  }
  std::string itemText(std::int16_t n) const override { return lines.at(static_cast<std::size_t>(n)); }
  std::int16_t listCount() const override { return static_cast<std::int16_t>(lines.size()); }
  std::int16_t listIndex() const override { return selected; }
  void setListIndex(std::int16_t n) override { selected = n; }

  std::vector<std::string> lines;
  std::map<std::int16_t, int> redraws;  // setItemText calls per line
  int clears = 0;
  std::int16_t selected = -1;
};

class RecordingSender : public E8Sender {
 public:
  bool easySendE8NoAnswer(const std::string& spE8) override {
    noAnswer.push_back(spE8);
    return false;
  }
  bool easySendE8ReqAnswer(const std::string& spE8) override {
    reqAnswer.push_back(spE8);
    return false;
  }
  bool OpRunning() const override { return false; }
  bool sendRefused() const override { return refuse; }

  // The port refuses every frame: the sends are recorded but report refused.
  bool refuse = false;
  std::vector<std::string> noAnswer;
  std::vector<std::string> reqAnswer;
};

// One recorded event call.
struct EventCall {
  std::string kind;  // "Disp", "SendE8" or "Enter"
  std::int16_t index;
  std::int16_t evNo;
  std::int16_t val;
  bool operator==(const EventCall&) const = default;
};

class RecordingEvents : public ConsoleEvents {
 public:
  std::string ConsEv_Disp(clsConsole&, std::int16_t Index, std::int16_t evNo, std::int16_t val) override {
    calls.push_back({"Disp", Index, evNo, val});
    return "ev" + std::to_string(evNo) + "=" + std::to_string(val) + displaySuffix;
  }
  void ConsEv_SendE8(clsConsole&, std::int16_t Index, std::int16_t evNo, std::int16_t val) override {
    calls.push_back({"SendE8", Index, evNo, val});
  }
  void ConsEv_Enter(clsConsole&, std::int16_t Index, std::int16_t evNo, std::int16_t val) override {
    calls.push_back({"Enter", Index, evNo, val});
    displaySuffix = " entered";
  }
  void setWaitE8Required(std::int32_t ms) override { waits.push_back(ms); }

  std::vector<EventCall> calls;
  std::vector<std::int32_t> waits;
  std::string displaySuffix;
};

}  // namespace tarnset::test
