#include "core/common/numbers.h"

#include <gtest/gtest.h>

#include <clocale>

namespace korva {
namespace {

TEST(Numbers, LeadingNumberTakesTheNumericPrefixOnly) {
  EXPECT_EQ(ParseLeadingNumber("  200000 "), 200000.0);
  EXPECT_EQ(ParseLeadingNumber("\t-1.5e3xyz"), -1500.0);
  EXPECT_EQ(ParseLeadingNumber("+.25"), 0.25);
  EXPECT_EQ(ParseLeadingNumber("3e"), 3.0);  // an exponent without digits is not taken
  EXPECT_EQ(ParseLeadingNumber("abc"), 0.0);
  EXPECT_EQ(ParseLeadingNumber(""), 0.0);
  EXPECT_EQ(ParseLeadingNumber("inf"), 0.0);
  EXPECT_EQ(ParseLeadingNumber("nan"), 0.0);
  EXPECT_EQ(ParseLeadingNumber("0x1p3"), 0.0);
  EXPECT_EQ(ParseLeadingNumber("1e999"), 1.7976931348623157e308);
  EXPECT_EQ(ParseLeadingNumber("1e-999"), 0.0);
}

TEST(Numbers, WholeNumbersMustFillTheText) {
  EXPECT_EQ(ParseWholeNumber("44100"), 44100.0);
  EXPECT_EQ(ParseWholeNumber("-2.5E-3"), -0.0025);
  EXPECT_FALSE(ParseWholeNumber("44100 "));
  EXPECT_FALSE(ParseWholeNumber("1,5"));
  EXPECT_FALSE(ParseWholeNumber("nan"));
  EXPECT_FALSE(ParseWholeNumber("inf"));
  EXPECT_FALSE(ParseWholeNumber("1e999"));
  EXPECT_FALSE(ParseWholeNumber("-"));
  EXPECT_EQ(ParseWholeInteger("-12"), -12);
  EXPECT_EQ(ParseWholeInteger("+7"), 7);
  EXPECT_FALSE(ParseWholeInteger("2.5"));
  EXPECT_FALSE(ParseWholeInteger("99999999999999999999"));
}

TEST(Numbers, FormattingIgnoresTheUserLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(FormatFixed(3.25, 3), "3.250");
  EXPECT_EQ(FormatFixed(-0.5, 8, 2), "   -0.50");
  EXPECT_EQ(ParseLeadingNumber("3.25"), 3.25);
  EXPECT_EQ(FormatInteger(-4096), "-4096");
  EXPECT_EQ(ParseWholeNumber(FormatShortest(0.1)), 0.1);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
}  // namespace korva
