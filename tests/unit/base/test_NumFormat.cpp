#include <gtest/gtest.h>

#include <limits>

#include "base/NumFormat.h"

namespace tarnset {
namespace {

// The patterns that the program's displays and listings use.
TEST(NumFormat, PatternsOfTheProgram) {
  const struct {
    double value;
    const char* pattern;
    const char* expected;
  } cases[] = {
      {0, "#0", "0"},
      {12345, "#0", "12345"},
      {-7, "#0", "-7"},
      {2.5, "#0", "3"},  // decimal halves round away from zero
      {-2.5, "#0", "-3"},
      {2.5098, "##0.#0V", "2.51V"},
      {0, "##0.#0V", "0.00V"},
      {1.005, "##0.#0V", "1.01V"},  // stored just below the half, still rounds up
      {-1.005, "##0.#0V", "-1.01V"},
      {0.5, "###.#0'C", ".50'C"},
      {-3.2, "###.#0'C", "-3.20'C"},
      {0.5, "0.00%", "50.00%"},
      {0.99995, "0.00%", "100.00%"},
      {12.3456789, "###0.#####0", "12.345679"},
      {0, "###0.#####0", "0.000000"},
      {450.0125, "#000.#####0MHz", "450.012500MHz"},
      {5.5, "#000.#####0MHz", "005.500000MHz"},
      {9.9996, "###0.##0", "10.000"},
      {-27.25, "###0.##0", "-27.250"},
      {1.25, "0.0##", "1.25"},
      {1, "0.0##", "1.0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatNumber(c.value, c.pattern), c.expected) << c.value << " with " << c.pattern;
  }
}

TEST(NumFormat, LargeAndNonFiniteValues) {
  EXPECT_EQ(formatNumber(999999999999999.0, "#0"), "999999999999999");
  EXPECT_EQ(formatNumber(4503599627370497.0, "#0"), "4503599627370497");
  EXPECT_EQ(formatNumber(1e20, "###0.##0"), "100000000000000000000.000");
  EXPECT_EQ(formatNumber(std::numeric_limits<double>::quiet_NaN(), "#0"), "NaN");
  EXPECT_EQ(formatNumber(-std::numeric_limits<double>::infinity(), "#0"), "-Inf");
}

TEST(NumFormat, ColumnsAndDecimalTexts) {
  EXPECT_EQ(rightAlign("12", 5), "   12");
  EXPECT_EQ(rightAlign("12345", 4), "2345");
  EXPECT_EQ(rightAlign("abc", 0), "");
  EXPECT_EQ(decimal(-5), "-5");
  EXPECT_EQ(decimalWithSign(0), " 0");
  EXPECT_EQ(decimalWithSign(-2), "-2");
}

}  // namespace
}  // namespace tarnset
