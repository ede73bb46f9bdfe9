// Fuzzes the options file: the INI routines and the typed profile store reading and
// writing whatever a file holds.
//
// Input layout:
//   byte 0  selector: kind of the typed value saved = b % 9 (int16, int32, single,
//           double, currency, byte, text, boolean, date); b / 9 % 2 = 1: it is saved
//           under the key below, else under "Val"; b / 18 % 9: the kind also loaded
//           with a default
//   byte 1  auxiliary: read buffer size = kSizes[b % 9] for a cut read; bit 7: the value
//           text is repeated to a long text (beyond the 254-character read buffer)
//   then the section name, the key name and the value text, each a length byte L and
//   L bytes (L % 48 for the names); the rest is the file's content.
//
// The file is written to one scratch path (in a memory file system where there is one)
// and then read as section/key with several defaults and buffer sizes, loaded as every
// typed value (one of them with a default too), written with iniWriteString and saveData.
//
// Whatever the file holds: nothing throws; a read is cut to its buffer, gives the
// default exactly when the key is missing and leaves the file as it was; typed loads
// that fail leave the value as it was, and the types agree with each other on one text
// (a whole number is the rounded double, a single the narrowed double, a currency the
// double to four places). A write that the arguments allow succeeds; afterwards the
// key reads as the text written (trimmed, quotes removed), every other line of the file
// is kept byte for byte (the last line may gain a line end), other keys read as before,
// no temporary file is left and writing the same again changes nothing. A write that
// the arguments do not allow fails and leaves the file as it was. A typed value saved
// reads back as the same value.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "platform/IniFile.h"
#include "radio/clsCmcProfileIO.h"

namespace {

using tarnset::clsCmcProfileIO;
using tarnset::Currency;
using tarnset::DateTime;
using tarnset::iniReadString;
using tarnset::iniWriteString;
using tarnset::ProfileValue;
using tarnset::fuzz::violated;

constexpr std::size_t kSizes[] = {0, 1, 2, 5, 20, 254, 255, 256, 1000};
constexpr std::size_t kWhole = 1 << 20;  // a read buffer that cuts nothing
const std::string kDefault1 = "\x01<one>";
const std::string kDefault2 = "<two>";

// A fresh directory for the options file, removed with its contents at exit.
class ScratchFile {
 public:
  ScratchFile() {
    const char* tmp = std::getenv("TMPDIR");
    for (const std::string& base :
         {std::string("/dev/shm"), std::string(tmp ? tmp : "/tmp"), std::string("/tmp")}) {
      std::string pattern = base + "/tarnset-fuzz-XXXXXX";
      if (::mkdtemp(pattern.data()) != nullptr) {
        dir_ = pattern;
        break;
      }
    }
    if (dir_.empty()) violated("no scratch directory");
    path_ = dir_ + "/TarnsetADJ.rs";
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }

  void write(const std::string& content) const {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) violated("cannot write the scratch file");
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
      if (n <= 0) violated("cannot write the scratch file");
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }

  std::string read() const {
    std::string content;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) violated("the options file is gone");
    char buf[8192];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) content.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return content;
  }

  // Entries of the directory other than the options file (temporary files left behind).
  int strayFiles() const {
    int count = 0;
    DIR* d = ::opendir(dir_.c_str());
    if (d == nullptr) violated("the scratch directory is gone");
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name != "TarnsetADJ.rs") ++count;
    }
    ::closedir(d);
    return count;
  }

 private:
  std::string dir_;
  std::string path_;
};

// ---- the rules of the file format, as the INI routines' header states them ----

std::string cutAtNul(const std::string& s) {
  return s.substr(0, s.find('\0'));
}

std::string trimBlanks(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A section or key name as the routines compare it.
std::string nameKey(const std::string& s) {
  std::string n = trimBlanks(cutAtNul(s));
  for (char& c : n) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return n;
}

bool hasLineBreak(const std::string& s) {
  return s.find_first_of("\r\n") != std::string::npos;
}

// Whether a write of these arguments can be stored in the file's lines.
bool storable(const std::string& section, const std::string& key, const std::string& value) {
  const std::string s = trimBlanks(cutAtNul(section));
  const std::string k = trimBlanks(cutAtNul(key));
  if (hasLineBreak(s) || s.find(']') != std::string::npos) return false;
  if (k.empty() || hasLineBreak(k) || k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';')
    return false;
  return !hasLineBreak(cutAtNul(value));
}

// The text a value written as value reads back as (with a buffer that cuts nothing).
std::string readsBackAs(const std::string& value) {
  std::string v = trimBlanks(cutAtNul(value));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return v;
}

std::string cut(const std::string& s, std::size_t size) {
  return size == 0 ? std::string() : s.substr(0, size - 1);
}

// ---- reads ----

struct KeyRead {
  bool present = false;
  std::string value;  // uncut; the default when missing
};

KeyRead readKey(const ScratchFile& f, const std::string& section, const std::string& key, std::size_t size) {
  const std::string whole = iniReadString(section, key, kDefault1, kWhole, f.path());
  const std::string r1 = iniReadString(section, key, kDefault1, 255, f.path());
  const std::string r2 = iniReadString(section, key, kDefault2, 255, f.path());
  const std::string rn = iniReadString(section, key, kDefault1, size, f.path());
  KeyRead k{r1 != kDefault1 || r2 != kDefault2, whole};
  if (!k.present) {
    if (whole != kDefault1) violated("a missing key read as something else than its default");
  } else {
    if (r1 != r2) violated("a present key read differently with another default");
    if (whole.find('\n') != std::string::npos) violated("a value holds a line end");
  }
  if (r1 != cut(whole, 255)) violated("a read not cut to its buffer size");
  if (rn != cut(whole, size)) violated("a read not cut to its buffer size");
  return k;
}

// ---- lines kept by a write ----

std::vector<std::string> rawLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t nl = content.find('\n', pos);
    if (nl == std::string::npos) {
      lines.push_back(content.substr(pos));
      return lines;
    }
    lines.push_back(content.substr(pos, nl - pos));
    pos = nl + 1;
  }
}

// after differs from before by one key line's value, or by up to four added lines (a
// blank, a header, the key line and the empty rest after the last line end), and the
// last line may gain a line end.
void checkLinesKept(const std::string& before, const std::string& after) {
  const std::vector<std::string> o = rawLines(before);
  const std::vector<std::string> n = rawLines(after);
  std::size_t p = 0;
  while (p < o.size() && p < n.size() && o[p] == n[p]) ++p;
  std::size_t s = 0;
  while (s < o.size() - p && s < n.size() - p && o[o.size() - 1 - s] == n[n.size() - 1 - s]) ++s;
  const std::size_t oldMid = o.size() - p - s;
  const std::size_t newMid = n.size() - p - s;
  if (oldMid == 0 && newMid <= 4) return;
  if (oldMid == 1) {
    const std::string& line = o[p];
    // The last line, which had no line end, gains one ("\r\n" splits as a CR here).
    if (s == 0 && p == o.size() - 1 && newMid >= 1 && newMid <= 5 && (n[p] == line || n[p] == line + "\r"))
      return;
    const std::size_t eq = line.find('=');
    if (newMid == 1 && eq != std::string::npos && n[p].compare(0, eq + 1, line, 0, eq + 1) == 0) return;
  }
  violated("a write changed other lines of the file");
}

// Section and key names the file seems to hold: probes for keys a write must not touch.
struct Probe {
  std::string section, key;
};

// At most three, none of them the key written or the key saved.
std::vector<Probe> probesOf(const std::string& content, const std::string& section, const std::string& key,
                            const std::string& typedKey) {
  std::vector<std::string> sections{section}, keys;
  for (const std::string& raw : rawLines(content)) {
    const std::string line = trimBlanks(raw);
    if (!line.empty() && line[0] == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string::npos && sections.size() < 3) sections.push_back(line.substr(1, close - 1));
    } else if (const std::size_t eq = raw.find('='); eq != std::string::npos && keys.size() < 3) {
      keys.push_back(raw.substr(0, eq));
    }
  }
  std::vector<Probe> probes;
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      const bool written =
          nameKey(s) == nameKey(section) && (nameKey(k) == nameKey(key) || nameKey(k) == nameKey(typedKey));
      if (!written) probes.push_back({s, k});
      if (probes.size() == 3) return probes;
    }
  }
  return probes;
}

std::vector<std::string> probeValues(const ScratchFile& f, const std::vector<Probe>& probes) {
  std::vector<std::string> values;
  for (const Probe& p : probes)
    values.push_back(iniReadString(p.section, p.key, kDefault1, kWhole, f.path()));
  return values;
}

// A write onto the file's present content: ok tells whether it reported success.
void checkWrite(const ScratchFile& f, const std::string& before, bool ok, bool allowed,
                const std::vector<Probe>& probes, const std::vector<std::string>& probesBefore) {
  const std::string after = f.read();
  if (!allowed) {
    if (ok) violated("a write the arguments do not allow succeeded");
    if (after != before) violated("a refused write changed the file");
    return;
  }
  if (!ok) violated("a write the arguments allow failed");
  if (f.strayFiles() != 0) violated("a write left a temporary file");
  checkLinesKept(before, after);
  if (probeValues(f, probes) != probesBefore) violated("a write changed the value of another key");
}

// ---- typed values ----

// Values of every kind that the store holds: as found before a load, and as defaults.
std::array<ProfileValue, 9> sentinels() {
  return {std::int16_t{7},
          std::int32_t{-70000},
          0.25f,
          -1.5,
          Currency{123},
          std::uint8_t{9},
          std::string("sent"),
          true,
          DateTime{2001, 2, 3, 4, 5, 6}};
}
std::array<ProfileValue, 9> defaults() {
  return {std::int16_t{-3},
          std::int32_t{123456},
          -8.5f,
          1e10,
          Currency{-5},
          std::uint8_t{200},
          std::string("dflt"),
          false,
          DateTime{1999, 12, 31, 23, 59, 58}};
}

bool validDate(const DateTime& t) {
  using namespace std::chrono;
  const year_month_day ymd{year{t.year}, month{static_cast<unsigned>(t.month)},
                           day{static_cast<unsigned>(t.day)}};
  return t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 &&
         ymd.ok() && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
         t.second <= 59;
}

bool acceptable(const ProfileValue& v) {
  if (const float* f = std::get_if<float>(&v)) return std::isfinite(*f);
  if (const double* d = std::get_if<double>(&v)) return std::isfinite(*d);
  if (const DateTime* t = std::get_if<DateTime>(&v)) return validDate(*t);
  return true;
}

struct Load {
  bool ok = false;
  ProfileValue value;
};

// Loads key as each kind, and as one kind with a default too, and checks each kind alone.
std::array<Load, 9> loadEveryKind(clsCmcProfileIO& prof, const std::string& key, bool present,
                                  std::size_t defaultKind) {
  const auto start = sentinels();
  const auto dflt = defaults();
  std::array<Load, 9> loads;
  for (std::size_t i = 0; i < start.size(); ++i) {
    ProfileValue v = start[i];
    const bool ok = prof.loadData(key, v);
    if (v.index() != start[i].index()) violated("a load changed the value's kind");
    if (!ok && v != start[i]) violated("a failed load changed the value");
    if (ok && !acceptable(v)) violated("a load gave a value the store cannot hold");
    if (!present && (!ok || v != start[i])) violated("a missing key did not give the value's own default");

    loads[i] = {ok, v};
    if (i != defaultKind) continue;
    ProfileValue w = start[i];
    const bool okWithDefault = prof.loadData(key, w, dflt[i]);
    if (present && (okWithDefault != ok || w != v)) violated("a default changed the load of a present key");
    if (!present && (!okWithDefault || w != dflt[i])) violated("a missing key did not give the default");
  }
  ProfileValue v = start[0];
  if (prof.loadData(key, v, start[1]) || v != start[0]) violated("a default of another kind was taken");
  ProfileValue none;
  if (prof.loadData(key, none)) violated("a value of no kind was loaded");
  return loads;
}

template <class T>
const T& as(const Load& l) {
  return std::get<T>(l.value);
}

// One text loaded as every kind: the kinds agree with each other.
void checkKindsAgree(const std::array<Load, 9>& l, const std::string& rawValue) {
  const Load &i16 = l[0], &i32 = l[1], &sgl = l[2], &dbl = l[3], &cur = l[4], &byte = l[5], &text = l[6],
             &flag = l[7];
  if (text.ok != !cut(rawValue, 255).empty()) violated("a text load disagrees with the read");
  if (flag.ok != text.ok || (flag.ok && as<bool>(flag) != (as<std::string>(text) != "0")))
    violated("a boolean load disagrees with the text");
  if (dbl.ok && !text.ok) violated("a number loaded from no text");
  const double d = dbl.ok ? as<double>(dbl) : 0.0;
  const double r = std::nearbyint(d);
  const auto whole = [&](const Load& x, double lo, double hi, auto tag) {
    using T = decltype(tag);
    const bool fits = dbl.ok && r >= lo && r <= hi;
    if (x.ok != fits || (fits && static_cast<double>(as<T>(x)) != r))
      violated("a whole number load disagrees with the rounded double");
  };
  whole(i16, -32768.0, 32767.0, std::int16_t{});
  whole(i32, -2147483648.0, 2147483647.0, std::int32_t{});
  whole(byte, 0.0, 255.0, std::uint8_t{});
  const bool singleFits = dbl.ok && std::isfinite(static_cast<float>(d));
  if (sgl.ok != singleFits || (singleFits && as<float>(sgl) != static_cast<float>(d)))
    violated("a single load disagrees with the narrowed double");
  if (cur.ok) {
    if (!dbl.ok) violated("a currency loaded from a text that is no double");
    const double diff = std::fabs(static_cast<double>(as<Currency>(cur).scaled) / 1e4 - d);
    if (diff > 0.5e-4 + 1e-15 * std::fabs(d) + 1e-12) violated("a currency load disagrees with the double");
  } else if (dbl.ok && std::fabs(d) < 9.2e14) {
    violated("a number within the currency range not loaded as a currency");
  }
}

// The typed value that the input's value text stands for.
ProfileValue typedValue(int kind, const std::string& v) {
  std::uint8_t b[8] = {};
  std::memcpy(b, v.data(), std::min(v.size(), sizeof b));
  switch (kind) {
    case 0: {
      std::int16_t x;
      std::memcpy(&x, b, sizeof x);
      return x;
    }
    case 1: {
      std::int32_t x;
      std::memcpy(&x, b, sizeof x);
      return x;
    }
    case 2: {
      float x;
      std::memcpy(&x, b, sizeof x);
      return x;
    }
    case 3: {
      double x;
      std::memcpy(&x, b, sizeof x);
      return x;
    }
    case 4: {
      std::int64_t x;
      std::memcpy(&x, b, sizeof x);
      return Currency{x};
    }
    case 5:
      return b[0];
    case 6:
      return v;
    case 7:
      return (b[0] & 1) != 0;
    default:
      return DateTime{(b[0] | b[1] << 8) % 10200, b[2] % 14, b[3] % 33, b[4] % 25, b[5] % 61, b[6] % 61};
  }
}

// What loading a saved value gives: the value itself, except for a text (trimmed, quotes
// removed, cut to the read buffer, trailing blanks dropped; nothing when that is empty).
std::optional<ProfileValue> loadsBackAs(const ProfileValue& saved) {
  const std::string* s = std::get_if<std::string>(&saved);
  if (s == nullptr) return saved;
  std::string t = cut(readsBackAs(*s), 255);
  while (!t.empty() && t.back() == ' ') t.pop_back();
  if (readsBackAs(*s).empty()) return std::nullopt;
  return t;
}

// Reads the input's length-prefixed field; names are at most 47 bytes.
std::string field(const std::uint8_t* data, std::size_t size, std::size_t& pos, bool name) {
  if (pos >= size) return {};
  std::size_t len = data[pos++];
  if (name) len %= 48;
  len = std::min(len, size - pos);
  std::string s(reinterpret_cast<const char*>(data + pos), len);
  pos += len;
  return s;
}

}  // namespace

const char* const tarnset::fuzz::kTargetName = "fuzz_options_file";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchFile scratch;
  if (size < 2) return 0;
  const std::uint8_t sel = data[0];
  const std::uint8_t aux = data[1];
  std::size_t pos = 2;
  const std::string section = field(data, size, pos, true);
  const std::string key = field(data, size, pos, true);
  std::string value = field(data, size, pos, false);
  if ((aux & 0x80) != 0 && !value.empty()) {
    while (value.size() < 300) value += value;
  }
  const std::string content(reinterpret_cast<const char*>(data + pos), size - pos);
  scratch.write(content);

  // Reads.
  const KeyRead read = readKey(scratch, section, key, kSizes[aux % 9]);
  clsCmcProfileIO prof;
  prof.setFullPath(scratch.path());
  prof.setSection(section);
  const std::array<Load, 9> loads = loadEveryKind(prof, key, read.present, sel / 18u % 9u);
  if (read.present) checkKindsAgree(loads, read.value);
  if (scratch.read() != content) violated("reading changed the file");

  // A write of the value text under section/key.
  const std::string typedKey = (sel / 9) % 2 != 0 ? key : std::string("Val");
  const std::vector<Probe> probes = probesOf(content, section, key, typedKey);
  const std::vector<std::string> probed = probeValues(scratch, probes);
  const bool allowed = storable(section, key, value);
  const bool written = iniWriteString(section, key, value, scratch.path());
  checkWrite(scratch, content, written, allowed, probes, probed);
  const std::string now = scratch.read();
  if (written) {
    if (iniReadString(section, key, kDefault1, kWhole, scratch.path()) != readsBackAs(value))
      violated("a written key does not read as the text written");
    if (!iniWriteString(section, key, value, scratch.path()) || scratch.read() != now)
      violated("writing the same again changed the file");
  }

  // A typed value saved, and loaded back.
  const ProfileValue typed = typedValue(sel % 9, value);
  const bool saved = prof.saveData(typedKey, typed);
  const bool savable =
      acceptable(typed) && storable(section, typedKey, sel % 9 == 6 ? value : std::string("0"));
  checkWrite(scratch, now, saved, savable, probes, probed);
  if (saved) {
    ProfileValue back = sentinels()[sel % 9];
    const bool loaded = prof.loadData(typedKey, back);
    const std::optional<ProfileValue> expected = loadsBackAs(typed);
    if (loaded != expected.has_value() || (loaded && back != *expected))
      violated("a saved value does not load back as itself");
  }
  return 0;
}
