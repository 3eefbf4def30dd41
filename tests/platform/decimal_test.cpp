#include "platform/decimal.h"

#include <gtest/gtest.h>

TEST(Decimal, WholeTextLeadingDigitsAndWrappingPorts) {
  EXPECT_EQ(parseDecimal("0"), 0);
  EXPECT_EQ(parseDecimal("100003"), 100003);
  EXPECT_EQ(parseDecimal("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"", "-1", "+1", " 1", "1 ", "1x", "9223372036854775808", "0x10"}) {
    EXPECT_FALSE(parseDecimal(bad)) << bad;
  }
  std::optional<LeadingDecimal> lead = leadingDecimal("1024 bytes");
  ASSERT_TRUE(lead);
  EXPECT_EQ(lead->value, 1024);
  EXPECT_EQ(lead->length, 4u);
  EXPECT_FALSE(leadingDecimal("x1"));
  EXPECT_FALSE(leadingDecimal("99999999999999999999"));
  EXPECT_EQ(leadingDecimalModulo("8080/path", 65536), 8080u);
  EXPECT_EQ(leadingDecimalModulo("65617", 65536), 81u);
  // However long, the digits wrap and never overflow.
  EXPECT_EQ(leadingDecimalModulo("99999999999999999999999", 65536), 65535u);
  EXPECT_FALSE(leadingDecimalModulo(":80", 65536));
}
