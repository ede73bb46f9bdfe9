// The package's udev rule for cloning cables, read the way udev reads a rules file: each
// line a comma-separated list of KEY[{attribute}] OPERATOR "value" pairs. Every rule must
// match one USB serial bridge on the tty subsystem by vendor and product ID and must both
// give the seat's user access (the uaccess tag) and keep the modem manager away. udev
// itself cannot run in a test; where udevadm has its "verify" command it checks the file
// too.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

const std::string kRulesFile = TARNSET_UDEV_RULES_FILE;

// One KEY{attribute}OP"value" pair of a rule.
struct Pair {
  std::string key;
  std::string attribute;  // empty when the key has none
  std::string op;
  std::string value;
};

// A rule line split into its pairs, or what is wrong with it.
struct ParsedRule {
  std::vector<Pair> pairs;
  std::string error;
};

// The keys udev knows, and those of them that take an {attribute}.
const std::set<std::string> kKeys = {"ACTION",    "DEVPATH",    "KERNEL", "KERNELS", "NAME",   "SYMLINK",
                                     "SUBSYSTEM", "SUBSYSTEMS", "DRIVER", "DRIVERS", "ATTR",   "ATTRS",
                                     "SYSCTL",    "ENV",        "CONST",  "TAG",     "TAGS",   "TEST",
                                     "PROGRAM",   "RESULT",     "OWNER",  "GROUP",   "MODE",   "SECLABEL",
                                     "RUN",       "LABEL",      "GOTO",   "IMPORT",  "OPTIONS"};
const std::set<std::string> kKeysWithAttribute = {"ATTR", "ATTRS",  "SYSCTL", "ENV",     "CONST",
                                                  "TEST", "IMPORT", "RUN",    "SECLABEL"};

ParsedRule parseRule(const std::string& line) {
  ParsedRule rule;
  std::size_t i = 0;
  const auto skipSpace = [&] {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  };
  const auto fail = [&](const std::string& what) {
    rule.error = what + " at column " + std::to_string(i + 1);
    return rule;
  };
  for (;;) {
    skipSpace();
    Pair p;
    while (i < line.size() && (std::isupper(static_cast<unsigned char>(line[i])) || line[i] == '_')) {
      p.key += line[i++];
    }
    if (p.key.empty()) return fail("a key was expected");
    if (kKeys.count(p.key) == 0) return fail("unknown key '" + p.key + "'");
    if (i < line.size() && line[i] == '{') {
      const std::size_t close = line.find('}', i);
      if (close == std::string::npos) return fail("'{' without '}'");
      p.attribute = line.substr(i + 1, close - i - 1);
      if (p.attribute.empty()) return fail("an empty {attribute}");
      if (kKeysWithAttribute.count(p.key) == 0) return fail(p.key + " takes no {attribute}");
      i = close + 1;
    } else if (kKeysWithAttribute.count(p.key) != 0 && p.key != "IMPORT" && p.key != "RUN") {
      return fail(p.key + " needs an {attribute}");
    }
    skipSpace();
    for (const char* op : {"==", "!=", "+=", "-=", ":=", "="}) {
      if (line.compare(i, std::string(op).size(), op) == 0) {
        p.op = op;
        break;
      }
    }
    if (p.op.empty()) return fail("an operator was expected after " + p.key);
    i += p.op.size();
    skipSpace();
    if (i >= line.size() || line[i] != '"') return fail("a quoted value was expected after " + p.key + p.op);
    const std::size_t close = line.find('"', i + 1);
    if (close == std::string::npos) return fail("a value without its closing quote");
    p.value = line.substr(i + 1, close - i - 1);
    i = close + 1;
    rule.pairs.push_back(p);
    skipSpace();
    if (i == line.size()) return rule;
    if (line[i] != ',') return fail("a comma was expected");
    ++i;
    skipSpace();
    if (i == line.size()) return fail("a comma at the end of the line");
  }
}

bool isHex4(const std::string& s) {
  if (s.size() != 4) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'a' || c > 'f')) return false;
  }
  return true;
}

bool has(const std::vector<Pair>& pairs, const std::string& key, const std::string& attribute,
         const std::string& op, const std::string& value) {
  for (const Pair& p : pairs) {
    if (p.key == key && p.attribute == attribute && p.op == op && p.value == value) return true;
  }
  return false;
}

// The value a rule matches an attribute of the device or a parent with, "" without one.
std::string matched(const std::vector<Pair>& pairs, const std::string& attribute) {
  for (const Pair& p : pairs) {
    if ((p.key == "ATTRS" || p.key == "ATTR") && p.attribute == attribute && p.op == "==") return p.value;
  }
  return {};
}

// Everything wrong with a rules file (one line each, with its line number), and the
// vendor:product pairs its rules match.
struct RulesCheck {
  std::vector<std::string> problems;
  std::vector<std::string> ids;
};

RulesCheck checkRules(const std::string& text) {
  RulesCheck check;
  std::map<std::string, int> firstLineOf;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string where = "line " + std::to_string(number) + ": ";
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    const ParsedRule rule = parseRule(line);
    if (!rule.error.empty()) {
      check.problems.push_back(where + rule.error);
      continue;
    }
    if (!has(rule.pairs, "SUBSYSTEM", "", "==", "tty") && !has(rule.pairs, "SUBSYSTEMS", "", "==", "tty")) {
      check.problems.push_back(where + "does not match the tty subsystem");
    }
    const std::string vendor = matched(rule.pairs, "idVendor");
    const std::string product = matched(rule.pairs, "idProduct");
    if (!isHex4(vendor))
      check.problems.push_back(where + "idVendor '" + vendor + "' is not four lower-case hex digits");
    if (!isHex4(product)) {
      check.problems.push_back(where + "idProduct '" + product + "' is not four lower-case hex digits");
    }
    if (!has(rule.pairs, "TAG", "", "+=", "uaccess")) check.problems.push_back(where + "no TAG+=\"uaccess\"");
    if (!has(rule.pairs, "ENV", "ID_MM_DEVICE_IGNORE", "=", "1")) {
      check.problems.push_back(where + "no ENV{ID_MM_DEVICE_IGNORE}=\"1\"");
    }
    const std::string id = vendor + ":" + product;
    const auto [it, fresh] = firstLineOf.emplace(id, number);
    if (!fresh)
      check.problems.push_back(where + id + " again (first on line " + std::to_string(it->second) + ")");
    check.ids.push_back(id);
  }
  return check;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

const std::string kGood =
    R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")";

// --- The shipped file -------------------------------------------------------------------

TEST(UdevRules, TheShippedFileHasOnlyWellFormedRulesForDistinctBridges) {
  const std::string text = readFile(kRulesFile);
  ASSERT_FALSE(text.empty()) << "cannot read " << kRulesFile;
  const RulesCheck check = checkRules(text);
  EXPECT_TRUE(check.problems.empty()) << kRulesFile << ":\n" << joined(check.problems);
  // The bridges common in cloning cables: single- and multi-port chips of four makers.
  EXPECT_GE(check.ids.size(), 10u) << joined(check.ids);
  EXPECT_LE(check.ids.size(), 25u) << joined(check.ids);
}

TEST(UdevRules, TheShippedFileRunsBeforeTheSeatRules) {
  // uaccess only takes effect when the tag is set before the seat rules (73-seat-late).
  const std::string name = std::filesystem::path(kRulesFile).filename().string();
  ASSERT_GE(name.size(), 3u);
  ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(name[0])) &&
              std::isdigit(static_cast<unsigned char>(name[1])))
      << name;
  EXPECT_LT(std::stoi(name.substr(0, 2)), 73) << name;
  EXPECT_EQ(name.substr(2, 1), "-") << name;
  EXPECT_EQ(std::filesystem::path(name).extension(), ".rules") << name;
}

TEST(UdevRules, UdevadmVerifyAcceptsTheShippedFile) {
  // "udevadm verify" came with systemd 254; older ones answer "unknown command".
  if (std::system("udevadm verify --help >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "this udevadm has no verify command";
  }
  const std::string command = "udevadm verify --resolve-names=never '" + kRulesFile + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe) != nullptr) output += buf;
  const int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
}

// --- The reader finds what udev would trip over ---------------------------------------

TEST(UdevRules, AWellFormedRuleIsReadPairByPair) {
  const ParsedRule rule = parseRule(kGood);
  ASSERT_EQ(rule.error, "");
  ASSERT_EQ(rule.pairs.size(), 5u);
  EXPECT_EQ(rule.pairs[1].key, "ATTRS");
  EXPECT_EQ(rule.pairs[1].attribute, "idVendor");
  EXPECT_EQ(rule.pairs[1].op, "==");
  EXPECT_EQ(rule.pairs[1].value, "0403");
  EXPECT_EQ(rule.pairs[3].op, "+=");
  EXPECT_EQ(rule.pairs[4].attribute, "ID_MM_DEVICE_IGNORE");
  EXPECT_EQ(rule.pairs[4].op, "=");
  EXPECT_TRUE(checkRules("# comment\n\n" + kGood + "\n").problems.empty());
}

TEST(UdevRules, BrokenSyntaxIsRefused) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403)", "closing quote"},
      {R"(SUBSYSTEM=="tty" ATTRS{idVendor}=="0403")", "comma was expected"},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403",)", "comma at the end"},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor=="0403")", "'{' without '}'"},
      {R"(SUBSYTEM=="tty")", "unknown key 'SUBSYTEM'"},
      {R"(SUBSYSTEM~"tty")", "operator was expected"},
      {R"(SUBSYSTEM==tty)", "quoted value was expected"},
      {R"(ATTRS=="0403")", "ATTRS needs an {attribute}"},
      {R"(TAG{x}+="uaccess")", "TAG takes no {attribute}"},
      {R"(, SUBSYSTEM=="tty")", "key was expected"},
  };
  for (const auto& [line, why] : cases) {
    const ParsedRule rule = parseRule(line);
    EXPECT_NE(rule.error.find(why), std::string::npos) << line << " -> '" << rule.error << "'";
  }
}

TEST(UdevRules, ARuleThatWouldNotServeTheCableIsReported) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"(SUBSYSTEM=="usb", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")",
       "tty subsystem"},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")",
       "idProduct ''"},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="067B", ATTRS{idProduct}=="2303", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")",
       "idVendor '067B'"},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="403", ATTRS{idProduct}=="6001", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")",
       "idVendor '403'"},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", TAG="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1")",
       "TAG+="},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", ENV{ID_MM_DEVICE_IGNORE}="1")",
       "uaccess"},
      {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}=="1")",
       "ID_MM_DEVICE_IGNORE"},
  };
  for (const auto& [line, why] : cases) {
    const RulesCheck check = checkRules(line + "\n");
    ASSERT_EQ(check.problems.size(), 1u) << line << "\n" << joined(check.problems);
    EXPECT_NE(check.problems[0].find(why), std::string::npos) << check.problems[0];
    EXPECT_EQ(check.problems[0].rfind("line 1: ", 0), 0u) << check.problems[0];
  }
}

TEST(UdevRules, ThePairOfARuleSeenBeforeIsReported) {
  const RulesCheck check = checkRules(kGood + "\n# again\n" + kGood + "\n");
  ASSERT_EQ(check.problems.size(), 1u) << joined(check.problems);
  EXPECT_EQ(check.problems[0], "line 3: 0403:6001 again (first on line 1)");
}

}  // namespace
