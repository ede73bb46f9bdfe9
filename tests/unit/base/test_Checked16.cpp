#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/Checked16.h"

namespace tarnset {
namespace {

TEST(Checked16, ResultsOutsideTheRangeThrowInsteadOfWrapping) {
  EXPECT_EQ(narrow16(-32768), -32768);
  EXPECT_THROW(narrow16(32768), std::overflow_error);
  EXPECT_THROW(narrow32(-2147483649LL), std::overflow_error);
  EXPECT_EQ(add16(32766, 1), 32767);
  EXPECT_THROW(add16(32767, 1), std::overflow_error);
  EXPECT_THROW(sub16(-32768, 1), std::overflow_error);
  EXPECT_EQ(mul16(-128, 256), -32768);
  EXPECT_THROW(mul16(-1, -32768), std::overflow_error);
  EXPECT_THROW(add32(2147483647, 1), std::overflow_error);
  EXPECT_EQ(mul32(65536, -32768), std::numeric_limits<std::int32_t>::min());
  EXPECT_THROW(mul32(65536, 32768), std::overflow_error);
  EXPECT_EQ(clampTo<std::int16_t>(-40, -32, 31), -32);
  EXPECT_EQ(clampTo(11, 0, 10), 10);
}

TEST(Checked16, RoundingGoesHalfToEvenAndChecksTheRange) {
  for (const auto& [v, r] : {std::pair{0.5, 0.0}, {1.5, 2.0}, {2.5, 2.0}, {-2.5, -2.0}, {2.5000001, 3.0}}) {
    EXPECT_EQ(roundHalfEven(v), r) << v;
  }
  EXPECT_EQ(roundTo16(32767.4), 32767);
  EXPECT_EQ(roundTo16(-32768.5), -32768);  // the even neighbour fits
  EXPECT_THROW(roundTo16(32767.5), std::overflow_error);
  EXPECT_THROW(roundTo16(std::nan("")), std::overflow_error);
  EXPECT_EQ(roundTo32(-2147483648.4), std::numeric_limits<std::int32_t>::min());
  EXPECT_THROW(roundTo32(2147483647.5), std::overflow_error);
  EXPECT_THROW(roundTo32(-INFINITY), std::overflow_error);
}

}  // namespace
}  // namespace tarnset
