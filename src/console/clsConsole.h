#pragma once
// The adjustment console: an ordered list of adjustment items shown one per line of a
// list box. Each item has a title, a 16-bit value kept within its limits, an optional
// bar, an optional EEPROM byte it is read from and written to, and an optional E8
// command that tells the radio a new value at once. Anything model-specific (special
// lines, special sends, Enter actions) goes to the owner through ConsoleEvents.
//
// Items are addressed by their 0-based Index, which is also their line in the list box.
// An Index outside 0..ListCount()-1 (a list with no selection gives -1) comes from the
// user and is refused: setters and operations do nothing at all, getters answer what a
// freshly added item holds (empty title, Value 0, Min 0, Max 255, no address, no
// command, no events, flags false) and the line texts are empty.
//
// Programming errors throw: a 32768th item, a step or a bar product that leaves the
// 16-bit range (std::overflow_error), and an event, send or EEPROM operation that needs
// an object the owner did not assign (std::logic_error). Without a list box the console
// works the same and simply draws nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "console/ConsoleEvents.h"

namespace tarnset {

class E8Sender;
class clsCmcEeprom;
namespace tk {
class ListBox;
}

class clsConsole {
 public:
  clsConsole();

  // The list box that shows one line per item.
  tk::ListBox* myListBox() const { return myListBox_; }
  void setMyListBox(tk::ListBox* p) { myListBox_ = p; }
  // Receives the console's events and the pause after a standard E8 send.
  ConsoleEvents* myEventClass() const { return myEventClass_; }
  void setMyEventClass(ConsoleEvents* p) { myEventClass_ = p; }
  // Sends the items' E8 commands.
  E8Sender* myDornSeq() const { return myDornSeq_; }
  void setMyDornSeq(E8Sender* p) { myDornSeq_ = p; }
  // The EEPROM image that ReadFromEe and WriteToEe use.
  clsCmcEeprom* myEeprom() const { return myEeprom_; }
  void setMyEeprom(clsCmcEeprom* p) { myEeprom_ = p; }

  // Empties the item store and the list box; the four object references stay.
  void Clear();
  // Appends an item with the default settings and draws its line.
  void AddItem();

  // Line caption. Setting it redraws the LAST item's line (callers title the item they
  // have just added), not necessarily the line of Index.
  std::string Title(std::int16_t Index) const;
  void setTitle(std::int16_t Index, const std::string& v);
  // Current value, always within Min..Max. Every assignment flags the item as changed,
  // also one that leaves the value as it was.
  std::int16_t Value(std::int16_t Index) const;
  void setValue(std::int16_t Index, std::int16_t v);
  // Lower limit; raising it above Max raises Max too.
  std::int16_t Min(std::int16_t Index) const;
  void setMin(std::int16_t Index, std::int16_t v);
  // Upper limit; lowering it below Min lowers Min too.
  std::int16_t Max(std::int16_t Index) const;
  void setMax(std::int16_t Index, std::int16_t v);
  // The standard line carries a bar.
  bool BarExist(std::int16_t Index) const;
  void setBarExist(std::int16_t Index, bool v);
  // Stepping past a limit wraps to the other limit.
  bool LoopVal(std::int16_t Index) const;
  void setLoopVal(std::int16_t Index, bool v);
  // Milliseconds the owner waits after this item's standard E8 command.
  std::int32_t WaitAfterE8(std::int16_t Index) const;
  void setWaitAfterE8(std::int16_t Index, std::int32_t v);
  // EEPROM byte address of the value; negative = none.
  std::int32_t EeAdr(std::int16_t Index) const;
  void setEeAdr(std::int16_t Index, std::int32_t v);
  // The EEPROM byte is a two's-complement signed byte.
  bool EeDataSigned(std::int16_t Index) const;
  void setEeDataSigned(std::int16_t Index, bool v);
  // E8 command code (0..255) of the standard send; negative = none.
  std::int16_t E8Command(std::int16_t Index) const;
  void setE8Command(std::int16_t Index, std::int16_t v);
  // Negative: the standard line. Otherwise the line comes from ConsEv_Disp with this code.
  // Setting it redraws the line at once, so the event object must already be assigned.
  std::int16_t Event_Disp(std::int16_t Index) const;
  void setEvent_Disp(std::int16_t Index, std::int16_t v);
  // Kept for the owner; no console operation acts on it.
  std::int16_t Event_Changed(std::int16_t Index) const;
  void setEvent_Changed(std::int16_t Index, std::int16_t v);
  // Negative: the standard send. Otherwise ConsEv_SendE8 with this code sends instead.
  std::int16_t Event_SendE8(std::int16_t Index) const;
  void setEvent_SendE8(std::int16_t Index, std::int16_t v);
  // Negative: Enter does nothing. Otherwise ConsEv_Enter with this code runs on Enter.
  std::int16_t Event_Enter(std::int16_t Index) const;
  void setEvent_Enter(std::int16_t Index, std::int16_t v);
  // The value was assigned since the owner last sent the item. Setting True also limits
  // the value and redraws the line.
  bool flgChanged(std::int16_t Index) const;
  void setFlgChanged(std::int16_t Index, bool v);
  // Enter was pressed on the item. Setting True clears it on every other item first.
  bool flgEnterOn(std::int16_t Index) const;
  void setFlgEnterOn(std::int16_t Index, bool v);

  // Number of items.
  std::int16_t ListCount() const { return count_; }
  // The standard line: title, ":", the value right-aligned in 4 characters, the bar.
  std::string DefaultString(std::int16_t Index) const;
  // " [" + one "#" per filled cell + one "-" per empty cell + "]".
  std::string BarString(std::int16_t Index) const;

  // Steps the value by stp (the arrow keys give -1/+1, with Shift -5/+5).
  void UpDown(std::int16_t Index, std::int16_t stp);
  // Redraws the item's line.
  void Disp(std::int16_t Index);
  // Loads the value from the item's EEPROM byte (limited, redrawn, flagged as changed).
  void ReadFromEe(std::int16_t Index);
  // Stores the low byte of the value into the item's EEPROM byte.
  void WriteToEe(std::int16_t Index);
  // Sends the value to the radio (own event or standard E8 command) and stores it; a
  // send the port refused stores nothing.
  void SendE8(std::int16_t Index);
  // Marks Enter as pressed on the item (the only pending one).
  void EnterPushed(std::int16_t Index);
  // Runs the item's Enter action and redraws its line.
  void EnterExec(std::int16_t Index);

 private:
  struct ConsoleItem {
    std::string Title;
    std::int16_t Value = 0;
    std::int16_t Min = 0;
    std::int16_t Max = 255;
    bool BarExist = false;
    bool LoopVal = false;
    std::int32_t WaitAfterE8 = 200;
    std::int32_t EeAdr = -1;
    bool EeDataSigned = false;
    std::int16_t E8Command = -1;
    std::int16_t Event_Disp = -1;
    std::int16_t Event_Changed = -1;
    std::int16_t Event_SendE8 = -1;
    std::int16_t Event_Enter = -1;
    bool flgChanged = false;
    bool flgEnterOn = false;
  };

  bool validIndex(std::int16_t Index) const { return Index >= 0 && Index < count_; }
  // The item, or a default item for an Index outside the store.
  const ConsoleItem& itemOrDefault(std::int16_t Index) const;
  void LimitValue(std::int16_t Index);
  ConsoleEvents& events() const;
  clsCmcEeprom& eeprom() const;

  tk::ListBox* myListBox_ = nullptr;
  ConsoleEvents* myEventClass_ = nullptr;
  E8Sender* myDornSeq_ = nullptr;
  clsCmcEeprom* myEeprom_ = nullptr;
  std::vector<ConsoleItem> items_;
  std::int16_t count_ = 0;
  std::int16_t myBarWidth_ = 20;
};

}  // namespace tarnset
