#pragma once
// The radio that the program expects on the link: model and sub-model codes, the
// clone-write address list, and the one EEPROM image.
#include <cstdint>
#include <string>

#include "radio/clsCmcEeprom.h"

namespace tarnset {

class clsCmcRadio {
 public:
  clsCmcEeprom& eepImage() { return eepImage_; }
  const clsCmcEeprom& eepImage() const { return eepImage_; }

  const std::string& radioNameM() const { return radioNameM_; }
  void setRadioNameM(const std::string& v) { radioNameM_ = v; }
  const std::string& radionameS() const { return radionameS_; }
  void setRadionameS(const std::string& v) { radionameS_ = v; }

  void cloneWriteAdrList_Clear();
  // Appends "AAAA-BBBB," with the low 16 bits of each address in upper-case hex.
  void cloneWriteAdrList_Add(std::int32_t adr0, std::int32_t adr1);
  const std::string& cloneWriteAdrList_get() const { return cloneWriteAdrList_; }

 private:
  clsCmcEeprom eepImage_;
  std::string radioNameM_ = "0000";
  std::string radionameS_ = "0000";
  std::string cloneWriteAdrList_;
};

}  // namespace tarnset
