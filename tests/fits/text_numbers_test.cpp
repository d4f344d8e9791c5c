#include "fits/text_numbers.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

TEST(NumericValueOfText, ReadsTheLeadingNumber) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"10", 10},          {"1.5", 1.5},       {"1,5", 1},          {"", 0},
      {"abc", 0},          {" 1 0", 10},       {"1 6", 16},         {"\t-\n2.5", -2.5},
      {"+.5", 0.5},        {"5.", 5},          {".", 0},            {"-", 0},
      {"1.5.3", 1.5},      {"1E3", 1000},      {"2d2", 200},        {"1e-2", 0.01},
      {"1E", 1},           {"1E+", 1},         {"3 E 2", 300},      {"E5", 0},
      {"  16 / comment", 16}, {"-32", -32},    {"1e999", std::numeric_limits<double>::infinity()},
      {"-1e999", -std::numeric_limits<double>::infinity()}, {"1e-999", 0}, {"T", 0},
      {"0007", 7},         {"12abc", 12},      {"--1", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(NumericValueOfText(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberAsText, BlankBeforeNonNegativeAndShortestForm) {
  EXPECT_EQ(NumberAsText(0), " 0");
  EXPECT_EQ(NumberAsText(3), " 3");
  EXPECT_EQ(NumberAsText(64), " 64");
  EXPECT_EQ(NumberAsText(7.5), " 7.5");
  EXPECT_EQ(NumberAsText(-2), "-2");
  EXPECT_EQ(ShortestDecimal(0.1), "0.1");
  EXPECT_EQ(ShortestDecimal(123456789012345678.0), "1.23456789012346e+17");
}

TEST(RoundToInt32, HalvesToEvenAndSaturates) {
  EXPECT_EQ(RoundToInt32(2.5), 2);
  EXPECT_EQ(RoundToInt32(7.5), 8);
  EXPECT_EQ(RoundToInt32(-0.5), 0);
  EXPECT_EQ(RoundToInt32(-1.5), -2);
  EXPECT_EQ(RoundToInt32(220.5), 220);
  EXPECT_EQ(RoundToInt32(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundToInt32(-1e300), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(RoundToInt32(std::nan("")), 0);
  EXPECT_EQ(SaturateToInt32(int64_t{1} << 40), std::numeric_limits<int32_t>::max());
}
