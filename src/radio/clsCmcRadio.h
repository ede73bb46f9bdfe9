#pragma once
// The radio that the program expects on the link: model and sub-model codes, the
// clone-write address list, and the one EEPROM image. The image changes by whole reads
// (commitRead) and by the values the program sends; a read that fails leaves it as it was.
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

  // A clone read completed whole: its bytes 0 .. end - 1 become the image (the rest of the
  // image is zero: it is not the radio's), and the radio's sub-model code is taken.
  void commitRead(const clsCmcEeprom& read, std::int32_t end, const std::string& subModel);
  // The addresses 0 .. readEnd() - 1 came from the radio's last whole read (the whole
  // image when no read has narrowed it).
  std::int32_t readEnd() const { return readEnd_; }

  void cloneWriteAdrList_Clear();
  // Appends "AAAA-BBBB," with the low 16 bits of each address in upper-case hex.
  void cloneWriteAdrList_Add(std::int32_t adr0, std::int32_t adr1);
  const std::string& cloneWriteAdrList_get() const { return cloneWriteAdrList_; }

 private:
  clsCmcEeprom eepImage_;
  std::string radioNameM_ = "0000";
  std::string radionameS_ = "0000";
  std::string cloneWriteAdrList_;
  std::int32_t readEnd_ = clsCmcEeprom::kDefaultSize;
};

}  // namespace tarnset
