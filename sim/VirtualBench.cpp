#include "sim/VirtualBench.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <iterator>

namespace kvsim {

namespace {

// E8 codes of the items the transmitter follows.
constexpr int kPowerHi = 0x05;
constexpr int kPowerL2 = 0x06;
constexpr int kPowerL1 = 0x07;
constexpr int kModW = 0x08;
constexpr int kModN = 0x09;
constexpr int kBalance = 0x0A;
constexpr int kTone = 0x11;

constexpr double kMaxPowerW = 40.0;
constexpr double kVaractorPpmPerStep2 = 0.0005;  // the pull's curvature about its centre
constexpr double kUnlockedOffsetHz = 2000.0;     // where the synthesiser starts at key-up
constexpr double kCarrierPresentW = 0.001;       // the counter needs this much to count
constexpr std::size_t kErrorQueue = 10;
const std::string kNotANumber = "9.91E37";

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// One node of a command header: its long form, whose upper-case letters are the short
// form ("FREQuency" takes FREQ and FREQUENCY), and whether it may be left out.
struct Node {
  const char* longForm;
  bool optional = false;
};

bool nodeMatches(const std::string& in, const char* longForm) {
  std::string shortForm;
  for (const char* p = longForm; *p != '\0' && *p >= 'A' && *p <= 'Z'; ++p) shortForm += *p;
  return in == shortForm || in == upper(longForm);
}

bool matchFrom(const std::vector<std::string>& in, std::size_t i, const std::vector<Node>& pattern,
               std::size_t p) {
  if (p == pattern.size()) return i == in.size();
  if (pattern[p].optional && matchFrom(in, i, pattern, p + 1)) return true;
  return i < in.size() && nodeMatches(in[i], pattern[p].longForm) && matchFrom(in, i + 1, pattern, p + 1);
}

bool matches(const std::vector<std::string>& in, std::initializer_list<Node> pattern) {
  return matchFrom(in, 0, std::vector<Node>(pattern), 0);
}

// A numeric parameter with an optional unit among those given (and their scale).
struct Unit {
  const char* name;
  double scale;
};
enum class Param { Ok, Missing, NotANumber };
Param number(const std::string& text, std::initializer_list<Unit> units, double& out) {
  const std::string t = trim(text);
  if (t.empty()) return Param::Missing;
  std::size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  while (i < t.size() && (std::isdigit(static_cast<unsigned char>(t[i])) || t[i] == '.')) ++i;
  if (i < t.size() && (t[i] == 'E' || t[i] == 'e') && i + 1 < t.size() &&
      (std::isdigit(static_cast<unsigned char>(t[i + 1])) || t[i + 1] == '-' || t[i + 1] == '+')) {
    i += 2;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  }
  const char* first = t.data() + (t[0] == '+' ? 1 : 0);
  double v = 0;
  const auto [end, ec] = std::from_chars(first, t.data() + i, v);
  if (ec != std::errc() || end != t.data() + i || !std::isfinite(v)) return Param::NotANumber;
  const std::string unit = upper(trim(t.substr(i)));
  double scale = unit.empty() ? 1.0 : 0.0;
  for (const Unit& u : units) {
    if (unit == u.name) scale = u.scale;
  }
  if (scale == 0.0) return Param::NotANumber;
  out = v * scale;
  return Param::Ok;
}

std::string scientific(double v, int decimals) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, decimals);
  return ec == std::errc() ? upper(std::string(buf, end)) : kNotANumber;
}

}  // namespace

void VirtualBench::Lagged::advance(double dtUs) {
  value = target + (value - target) * std::exp(-std::max(dtUs, 0.0) / tauUs);
}

double VirtualBench::powerForItem(int value) {
  const double x = std::clamp(value, 0, 255) / 255.0;
  return kMaxPowerW * std::pow(x, 1.5);
}

double VirtualBench::modDeviationForItem(int value, bool narrow) {
  const double x = std::clamp(value, 0, 255) / 255.0;
  return (narrow ? 3000.0 : 6000.0) * x * (1.0 - 0.2 * x);
}

double VirtualBench::toneDeviationForItem(int value) {
  const double x = std::clamp(value, 0, 255) / 255.0;
  return 1200.0 * std::pow(x, 1.2);
}

double VirtualBench::selectivityLossDb(double offsetHz, bool narrow) {
  const double half = narrow ? 3000.0 : 6000.0;  // flat part of the IF filter, each side
  const double beyond = std::fabs(offsetHz) - half;
  return beyond <= 0.0 ? 0.0 : std::min(90.0, 60.0 * beyond / half);
}

VirtualBench::VirtualBench(VirtualTarn& radio, BenchOptions options)
    : radio_(radio), options_(options), rng_(options.seed ^ 0xBE7C4u) {
  options_.noise = std::clamp(options_.noise, 0.0, 10.0);
  itemCommandsSeen_ = radio_.itemCommands();
}

double VirtualBench::gauss(double sigma) {
  if (sigma <= 0.0) return 0.0;
  std::normal_distribution<double> d(0.0, sigma);
  return d(rng_);
}

std::optional<double> VirtualBench::receiverDbu() const {
  if (!genDriven_) return std::nullopt;
  if (!genOn_) return kNoSignalDbu;
  const ChannelInfo ch = channel(radio_.image(), radio_.selectedSlot());
  const double loss = ch.rxHz ? selectivityLossDb(genHz_ - *ch.rxHz, ch.narrow) : 90.0;
  return std::max(kNoSignalDbu, genDbm_ + kFrontEndGainDb - loss);
}

void VirtualBench::applyGenerator() {
  if (const auto dbu = receiverDbu()) radio_.setSignalLevelDbu(*dbu);
}

void VirtualBench::trackItems() {
  // The item the program addressed last is the one on test, also when its value was sent
  // again unchanged.
  if (radio_.itemCommands() == itemCommandsSeen_) return;
  itemCommandsSeen_ = radio_.itemCommands();
  const std::optional<int> code = radio_.lastItemCode();
  if (!code) return;
  if (*code == kPowerHi || *code == kPowerL2 || *code == kPowerL1) powerCode_ = *code;
  if (*code == kModW || *code == kModN) {
    test_ = Test::Modulation;
    modCode_ = *code;
  }
  if (*code == kBalance) test_ = Test::Balance;
  if (*code == kTone) test_ = Test::Tone;
}

void VirtualBench::step(std::int64_t nowUs) {
  if (!clockStarted_) {
    clockStarted_ = true;
    nowUs_ = nowUs;
  }
  const double dt = static_cast<double>(std::max<std::int64_t>(nowUs - nowUs_, 0));
  nowUs_ = std::max(nowUs, nowUs_);
  applyGenerator();
  for (Lagged* l : {&power_, &deviation_, &carrier_}) l->advance(dt);
  trackItems();

  const ChannelInfo ch = channel(radio_.image(), radio_.selectedSlot());
  const auto item = [this](int code) { return radio_.itemValue(code).value_or(0); };
  const TxReport tx = radio_.transmitter();
  const bool keyed = ptt_ && tx.valid;
  const int powerCode = powerCode_.value_or(ch.lowPower ? kPowerL2 : kPowerHi);
  power_.target = keyed ? powerForItem(item(powerCode)) : 0.0;
  // The modulation item on test, else the one of the channel's spacing.
  const int modCode = modCode_.value_or(ch.narrow ? kModN : kModW);
  const bool narrow = modCode == kModN;
  const double mod = modDeviationForItem(item(modCode), narrow);
  double dev = mod;
  if (test_ == Test::Balance) {
    // The balance square wave rides on the channel's own modulation.
    const double x = item(kBalance) / 255.0;
    dev = modDeviationForItem(item(ch.narrow ? kModN : kModW), ch.narrow) * (0.75 + 0.5 * x - 0.1 * x * x);
  } else if (test_ == Test::Tone) {
    dev = toneDeviationForItem(item(kTone)) * (ch.narrow ? 0.5 : 1.0);
  }
  deviation_.target = keyed ? dev : 0.0;
  if (keyed) {
    const double pull = tx.setting - TarnPhysics::kPullCentre;
    carrier_.target = tx.actualHz + tx.nominalHz * 1e-6 * kVaractorPpmPerStep2 * pull * pull;
  }
}

void VirtualBench::setPtt(bool on, std::int64_t nowUs) {
  step(nowUs);
  const bool keyUp = on && !ptt_;
  ptt_ = on;
  step(nowUs);
  if (keyUp) carrier_.value = carrier_.target + kUnlockedOffsetHz;  // the synthesiser locks after key-up
}

void VirtualBench::setFault(FaultKind kind) {
  switch (kind) {
    case FaultKind::Silent:
      silent_ = true;
      break;
    case FaultKind::Garbage:
      garbage_ = true;
      break;
    case FaultKind::Error:
      pushError(-222, "Data out of range");
      break;
    case FaultKind::Drop:
      drop_ = true;
      break;
  }
}

void VirtualBench::clearFaults() {
  silent_ = garbage_ = drop_ = false;
}

std::string VirtualBench::faults() const {
  std::string s;
  if (silent_) s += ",SILENT";
  if (garbage_) s += ",GARBAGE";
  if (drop_) s += ",DROP";
  return s.empty() ? "NONE" : s.substr(1);
}

bool VirtualBench::takeDropRequest() {
  const bool r = dropRequested_;
  dropRequested_ = false;
  return r;
}

void VirtualBench::pushError(int code, const std::string& text) {
  if (errors_.size() >= kErrorQueue) {
    errors_.back() = {-350, "Queue overflow"};
    return;
  }
  errors_.emplace_back(code, text);
}

std::string VirtualBench::measure(const std::string& which) {
  if (which == "FREQ") {
    if (!ptt_ || power_.value < kCarrierPresentW) return kNotANumber;
    return scientific(carrier_.value + gauss(2.0 * options_.noise), 9);
  }
  if (which == "POW") {
    const double w = std::max(power_.value * (1.0 + gauss(0.005 * options_.noise)), 0.0);
    const double dbm =
        std::max(10.0 * std::log10(std::max(w, 1e-30)) + 30.0, kPowerFloorDbm + gauss(0.2 * options_.noise));
    return scientific(dbm, 4);
  }
  if (!ptt_ || power_.value < kCarrierPresentW) return kNotANumber;
  const double dev = deviation_.value * (1.0 + gauss(0.01 * options_.noise)) + gauss(5.0 * options_.noise);
  return scientific(std::max(dev, 0.0), 4);
}

bool VirtualBench::simCommand(const std::string& header, const std::string& arg, std::string& out,
                              std::int64_t nowUs) {
  const std::string a = upper(trim(arg));
  if (header == "SIM:PTT?") {
    out += ptt_ ? "1\n" : "0\n";
  } else if (header == "SIM:PTT") {
    if (a == "ON" || a == "1") {
      setPtt(true, nowUs);
    } else if (a == "OFF" || a == "0") {
      setPtt(false, nowUs);
    } else {
      pushError(-224, "Illegal parameter value");
    }
  } else if (header == "SIM:FAULT?") {
    out += faults() + "\n";
  } else if (header == "SIM:FAULT") {
    if (a == "SILENT") {
      setFault(FaultKind::Silent);
    } else if (a == "GARBAGE") {
      setFault(FaultKind::Garbage);
    } else if (a == "ERROR") {
      setFault(FaultKind::Error);
    } else if (a == "DROP") {
      setFault(FaultKind::Drop);
    } else if (a == "NONE") {
      clearFaults();
    } else {
      pushError(-224, "Illegal parameter value");
    }
  } else {
    return false;
  }
  return true;
}

void VirtualBench::execute(const std::string& message, std::string& out, std::int64_t nowUs) {
  const std::string m = trim(message);
  if (m.empty()) return;
  const std::size_t blank = m.find_first_of(" \t");
  std::string header = upper(m.substr(0, blank));
  const std::string arg = blank == std::string::npos ? std::string() : m.substr(blank + 1);
  if (!header.empty() && header.front() == ':') header.erase(0, 1);
  if (header.rfind("SIM:", 0) == 0 && simCommand(header, arg, out, nowUs)) return;
  if (silent_) return;

  const bool query = !header.empty() && header.back() == '?';
  if (query) header.pop_back();
  std::vector<std::string> nodes;
  for (std::size_t pos = 0; pos <= header.size();) {
    const std::size_t colon = std::min(header.find(':', pos), header.size());
    nodes.push_back(header.substr(pos, colon - pos));
    pos = colon + 1;
  }
  const auto answer = [this, &out](const std::string& text) {
    if (garbage_) {
      garbage_ = false;
      out += std::string("#\x01?GQ\x7f\xfe@@\n");
      return;
    }
    out += text + "\n";
  };
  const auto setNumber = [&](double& field, std::initializer_list<Unit> units, double low, double high) {
    double v = 0;
    switch (number(arg, units, v)) {
      case Param::Missing:
        pushError(-109, "Missing parameter");
        return;
      case Param::NotANumber:
        pushError(-104, "Data type error");
        return;
      case Param::Ok:
        break;
    }
    if (v < low || v > high) {
      pushError(-222, "Data out of range");
      return;
    }
    field = v;
    genDriven_ = true;
    step(nowUs);
  };

  if (header == "*IDN" && query) {
    answer("Tarnset,KV-Tarn virtual bench,VB-0001,1.0");
  } else if (header == "*RST" && !query) {
    genHz_ = 0.0;
    genDbm_ = -60.0;
    genOn_ = false;
    step(nowUs);
  } else if (header == "*CLS" && !query) {
    errors_.clear();
  } else if ((header == "*OPC" || header == "*TST" || header == "*ESR") && query) {
    answer(header == "*OPC" ? "1" : "0");
  } else if (header == "*WAI" && !query) {
  } else if (matches(nodes, {{"SOURce", true}, {"FREQuency"}, {"CW", true}})) {
    if (query) {
      answer(scientific(genHz_, 9));
    } else {
      setNumber(genHz_, {{"HZ", 1.0}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"GHZ", 1e9}}, 100e3, 3e9);
    }
  } else if (matches(
                 nodes,
                 {{"SOURce", true}, {"POWer"}, {"LEVel", true}, {"IMMediate", true}, {"AMPLitude", true}})) {
    if (query) {
      answer(scientific(genDbm_, 4));
    } else {
      setNumber(genDbm_, {{"DBM", 1.0}}, -140.0, 20.0);
    }
  } else if (matches(nodes, {{"OUTPut"}, {"STATe", true}})) {
    const std::string a = upper(trim(arg));
    if (query) {
      answer(genOn_ ? "1" : "0");
    } else if (a == "ON" || a == "1" || a == "OFF" || a == "0") {
      genOn_ = a == "ON" || a == "1";
      genDriven_ = true;
      step(nowUs);
    } else {
      pushError(a.empty() ? -109 : -224, a.empty() ? "Missing parameter" : "Illegal parameter value");
    }
  } else if (query &&
             (matches(nodes, {{"MEASure"}, {"FREQuency"}}) || matches(nodes, {{"MEASure"}, {"POWer"}}) ||
              matches(nodes, {{"MEASure"}, {"FM"}, {"DEViation", true}}))) {
    if (drop_) {
      drop_ = false;
      dropRequested_ = true;
      return;
    }
    step(nowUs);
    answer(measure(matches(nodes, {{"MEASure"}, {"FREQuency"}}) ? "FREQ"
                   : matches(nodes, {{"MEASure"}, {"POWer"}})   ? "POW"
                                                                : "DEV"));
  } else if (query && matches(nodes, {{"SYSTem"}, {"ERRor"}, {"NEXT", true}})) {
    if (errors_.empty()) {
      answer("0,\"No error\"");
    } else {
      answer(std::to_string(errors_.front().first) + ",\"" + errors_.front().second + "\"");
      errors_.pop_front();
    }
  } else {
    pushError(-113, "Undefined header");
  }
}

std::string VirtualBench::handleLine(const std::string& line, std::int64_t nowUs) {
  step(nowUs);
  std::string out;
  std::size_t pos = 0;
  while (pos <= line.size()) {
    const std::size_t semi = std::min(line.find(';', pos), line.size());
    execute(line.substr(pos, semi - pos), out, nowUs);
    pos = semi + 1;
  }
  return out;
}

}  // namespace kvsim
