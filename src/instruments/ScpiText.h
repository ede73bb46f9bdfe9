#pragma once
// The text of SCPI messages (IEEE 488.2 message rules): answers cut from a byte stream at
// their LF, numeric answers (NR1, NR2, NR3 with an optional unit suffix; 9.91E37 is "not a
// number", 9.9E37 infinity), the *IDN? answer, the SYST:ERR? answer, and numbers written
// into commands. Nothing here depends on the locale, and nothing throws on what an
// instrument sends.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnset {

// Cuts answer lines from received bytes: a line ends at LF, a CR before the LF is dropped.
class ScpiLineCutter {
 public:
  // Longest answer taken whole; a longer one is reported cut, and its rest up to the LF is
  // dropped.
  static constexpr std::size_t kMaxLine = 4096;

  struct Line {
    std::string text;       // without its line end (the first kMaxLine bytes of an over-long line)
    bool overLong = false;  // the line was longer than kMaxLine
  };

  // Takes received bytes; every line completed by them is appended to lines.
  void feed(std::string_view bytes, std::vector<Line>& lines);
  // The bytes received after the last LF (an answer still waiting for its end).
  const std::string& pending() const { return pending_; }
  // Drops what waits for its LF.
  void clear();

 private:
  std::string pending_;
  bool overLong_ = false;
};

// A numeric answer.
struct ScpiNumber {
  enum class Kind {
    Number,         // value holds it
    NoMeasurement,  // 9.91E37 (not a number) or +-9.9E37 (infinity): the instrument has no reading
    NotANumber,     // the text is no SCPI number
  };
  Kind kind = Kind::NotANumber;
  double value = 0.0;
  std::string unit;  // the suffix after the number in upper case ("HZ", "DBM"), empty when none
};

// Reads an answer as one SCPI number: blanks around it, a sign, digits with an optional
// point, an optional exponent (E or e), then optionally a unit of letters.
ScpiNumber parseScpiNumber(std::string_view answer);

// The four fields of the *IDN? answer.
struct ScpiIdentity {
  std::string maker;
  std::string model;
  std::string serial;
  std::string firmware;
};
// nullopt when the answer is not four comma-separated fields with a maker and a model.
std::optional<ScpiIdentity> parseScpiIdentity(std::string_view answer);

// One entry of the error queue as SYST:ERR? answers it: 0,"No error" or -113,"Undefined header".
struct ScpiError {
  int code = 0;
  std::string text;  // without its quotes
};
// nullopt when the answer is not an error queue entry.
std::optional<ScpiError> parseScpiError(std::string_view answer);

// A number as a command carries it: plain decimal with a point, at most maxDecimals
// decimals, trailing zeros left off ("145500000", "-10.5").
std::string formatScpiNumber(double value, int maxDecimals);

// Plain ASCII case and blanks, as instruments and the INI files spell their words.
std::string asciiUpper(std::string_view text);
std::string asciiLower(std::string_view text);
bool sameWord(std::string_view a, std::string_view b);  // equal without regard to case
std::string_view trimBlanks(std::string_view text);     // blanks, tabs, CR and LF on both ends

// Text from an instrument as it can be shown: printable ASCII kept, anything else as \xNN,
// at most maxChars characters ("..." after a cut).
std::string printableAnswer(std::string_view text, std::size_t maxChars = 120);

}  // namespace tarnset
