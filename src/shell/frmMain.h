#pragma once
// The main window: its menus, controls and key routing, the two options the user chooses
// in it (serial port and automatic port release), their saving and loading, one step of
// the program per poll tick, and the clone error message.
//
// The window holds little logic: buttons and most keys go to the model controller or to
// the console. It is a view of the model (model/TarnView.h): the controller tells it
// what happened, and the window shows it in its controls, which it places itself.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "link/ComHooks.h"
#include "model/TarnView.h"
#include "model/clsIndOp_RigTarn.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

class frmCom;
class InstrumentBench;
class clsCmcDornSequence;
class clsConsole;
class PortResolver;
class ServiceDesk;
class frmInstruments;
struct InstrumentsSetup;

class frmMain final : public ComHostOwner, public TarnView {
 public:
  // Creates the window with its menus and controls (not yet shown).
  frmMain(tk::Toolkit& toolkit, frmCom& com, clsCmcDornSequence& seq, clsConsole& console,
          PortResolver& resolver);
  ~frmMain() override;
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // Connects the model controller (created after the window's controls exist): the
  // window becomes one of its views.
  void setController(clsIndOp_RigTarn& controller);
  // The instruments of the bench, stepped with every tick; their links' events run a tick
  // at once (nullptr: none).
  void setInstruments(InstrumentBench* bench);
  // The dialog behind Option > Instruments... (nullptr: the item does nothing).
  void setInstrumentsDialog(frmInstruments* dialog) { instrumentsDialog_ = dialog; }
  // Puts the bench to work with other instruments (the dialog's OK): the measurement line
  // shows or hides with them.
  void applyInstruments(const InstrumentsSetup& setup);
  // Connects the service record behind the File menu's image, report and restore items.
  void setServiceDesk(ServiceDesk* desk) { desk_ = desk; }

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

  // Captions of the buttons, headers of the monitor lists, the empty progress line.
  void RigOpFunc_FormResource();
  // Places every control for the window's present size (sizes the window the first time).
  void RigOpFunc_FormLayout();

  // TarnView: what the model tells the window.
  void modelReset() override;
  void monitorLineChanged(MonitorBank bank, std::int16_t line, std::int16_t raw,
                          const std::string& text) override;
  void readProgress(std::int32_t lastAddress, std::int32_t endAddress) override;
  void panelsChanged(const TarnPanels& panels) override;
  void parameterListing(const std::vector<ParameterLine>& lines) override;
  void procedureEnded(TarnProcedure which, bool completed) override;
  void procedureRefused(TarnProcedure which, const std::string& message, const std::string& details) override;
  // The measurement of the selected item, on the line below the console.
  void measurementChanged(const ItemMeasurement& m) override;
  // A tune ended: a beep when the item is inside its limits, else a box that says why.
  void tuneEnded(const TuneResult& r) override;
  // Align All's progress on the measurement line.
  void alignProgress(const AlignStep& step, std::size_t done, std::size_t total) override;
  // The clone error message: shown in the program's message box after the port label.
  void linkFailed(const LinkFailure& f) override;

  tk::MainWindow& window() { return *window_; }
  tk::ListBox& lboConsole() { return *lboConsole_; }
  tk::CommandButton& cmd00(std::size_t i) { return *cmd00_.at(i); }
  tk::Label& lblComBusy() { return *lblComBusy_; }
  tk::Label& lblTitle() { return *lblTitle_; }
  tk::Label& lblProgress() { return *lblProgress_; }
  tk::Label& lblMeasure() { return *lblMeasure_; }
  tk::TextPane& txtDispPara() { return *txtDispPara_; }
  tk::ListBox& lbo01(std::size_t i) { return *lbo01_.at(i); }
  tk::Frame& fra01(std::size_t i) { return *fra01_.at(i); }
  tk::Line& linSepa(std::size_t i) { return *linSepa_.at(i); }
  tk::MenuItem& mnuOptSelCom(std::size_t i) { return *mnuOptSelCom_.at(i - 1); }
  tk::MenuItem& mnuFileReport() { return *mnuFileReport_; }
  tk::MenuItem& mnuFileRestore() { return *mnuFileRestore_; }
  tk::MenuItem& mnuFileSaveImage() { return *mnuFileSaveImage_; }
  tk::MenuItem& mnuFileAlign() { return *mnuFileAlign_; }
  tk::MenuItem& mnuOptionInstruments() { return *mnuOptionInstruments_; }
  tk::MenuItem& mnuOptionSelAutoRelease(std::size_t i) { return *mnuOptionSelAutoRelease_.at(i); }

  // The third line of the title block.
  static constexpr const char* kOwnerNotice = "Copyright (C) 2026 the Tarnset ADJ developers";

 private:
  void buildMenus();
  void buildControls();
  // The Port menu's captions ("COM 1 \u2014 COM7, USB Serial Port") and tips as the
  // resolver maps the numbers now.
  void updatePortTips();
  std::string portCaption(std::int16_t comNumber) const;
  // A COM number that opened nothing while serial adapters are present: the failure's box
  // lists them and offers one as this number; OK writes the mapping to the options file
  // and connects. False when there is nothing to offer (the plain box is shown then).
  bool offerAdapter(const LinkFailure& f);
  // Has the serial host run a tick as soon as the handler that asks returns, so that a
  // key or a button acts at once rather than on the next 50 ms tick.
  void actNow();
  // The port label: "COM n: OPEN" or "COM n: CLOSE" in its colour.
  void showPortState();
  // The File menu's service items enabled as the service record allows, and the port
  // label's tip naming the as-found backup.
  void showServiceState();
  // The instruments' links watched as the bench has them now.
  void watchInstruments();
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
  frmInstruments* instrumentsDialog_ = nullptr;

  std::int16_t comPortNo_ = 1;
  std::int16_t comAutoRelease_ = 0;
  bool unloaded_ = false;
  bool layoutDone_ = false;
  TarnPanel panelShown_ = TarnPanel::Start;

  std::unique_ptr<tk::MainWindow> window_;
  std::array<tk::MenuItem*, 4> mnuOptSelCom_{};
  std::array<tk::MenuItem*, 6> mnuOptionSelAutoRelease_{};
  tk::MenuItem* mnuFileExit_ = nullptr;
  tk::MenuItem* mnuOptionInstruments_ = nullptr;
  tk::MenuItem* mnuFileSaveImage_ = nullptr;
  tk::MenuItem* mnuFileReport_ = nullptr;
  tk::MenuItem* mnuFileRestore_ = nullptr;
  tk::MenuItem* mnuFileAlign_ = nullptr;
  std::string portTip_;
  std::array<tk::Frame*, 4> fra01_{};
  std::array<tk::CommandButton*, 3> cmd00_{};
  std::array<tk::ListBox*, 2> lbo01_{};
  tk::ListBox* lboConsole_ = nullptr;
  tk::Label* lblTitle_ = nullptr;
  tk::Label* lblProgress_ = nullptr;
  tk::Label* lblComBusy_ = nullptr;
  tk::Label* lblMeasure_ = nullptr;
  InstrumentBench* bench_ = nullptr;
  std::map<Waitable, std::unique_ptr<tk::Watch>> benchWatches_;
  tk::TextPane* txtDispPara_ = nullptr;
  std::array<tk::Line*, 2> linSepa_{};
};

}  // namespace tarnset
