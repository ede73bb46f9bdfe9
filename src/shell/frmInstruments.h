#pragma once
// The Instruments dialog (Option > Instruments...): the bench's instruments as
// Instruments.ini holds them, one shown at a time (picked in the drop-down at the top),
// each with its name, address, profile, roles, settle time, time-out, cable loss, serial
// speed and calibration due date. Test asks the instrument shown for its identity (*IDN?)
// with what is entered now; OK checks every entry, writes the file and puts the bench to
// work with it; Cancel leaves file and bench as they were.
//
// The dialog is not modal: the radio's link and the measurements go on behind it.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "instruments/InstrumentsFile.h"

namespace tarnset {

class TickSource;
class TransportFactory;
class InstrumentBench;
struct BenchResult;
namespace tk {
class Toolkit;
class DialogWindow;
class DropDown;
class TextField;
class CheckBox;
class CommandButton;
class Label;
class Frame;
class Timer;
}  // namespace tk

class frmInstruments {
 public:
  struct Host {
    // Why the bench cannot take other instruments now (a measurement, a tune or Align All
    // under way); empty when it can.
    std::function<std::string()> busy;
    // Puts the bench to work with the setup (the file has been written).
    std::function<void(const InstrumentsSetup&)> apply;
  };

  // file: Instruments.ini; bench: the program's bench (an instrument it holds open is
  // tested through it); links: how a test reaches an instrument the bench does not hold.
  frmInstruments(tk::Toolkit& toolkit, const TickSource& clock, TransportFactory& links, InstrumentBench& bench,
                 std::string file, Host host);
  ~frmInstruments();
  frmInstruments(const frmInstruments&) = delete;
  frmInstruments& operator=(const frmInstruments&) = delete;

  // Reads the file anew and shows the dialog (brings it to the front when it is open).
  void show();
  bool isShown() const;

  tk::DialogWindow& window() { return *dialog_; }
  tk::DropDown& cboInstrument() { return *cboInstrument_; }
  tk::TextField& txtName() { return *txtName_; }
  tk::TextField& txtAddress() { return *txtAddress_; }
  tk::DropDown& cboProfile() { return *cboProfile_; }
  tk::CheckBox& chkRole(std::size_t i) { return *chkRole_.at(i); }
  tk::TextField& txtSettle() { return *txtSettle_; }
  tk::TextField& txtTimeout() { return *txtTimeout_; }
  tk::TextField& txtCableLoss() { return *txtCableLoss_; }
  tk::TextField& txtBaud() { return *txtBaud_; }
  tk::TextField& txtCalibration() { return *txtCalibration_; }
  tk::CommandButton& cmdAdd() { return *cmdAdd_; }
  tk::CommandButton& cmdRemove() { return *cmdRemove_; }
  tk::CommandButton& cmdTest() { return *cmdTest_; }
  tk::CommandButton& cmdOk() { return *cmdOk_; }
  tk::CommandButton& cmdCancel() { return *cmdCancel_; }
  tk::Label& lblTest() { return *lblTest_; }

 private:
  // One instrument as typed: numbers stay text until they are checked.
  struct Draft {
    std::string name, address, profile;
    std::array<bool, 4> roles{};
    std::string settle, timeout, cableLoss, baud, calibration;
  };
  static Draft draftOf(const InstrumentEntry& e);
  // The entry of a draft, or nullopt with why (one line naming the field).
  std::optional<InstrumentEntry> entryOf(const Draft& d, std::string& why) const;

  void build();
  void layOut();
  // The drop-down's entries from the drafts' names; the current one selected.
  void listInstruments();
  // The fields from the current draft, and back.
  void showCurrent();
  void takeField();
  void pick();
  void add();
  void remove();
  void test();
  void testEnded(std::uint32_t run, const BenchResult& r);
  void ok();
  void cancel();
  void stopTest();

  tk::Toolkit& toolkit_;
  const TickSource& clock_;
  TransportFactory& links_;
  InstrumentBench& bench_;
  std::string file_;
  Host host_;

  InstrumentsSetup loaded_;
  std::vector<Draft> drafts_;
  int current_ = -1;
  bool filling_ = false;  // the fields are being set from a draft, not typed
  std::uint32_t testRun_ = 0;
  std::unique_ptr<InstrumentBench> testBench_;

  std::unique_ptr<tk::DialogWindow> dialog_;
  std::unique_ptr<tk::Timer> testTick_;
  tk::DropDown* cboInstrument_ = nullptr;
  tk::TextField* txtName_ = nullptr;
  tk::TextField* txtAddress_ = nullptr;
  tk::DropDown* cboProfile_ = nullptr;
  std::array<tk::CheckBox*, 4> chkRole_{};
  tk::TextField* txtSettle_ = nullptr;
  tk::TextField* txtTimeout_ = nullptr;
  tk::TextField* txtCableLoss_ = nullptr;
  tk::TextField* txtBaud_ = nullptr;
  tk::TextField* txtCalibration_ = nullptr;
  tk::CommandButton* cmdAdd_ = nullptr;
  tk::CommandButton* cmdRemove_ = nullptr;
  tk::CommandButton* cmdTest_ = nullptr;
  tk::CommandButton* cmdOk_ = nullptr;
  tk::CommandButton* cmdCancel_ = nullptr;
  tk::Label* lblTest_ = nullptr;
  tk::Frame* frame_ = nullptr;  // the fields of the instrument shown; hidden when there is none
  std::vector<tk::Label*> labels_;
};

}  // namespace tarnset
