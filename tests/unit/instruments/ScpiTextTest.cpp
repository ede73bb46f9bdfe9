// SCPI message text: answers cut from a stream, numeric answers, *IDN? and SYST:ERR?.
#include <gtest/gtest.h>

#include <cmath>

#include "instruments/ScpiText.h"

namespace tarnset {
namespace {

std::vector<std::string> texts(const std::vector<ScpiLineCutter::Line>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(l.text);
  return out;
}

TEST(ScpiLineCutter, AnswersSplitOverReadsOrSharingOneReadComeOutWhole) {
  ScpiLineCutter c;
  std::vector<ScpiLineCutter::Line> lines;
  c.feed("+2.5E", lines);
  c.feed("+01", lines);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(c.pending(), "+2.5E+01");
  c.feed("\r\n1.0\n-3\n4", lines);
  EXPECT_EQ(texts(lines), (std::vector<std::string>{"+2.5E+01", "1.0", "-3"}));
  EXPECT_EQ(c.pending(), "4");  // still waiting for its LF
  c.feed("\n\n", lines);
  EXPECT_EQ(texts(lines).back(), "");
  EXPECT_EQ(lines.size(), 5u);
}

TEST(ScpiLineCutter, AnOverLongAnswerIsCutAndItsRestDropped) {
  ScpiLineCutter c;
  std::vector<ScpiLineCutter::Line> lines;
  c.feed(std::string(ScpiLineCutter::kMaxLine + 100, 'x'), lines);
  EXPECT_EQ(c.pending().size(), ScpiLineCutter::kMaxLine);
  c.feed("yyy\nnext\n", lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].overLong);
  EXPECT_EQ(lines[0].text, std::string(ScpiLineCutter::kMaxLine, 'x'));
  EXPECT_FALSE(lines[1].overLong);
  EXPECT_EQ(lines[1].text, "next");
  c.feed("half", lines);
  c.clear();
  c.feed("\n", lines);
  EXPECT_EQ(lines.back().text, "");
}

TEST(ScpiNumber, ReadsNr1Nr2Nr3WithAndWithoutUnits) {
  struct Case {
    const char* text;
    double value;
    const char* unit;
  };
  const Case cases[] = {
      {"12", 12.0, ""},
      {"-7", -7.0, ""},
      {"+3", 3.0, ""},
      {"2.5", 2.5, ""},
      {".5", 0.5, ""},
      {"5.", 5.0, ""},
      {"4.50012E+08", 4.50012e8, ""},
      {"-1.5e-3", -1.5e-3, ""},
      {" 1E3 \r", 1000.0, ""},
      {"25.3 W", 25.3, "W"},
      {"4.5E3HZ", 4500.0, "HZ"},
      {"-10.2 dBm", -10.2, "DBM"},
      {"3 kHz", 3.0, "KHZ"},
      {"0", 0.0, ""},
      {"1E-400", 0.0, ""},
  };
  for (const Case& c : cases) {
    const ScpiNumber n = parseScpiNumber(c.text);
    EXPECT_EQ(n.kind, ScpiNumber::Kind::Number) << c.text;
    EXPECT_DOUBLE_EQ(n.value, c.value) << c.text;
    EXPECT_EQ(n.unit, c.unit) << c.text;
  }
}

TEST(ScpiNumber, NotANumberAndInfinityAreNoMeasurement) {
  for (const char* text : {"9.91E37", "9.91E+37", "+9.9E37", "-9.9E37", "9.91e37 HZ", "1E400"}) {
    EXPECT_EQ(parseScpiNumber(text).kind, ScpiNumber::Kind::NoMeasurement) << text;
  }
  EXPECT_EQ(parseScpiNumber("9.8E37").kind, ScpiNumber::Kind::Number);
}

TEST(ScpiNumber, GarbageIsNoNumber) {
  for (const char* text : {"", " ", "-", ".", "E5", "1.5E", "1.5E+", "1,5", "12 3", "#H1F", "NaN", "inf",
                           "0x10", "1.2.3", "12 W 3", "\x01\x7f", "1e5?", "OK", "--1"}) {
    EXPECT_EQ(parseScpiNumber(text).kind, ScpiNumber::Kind::NotANumber) << text;
  }
}

TEST(ScpiIdentity, FourFieldsWithMakerAndModel) {
  const auto id = parseScpiIdentity(" Tarnset, KV-Tarn virtual bench ,VB-0001,1.0\r");
  ASSERT_TRUE(id);
  EXPECT_EQ(id->maker, "Tarnset");
  EXPECT_EQ(id->model, "KV-Tarn virtual bench");
  EXPECT_EQ(id->serial, "VB-0001");
  EXPECT_EQ(id->firmware, "1.0");
  EXPECT_TRUE(parseScpiIdentity("A,B,0,"));
  for (const char* bad : {"", "1.5E+01", "A,B,C", "A,B,C,D,E", ",B,C,D", "A,,C,D", "A,B\x01,C,D"}) {
    EXPECT_FALSE(parseScpiIdentity(bad)) << bad;
  }
}

TEST(ScpiError, CodeAndTextOfTheErrorQueue) {
  const auto e = parseScpiError("-113,\"Undefined header\"");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->code, -113);
  EXPECT_EQ(e->text, "Undefined header");
  const auto none = parseScpiError("+0,\"No error\"\r");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->code, 0);
  for (const char* bad : {"", "0", "No error", "x,\"y\"", "1.5,\"y\""})
    EXPECT_FALSE(parseScpiError(bad)) << bad;
}

TEST(ScpiText, NumbersForCommandsAndAnswersForPeople) {
  EXPECT_EQ(formatScpiNumber(145500000.0, 3), "145500000");
  EXPECT_EQ(formatScpiNumber(-10.5, 2), "-10.5");
  EXPECT_EQ(formatScpiNumber(-0.001, 2), "0");
  EXPECT_EQ(formatScpiNumber(450012500.125, 3), "450012500.125");
  EXPECT_EQ(formatScpiNumber(std::nan(""), 3), "0");
  EXPECT_EQ(printableAnswer("a\x01\xff"), "a\\x01\\xFF");
  EXPECT_EQ(printableAnswer(std::string(200, 'z'), 10), std::string(10, 'z') + "...");
}

}  // namespace
}  // namespace tarnset
