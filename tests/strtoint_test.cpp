#include "strtoint.h"

#include <gtest/gtest.h>

using win::StrToInt;
using win::TryStrToInt;

TEST(StrToInt, DecimalWithLeadingSpacesAndSign) {
  EXPECT_EQ(StrToInt("3128"), 3128);
  EXPECT_EQ(StrToInt(" 3128"), 3128);
  EXPECT_EQ(StrToInt("   -17"), -17);
  EXPECT_EQ(StrToInt("+42"), 42);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("70000"), 70000);
}

TEST(StrToInt, HexadecimalFormsWithoutSign) {
  EXPECT_EQ(StrToInt("$C38"), 3128);
  EXPECT_EQ(StrToInt("x0C38"), 3128);
  EXPECT_EQ(StrToInt("X0c38"), 3128);
  EXPECT_EQ(StrToInt("0xC38"), 3128);
  EXPECT_EQ(StrToInt("0Xc38"), 3128);
  EXPECT_EQ(StrToInt(" $FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("$000000000001"), 1);  // leading zeros do not count
}

TEST(StrToInt, RejectsWhatDoesNotConvert) {
  for (const char* bad : {"", " ", "3128 ", "31 28", "-", "+", "$", "0x", "x", "-$10", "+0x10",
                          "2147483648", "-2147483649", "$100000000", "12a", "\t5", "٣"}) {
    EXPECT_FALSE(TryStrToInt(bad).has_value()) << '"' << bad << '"';
  }
  EXPECT_THROW(StrToInt("3128 "), win::EConvertError);
}
