#pragma once
// The main window: its menus, controls and key routing, the two options the user chooses
// in it (serial port and automatic port release), their saving and loading, one step of
// the program per poll tick, and the clone error message.
//
// The window holds little logic: buttons and most keys go to the model controller or to
// the console; the controller places and captions most controls.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "clone/CloneHooks.h"
#include "link/ComHooks.h"
#include "model/clsIndOp_RigTarn.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

class frmCom;
class clsCmcDornSequence;
class clsConsole;
class PortResolver;
class ServiceDesk;

class frmMain final : public CloneErrorReporter, public ComHostOwner {
 public:
  // Creates the window with its menus and controls (not yet shown).
  frmMain(tk::Toolkit& toolkit, frmCom& com, clsCmcDornSequence& seq, clsConsole& console,
          PortResolver& resolver);
  ~frmMain() override;
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // The controls the model controller places and fills.
  TarnFormControls controls() const;
  // Connects the model controller (created after the window's controls exist).
  void setController(clsIndOp_RigTarn& controller) { controller_ = &controller; }
  // Connects the service record behind the File menu's image, report and restore items.
  void setServiceDesk(ServiceDesk* desk) { desk_ = desk; }

  // Called after the port mapping was taken again (the user chose a port): refresh tips.
  void setRefreshPorts(std::function<void()> f) { refreshPorts_ = std::move(f); }
  // Text after "Cannot access COM" in the open-failure headline; empty: the port number.
  void setPortText(std::string text) { portText_ = std::move(text); }

  // Selected serial port; setting it tells the model controller.
  std::int16_t ComPortNo() const { return comPortNo_; }
  void setComPortNo(std::int16_t v);
  // Automatic port release in whole seconds (0 = off); setting it sets the sequencer's
  // hold time to v x 1000 ms.
  std::int16_t ComAutoRelease() const { return comAutoRelease_; }
  void setComAutoRelease(std::int16_t v);

  // Window events.
  void Form_Initialize();
  // Reads the constants file and sets captions and layout; false when Const.ini is
  // missing or not valid (the message has been shown, naming where the file was looked
  // for and, for an installed program, copyFolder where its package keeps one; the
  // program must end).
  bool Form_Load(bool readConstFile, const std::string& constFile, const std::string& copyFolder = {});
  void Form_Resize();
  void Form_QueryUnload();
  void Form_Unload();

  // ComHostOwner: one step per poll tick, the link error, the options.
  void task() override;
  void showLinkError() override;
  void saveData(clsCmcProfileIO& objProf) override;
  void loadData(clsCmcProfileIO& objProf) override;
  void SaveOptions() override;

  // The clone error message: composed from the flags of the serial host, the driver and
  // the sequencer; the controller is reset before the box is shown.
  void MsgBoxCloneErr(clsCmcDornSequence& myObjDornSeq) override;
  // The text of the last clone error message shown (lines joined by CR LF).
  const std::string& lastCloneError() const { return lastCloneError_; }

  tk::MainWindow& window() { return *window_; }
  tk::ListBox& lboConsole() { return *lboConsole_; }
  tk::CommandButton& cmd00(std::size_t i) { return *cmd00_.at(i); }
  tk::Label& lblComBusy() { return *lblComBusy_; }
  tk::Label& lblTitle() { return *lblTitle_; }
  tk::TextPane& txtDispPara() { return *txtDispPara_; }
  tk::ListBox& lbo01(std::size_t i) { return *lbo01_.at(i); }
  tk::Frame& fra01(std::size_t i) { return *fra01_.at(i); }
  tk::Line& linSepa(std::size_t i) { return *linSepa_.at(i); }
  tk::MenuItem& mnuOptSelCom(std::size_t i) { return *mnuOptSelCom_.at(i - 1); }
  tk::MenuItem& mnuFileReport() { return *mnuFileReport_; }
  tk::MenuItem& mnuFileRestore() { return *mnuFileRestore_; }
  tk::MenuItem& mnuFileSaveImage() { return *mnuFileSaveImage_; }
  tk::MenuItem& mnuOptionSelAutoRelease(std::size_t i) { return *mnuOptionSelAutoRelease_.at(i); }

  // The third line of the title block.
  static constexpr const char* kOwnerNotice = "Copyright (C) 2026 the Tarnset ADJ developers";

 private:
  void buildMenus();
  void buildControls();
  void updatePortTips();
  // Has the serial host run a tick as soon as the handler that asks returns, so that a
  // key or a button acts at once rather than on the next 50 ms tick.
  void actNow();
  // The port label: "COM n: OPEN" or "COM n: CLOSE" in its colour.
  void showPortState();
  // The File menu's service items enabled as the service record allows, and the port
  // label's tip naming the as-found backup.
  void showServiceState();
  void lboConsole_GotFocus();
  void lboConsole_KeyDown(std::int16_t& keyCode, std::int16_t shift);
  void Form_KeyDown(std::int16_t& keyCode, std::int16_t shift);
  void CloseAll();

  tk::Toolkit& toolkit_;
  frmCom& com_;
  clsCmcDornSequence& seq_;
  clsConsole& console_;
  PortResolver& resolver_;
  clsIndOp_RigTarn* controller_ = nullptr;
  ServiceDesk* desk_ = nullptr;
  std::function<void()> refreshPorts_;
  std::string portText_;

  std::int16_t comPortNo_ = 1;
  std::int16_t comAutoRelease_ = 0;
  std::string lastCloneError_;
  bool unloaded_ = false;

  std::unique_ptr<tk::MainWindow> window_;
  std::array<tk::MenuItem*, 4> mnuOptSelCom_{};
  std::array<tk::MenuItem*, 6> mnuOptionSelAutoRelease_{};
  tk::MenuItem* mnuFileExit_ = nullptr;
  tk::MenuItem* mnuFileSaveImage_ = nullptr;
  tk::MenuItem* mnuFileReport_ = nullptr;
  tk::MenuItem* mnuFileRestore_ = nullptr;
  std::string portTip_;
  std::array<tk::Frame*, 4> fra01_{};
  std::array<tk::CommandButton*, 3> cmd00_{};
  std::array<tk::ListBox*, 2> lbo01_{};
  tk::ListBox* lboConsole_ = nullptr;
  tk::Label* lblTitle_ = nullptr;
  tk::Label* lblProgress_ = nullptr;
  tk::Label* lblComBusy_ = nullptr;
  tk::TextPane* txtDispPara_ = nullptr;
  std::array<tk::Line*, 2> linSepa_{};
};

}  // namespace tarnset
