// The constants file: its guard line, its 21 coefficients, and what makes it invalid.
#include <gtest/gtest.h>

#include "ProgramHarness.h"
#include "model/clsIndOp_RigTarn.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

std::string constFile(const std::string& title, const std::vector<std::string>& lines) {
  std::string s = title + "\n";
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

std::vector<std::string> numbers(int n) {
  std::vector<std::string> v;
  for (int i = 0; i < n; ++i) v.push_back(std::to_string(i));
  return v;
}

// Starts the program with the given Const.ini; the harness reports whether it came up.
struct Started {
  explicit Started(const std::string& text) : h(options(text)) {}
  static HarnessOptions options(const std::string& text) {
    HarnessOptions o;
    o.constFile = text;
    return o;
  }
  bool up() const { return h.startResult() == 0; }
  float coef(int i) { return h.program().controller().txfCoef(static_cast<std::int16_t>(i)); }
  ProgramHarness h;
};

}  // namespace

TEST(ConstFile, TheTitleLineGuardsTheFile) {
  EXPECT_TRUE(Started(constFile("   Tarnset ADJ Rev.1.2   ", numbers(21))).up()) << "blanks around the title";
  EXPECT_TRUE(Started(constFile("Tarnset ADJ Rev.1.2\r", numbers(21))).up()) << "CR LF line ends";
  EXPECT_FALSE(Started(constFile("Tarnset adj Rev.1.2", numbers(21))).up()) << "letter case counts";
  EXPECT_FALSE(Started(constFile("Tarnset ADJ Rev.1.3", numbers(21))).up());
}

TEST(ConstFile, ItNeedsAllTwentyOneCoefficientsAndIgnoresWhatFollows) {
  EXPECT_FALSE(Started(constFile("Tarnset ADJ Rev.1.2", numbers(20))).up());
  std::vector<std::string> more = numbers(21);
  more.push_back("not a number at all");
  Started s(constFile("Tarnset ADJ Rev.1.2", more));
  ASSERT_TRUE(s.up());
  EXPECT_FLOAT_EQ(s.coef(20), 20.0f);
  EXPECT_FLOAT_EQ(s.coef(21), 0.0f) << "entry 21 is not read";
}

TEST(ConstFile, EachLineGivesItsLeadingNumber) {
  std::vector<std::string> lines = numbers(21);
  lines[0] = "1.5 ppm";
  lines[1] = "   -2.25";
  lines[2] = "ppm 3";       // no leading number: 0
  lines[3] = "&H1F";        // hexadecimal
  lines[4] = "1.5E2x";      // exponent
  lines[5] = "+.5";
  lines[6] = "";
  lines[7] = "-";
  lines[8] = "7e";          // an exponent without digits is not part of the number
  Started s(constFile("Tarnset ADJ Rev.1.2", lines));
  ASSERT_TRUE(s.up());
  EXPECT_FLOAT_EQ(s.coef(0), 1.5f);
  EXPECT_FLOAT_EQ(s.coef(1), -2.25f);
  EXPECT_FLOAT_EQ(s.coef(2), 0.0f);
  EXPECT_FLOAT_EQ(s.coef(3), 31.0f);
  EXPECT_FLOAT_EQ(s.coef(4), 150.0f);
  EXPECT_FLOAT_EQ(s.coef(5), 0.5f);
  EXPECT_FLOAT_EQ(s.coef(6), 0.0f);
  EXPECT_FLOAT_EQ(s.coef(7), 0.0f);
  EXPECT_FLOAT_EQ(s.coef(8), 7.0f);
}

TEST(ConstFile, ACoefficientBeyondTheSingleRangeMakesTheFileInvalid) {
  for (const char* bad : {"1e999", "-4e38", "3.5e38"}) {
    std::vector<std::string> lines = numbers(21);
    lines[10] = bad;
    EXPECT_FALSE(Started(constFile("Tarnset ADJ Rev.1.2", lines)).up()) << bad;
  }
  std::vector<std::string> lines = numbers(21);
  lines[10] = "3.3e38";
  EXPECT_TRUE(Started(constFile("Tarnset ADJ Rev.1.2", lines)).up());
}

TEST(ConstFile, TheShippedFileIsValid) {
  Started s(standardConstFile());
  ASSERT_TRUE(s.up());
  EXPECT_FLOAT_EQ(s.coef(0), -16.332f);
  EXPECT_FLOAT_EQ(s.coef(20), 18.397f);
}
