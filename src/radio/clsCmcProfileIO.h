#pragma once
// Typed values in an INI-format file: one file, one current section, key=value lines.
// Numbers, booleans, dates and texts are converted to and from their text form;
// missing keys yield defaults. Failures are answered with false, never thrown.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tarnset {

// Fixed-point currency value: the number times 10000.
struct Currency {
  std::int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};

// Calendar date and time of day (no time zone).
struct DateTime {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
  bool operator==(const DateTime&) const = default;
};

// A typed value as the caller holds it. std::monostate stands for a value of a kind
// the store does not support (empty, null, object ...): such values are refused.
using ProfileValue = std::variant<std::monostate, std::int16_t, std::int32_t, float, double, Currency,
                                  std::uint8_t, std::string, bool, DateTime>;

class clsCmcProfileIO {
 public:
  clsCmcProfileIO();

  const std::string& Name() const { return name_; }
  void setName(const std::string& v) { name_ = v; }
  // Directory of the file, ending in the path separator.
  const std::string& Path() const { return path_; }
  void setPath(const std::string& v) { path_ = v; }
  const std::string& Section() const { return section_; }
  void setSection(const std::string& v) { section_ = v; }

  // Path + Name.
  std::string FullPath() const { return GetMyProfile(); }
  // Sets Path and Name from a full file path.
  void setFullPath(const std::string& f);
  // Path = the directory that holds the program's executable.
  void SetCurrentPath();
  std::string GetMyProfile() const { return path_ + name_; }

  // Writes the value's text under Section/sKey; false for an unsupported type or a failed write.
  bool saveData(const std::string& sKey, const ProfileValue& sData);
  // Reads Section/sKey into sData (converted to sData's type). Without a default the
  // current sData is the default; a default of another type is refused. False when
  // nothing was read or the text does not convert (sData is then unchanged).
  bool loadData(const std::string& sKey, ProfileValue& sData,
                const std::optional<ProfileValue>& sDefaultData = std::nullopt);

  static std::string StripTerminator(const std::string& s);
  static std::string GetFileName(const std::string& strPath);
  std::string GetPathName(const std::string& strFilename) const;
  static std::string UCase16(const std::string& s) { return s; }

  // The program's directory without a trailing separator (overridable for tests).
  void setProgramDir(const std::string& dir) { programDir_ = dir; }
  const std::string& programDir() const {
    if (programDir_.empty()) programDir_ = executableDir();
    return programDir_;
  }

 private:
  // The directory of the running executable, without a trailing separator.
  static std::string executableDir();

  std::string name_ = "Profile.INI";
  std::string path_;
  std::string section_;
  mutable std::string programDir_;  // empty until set or first looked up
};

}  // namespace tarnset
