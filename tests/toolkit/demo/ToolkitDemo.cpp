// A small window program that shows the toolkit's elements as a technician sees them: a
// main window in the program's layout style, the dialog with a text field, a drop-down,
// a check box, a list and buttons, the choice box and a message box with a UTF-8 file
// name in its details. For looking at the Qt and the Win32 window (screenshots), not a test.
//
//   toolkit_demo [--dialog | --choice | --message]    opens that one at once
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#if defined(TARNSET_DEMO_QT)
#include <QApplication>

#include "toolkit/qt/QtToolkit.h"
#else
#include "toolkit/win32/Win32Toolkit.h"
#endif

namespace {

using namespace tarnset;

constexpr const char* kTitle = "Tarnset ADJ Rev.1.2";
// "C:\Users\José\отчёт.html" in UTF-8.
constexpr const char* kPath = "C:\\Users\\Jos\xC3\xA9\\\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.html";

class Demo {
 public:
  explicit Demo(tk::Toolkit& kit) : kit_(kit), win_(kit.createMainWindow()) {
    win_->setCaption(kTitle);
    win_->addMenu("&File").addItem("E&xit").onClick = [this] { win_->unload(); };
    win_->move(1200, 1200, 9525, 6000);
    tk::Frame& frame = win_->addFrame(nullptr);
    frame.move(120, 600, 9000, 3000);
    tk::ListBox& list = win_->addListBox(&frame);
    list.move(120, 240, 5400, 2520);
    for (const char* l :
         {" Channel        CH 1", " Power(Hi)       203", " Power(Lo)        41", " Bal             128",
          " Temperature   25 \xB0"
          "C"})
      list.addItem(l);
    list.setListIndex(1);
    tk::Label& port = win_->addLabel(nullptr);
    port.setCaption("COM 1: CLOSE");
    port.move(6600, 4000, 0, 0);
    port.setTip(std::string("Report saved to ") + kPath);
    const char* captions[] = {"Dialog...", "Choice...", "Message"};
    for (int i = 0; i < 3; ++i) {
      tk::CommandButton& b = win_->addButton(nullptr);
      b.setCaption(captions[i]);
      b.move(120 + i * 1900, 120, 1800, 420);
      b.onClick = [this, i] { open(i); };
    }
    win_->onUnload = [this] { kit_.quit(0); };
  }

  void show() { win_->show(); }

  void open(int which) {
    if (which == 0) showDialog();
    if (which == 1) {
      kit_.askChoice(
          "No radio answered on COM 3.\r\nUse this adapter as COM 3?", kTitle,
          "Serial adapters found on this computer:",
          {"COM 3  USB serial adapter (FTDI)", "COM 5  USB serial adapter", "COM 7  on-board port"});
    }
    if (which == 2) {
      kit_.messageBox("The service report was saved.", kTitle, std::string("File: ") + kPath);
    }
  }

 private:
  void showDialog() {
    dialog_ = kit_.createDialog();
    tk::DialogWindow& d = *dialog_;
    d.setCaption("Frequency counter");
    d.setClientSize(7440, 4080);
    tk::Frame& frame = d.addFrame(nullptr);
    frame.move(120, 60, 7200, 2040);
    tk::Label& addressLabel = d.addLabel(&frame);
    addressLabel.setCaption("Address");
    addressLabel.move(240, 300, 0, 0);
    tk::TextField& address = d.addTextField(&frame);
    address.move(1440, 240, 5520, 360);
    address.setText("TCPIP::192.168.0.40::5025::SOCKET");
    tk::Label& roleLabel = d.addLabel(&frame);
    roleLabel.setCaption("Role");
    roleLabel.move(240, 840, 0, 0);
    tk::DropDown& role = d.addDropDown(&frame);
    role.move(1440, 780, 3000, 360);
    for (const char* r : {"Generator", "Counter", "Power meter", "Deviation meter"}) role.addItem(r);
    role.setListIndex(1);
    tk::CheckBox& log = d.addCheckBox(&frame);
    log.move(1440, 1320, 5400, 360);
    log.setCaption("Log every answer to the trace");
    log.setChecked(true);
    tk::ListBox& found = d.addListBox(nullptr);
    found.move(120, 2220, 4560, 1200);
    for (const char* f : {"COUNTER,FC-3120,0042,1.07", "GEN,SG-1000,1187,2.1", "METER,PM-20,0007,0.9"})
      found.addItem(f);
    tk::CommandButton& ok = d.addButton(nullptr);
    ok.setCaption("OK");
    ok.setDefault(true);
    ok.move(4920, 3540, 1140, 420);
    ok.onClick = [this] { dialog_->close(); };
    tk::CommandButton& cancel = d.addButton(nullptr);
    cancel.setCaption("Cancel");
    cancel.setCancel(true);
    cancel.move(6180, 3540, 1140, 420);
    cancel.onClick = [this] { dialog_->close(); };
    d.show();
    address.setFocus();
  }

  tk::Toolkit& kit_;
  std::unique_ptr<tk::MainWindow> win_;
  std::unique_ptr<tk::DialogWindow> dialog_;
};

int openAtStart(const std::vector<std::string>& args) {
  for (const auto& a : args) {
    if (a == "--dialog") return 0;
    if (a == "--choice") return 1;
    if (a == "--message") return 2;
  }
  return -1;
}

template <class Kit>
int runDemo(Kit& kit, const std::vector<std::string>& args) {
  Demo demo(kit);
  demo.show();
  if (const int which = openAtStart(args); which >= 0) kit.post([&demo, which] { demo.open(which); });
  return kit.run();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
#if defined(TARNSET_DEMO_QT)
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  tarnset::QtToolkit kit;
#else
  tarnset::Win32Toolkit kit;
#endif
  return runDemo(kit, args);
}
