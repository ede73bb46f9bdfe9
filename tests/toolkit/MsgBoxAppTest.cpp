#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "toolkit/MsgBoxApp.h"

namespace tarnset {
namespace {

// Records the message boxes asked for; creates nothing else.
class RecordingToolkit final : public tk::Toolkit {
 public:
  std::vector<std::pair<std::string, std::string>> boxes;  // text, title
  std::int16_t answer = 1;

  std::unique_ptr<tk::MainWindow> createMainWindow() override { return nullptr; }
  std::unique_ptr<tk::DialogWindow> createDialog() override { return nullptr; }
  std::unique_ptr<tk::Timer> createTimer() override { return nullptr; }
  std::unique_ptr<tk::Watch> watch(Waitable, std::function<void()>) override { return nullptr; }
  void post(std::function<void()>) override {}
  std::int16_t messageBox(const std::string& text, const std::string& title, const std::string&) override {
    boxes.emplace_back(text, title);
    return answer;
  }
  bool askOkCancel(const std::string&, const std::string&, const std::string&) override { return false; }
  int askChoice(const std::string&, const std::string&, const std::string&,
                const std::vector<std::string>&) override {
    return -1;
  }
  std::string chooseSaveFile(const std::string&, const std::string&,
                             const std::vector<tk::FileFilter>&) override {
    return {};
  }
  bool modalActive() const override { return false; }
  void beep() override {}
  bool writePdf(const std::string&, const std::string&, std::string&) override { return false; }
  bool canWritePdf() const override { return false; }
  std::int32_t screenWidth() const override { return 0; }
  std::int32_t screenHeight() const override { return 0; }
  std::int32_t twipsPerPixelX() const override { return 15; }
  std::int32_t twipsPerPixelY() const override { return 15; }
  void quit(int) override {}
};

TEST(MsgBoxApp, MsgBoxAppShowsTheExpandedTextUnderTheProgramTitle) {
  RecordingToolkit tk;
  EXPECT_EQ(MsgBoxApp(tk, "Port error\\nCheck the cable"), 1);
  tk.answer = 7;
  EXPECT_EQ(MsgBoxApp(tk, ""), 7);
  ASSERT_EQ(tk.boxes.size(), 2u);
  EXPECT_EQ(tk.boxes[0].first, "Port error\r\nCheck the cable");
  EXPECT_EQ(tk.boxes[0].second, "Tarnset ADJ Rev.1.2");
}

}  // namespace
}  // namespace tarnset
