// The monitor lines: prefix, scaling, number formats, the thermistor formula.
#include <gtest/gtest.h>

#include <stdexcept>

#include "model/clsIndOp_RigTarn.h"

using tarnset::clsIndOp_RigTarn;

namespace {
std::string ad(std::int16_t line, std::int16_t raw) { return clsIndOp_RigTarn::MonitorLineText(true, line, raw); }
std::string da(std::int16_t line, std::int16_t raw) { return clsIndOp_RigTarn::MonitorLineText(false, line, raw); }
}  // namespace

TEST(MonitorLines, VoltageLinesScaleTheRawValueAndKeepTwoDecimals) {
  EXPECT_EQ(ad(0, 176), "VIN  :176:B0h: 13.80V");  // 176 x 20 / 255 = 13.804
  EXPECT_EQ(ad(0, 0), "VIN  :  0:00h:  0.00V");
  EXPECT_EQ(ad(0, 255), "VIN  :255:FFh: 20.00V");
  EXPECT_EQ(ad(2, 97), "LVIN : 97:61h:  1.90V");   // 97 x 5 / 255 = 1.902
  EXPECT_EQ(ad(3, 5), "SD   :  5:05h:  0.10V");
  EXPECT_EQ(da(0, 99), "BPF T1 : 99:63h:  1.94V");
  EXPECT_EQ(da(3, 103), "T4/POW :103:67h:  2.02V");
  EXPECT_EQ(da(7, 84), "CTCSS  : 84:54h:  1.65V");
}

TEST(MonitorLines, PercentLinesShowTheFractionOf255) {
  EXPECT_EQ(da(5, 126), "MOD BAL:126:7Eh: 49.41%");
  EXPECT_EQ(da(8, 255), "SQL Lev:255:FFh:100.00%");
  EXPECT_EQ(da(8, 0), "SQL Lev:  0:00h:  0.00%");
}

TEST(MonitorLines, TheTemperatureComesFromTheThermistorFormula) {
  EXPECT_EQ(ad(1, 173), "TEMPS:173:ADh: 24.81'C");
  EXPECT_EQ(ad(1, 100), "TEMPS:100:64h:   .65'C") << "no leading zero below one degree";
  EXPECT_EQ(ad(1, 50), "TEMPS: 50:32h:-16.44'C");
  EXPECT_EQ(ad(1, 0), "TEMPS:  0:00h:*Error");
  EXPECT_EQ(ad(1, 255), "TEMPS:255:FFh:*Error");
}

TEST(MonitorLines, ALineOutsideTheTablesIsAProgrammingError) {
  EXPECT_THROW(ad(4, 0), std::out_of_range);
  EXPECT_THROW(da(9, 0), std::out_of_range);
}
