#include "sqlcompat/decimal.h"

#include <charconv>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using sqlcompat::Decimal;

namespace {

Decimal dec(const char *text)
{
    const auto value = Decimal::parse(text);
    EXPECT_TRUE(value.has_value()) << text;
    return value.value_or(Decimal());
}

std::string str(const std::optional<Decimal> &value)
{
    return value ? value->toString() : "overflow";
}

std::string shortest(double value)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

} // namespace

TEST(DecimalParse, AcceptsTheServersNumericTexts)
{
    EXPECT_EQ(dec("123.45").toString(), "123.45");
    EXPECT_EQ(dec("  -0.50 ").toString(), "-0.50");
    EXPECT_EQ(dec("+7").toString(), "7");
    EXPECT_EQ(dec(".5").toString(), "0.5");
    EXPECT_EQ(dec("5.").toString(), "5");
    EXPECT_EQ(dec("000123").toString(), "123");
    EXPECT_EQ(dec("99999999999999999999999999999999999999").toString(),
              "99999999999999999999999999999999999999");
    EXPECT_EQ(dec("0.00000000000000000000000000000000000001").scale(), 38);
}

TEST(DecimalParse, RejectsEverythingElse)
{
    for (const char *text : {"", " ", "-", ".", "abc", "1e5", "1.2.3", "1 2", "--1", "0x10",
                             "123456789012345678901234567890123456789"})
        EXPECT_FALSE(Decimal::parse(text).has_value()) << text;
}

TEST(DecimalFromDouble, GivesBackTheDecimalThatWasWritten)
{
    const std::pair<double, const char *> cases[] = {
        {0.1, "0.1"},
        {123.45, "123.45"},
        {-2.675, "-2.675"},
        {1e20, "100000000000000000000"},
        {0, "0"},
        {9999999999999.99, "9999999999999.99"},
        {31.123456, "31.123456"},
        {1.23456789012345e-10, "0.000000000123456789012345"},
        {0.1 + 0.2, "0.3"}, // no 15-digit decimal: the nearest one
    };
    for (const auto &[stored, written] : cases) {
        const auto read = Decimal::fromDouble(stored);
        ASSERT_TRUE(read) << written;
        EXPECT_TRUE(*read == dec(written)) << written << " read as " << read->toString();
    }
    EXPECT_FALSE(Decimal::fromDouble(1e39).has_value());
    EXPECT_FALSE(Decimal::fromDouble(INFINITY).has_value());
    EXPECT_FALSE(Decimal::fromDouble(NAN).has_value());
}

TEST(DecimalFromDouble, RoundTripsRandomDecimalsOfUpTo15Digits)
{
    std::mt19937_64 random(42);
    for (int i = 0; i < 200000; ++i) {
        const int digits = 1 + int(random() % 15);
        const int scale = int(random() % (digits + 3));
        std::int64_t mantissa = std::int64_t(random() % std::uint64_t(std::pow(10.0, digits)));
        if (random() % 2)
            mantissa = -mantissa;
        const auto written = Decimal::make(mantissa, scale);
        ASSERT_TRUE(written);
        const std::string text = written->toString();
        double stored = 0;
        std::from_chars(text.data(), text.data() + text.size(), stored);
        const auto read = Decimal::fromDouble(stored);
        ASSERT_TRUE(read) << text;
        ASSERT_TRUE(*read == *written) << text << " read back as " << read->toString();
    }
}

TEST(DecimalArithmetic, IsExact)
{
    EXPECT_EQ(str(dec("0.1").plus(dec("0.2"))), "0.3");
    EXPECT_EQ(str(dec("1.005").minus(dec("0.005"))), "1.000");
    EXPECT_EQ(str(dec("-0.1").plus(dec("0.1"))), "0.0");
    EXPECT_EQ(str(dec("1234.56").plus(dec("0.0001"))), "1234.5601");
    EXPECT_EQ(str(dec("12345678.90").times(dec("31.123456"))), "384240194.03427840");
    EXPECT_EQ(str(dec("-1.5").times(dec("-1.5"))), "2.25");
    EXPECT_EQ(str(dec("0.000001").times(dec("0.000001"))), "0.000000000001");
    // 1 + 10^-37 needs all 38 digits and still fits.
    EXPECT_EQ(str(dec("1").plus(dec("0.0000000000000000000000000000000000001"))),
              "1.0000000000000000000000000000000000001");
}

TEST(DecimalArithmetic, ReportsOverflowInsteadOfWrapping)
{
    const Decimal max = dec("99999999999999999999999999999999999999");
    EXPECT_FALSE(max.plus(dec("1")).has_value());
    EXPECT_FALSE(max.negated().minus(dec("1")).has_value());
    EXPECT_FALSE(max.times(dec("10")).has_value());
    EXPECT_FALSE(max.times(max).has_value());
    EXPECT_EQ(str(max.plus(dec("-1"))), "99999999999999999999999999999999999998");
}

TEST(DecimalArithmetic, GivesUpPlacesAfterThePointBeforeOverflowing)
{
    // 30 digits before the point leave 8 after it; the rest is rounded away.
    const Decimal big = dec("123456789012345678901234567890");
    EXPECT_EQ(str(big.plus(dec("0.0000000051"))), "123456789012345678901234567890.00000001");
    EXPECT_EQ(str(big.times(dec("1.00000000005"))), "123456789018518518351851851835.06172839");
    // Never below 6 places: then it is an overflow.
    EXPECT_FALSE(dec("12345678901234567890123456789012345").plus(dec("0.000001")).has_value());
}

TEST(DecimalRound, RoundsHalfAwayFromZero)
{
    const std::pair<const char *, const char *> cases[] = {
        {"1.005", "1.01"},         {"2.675", "2.68"},   {"-0.125", "-0.13"},  {"3.0149999", "3.01"},
        {"0.004999", "0.00"},      {"-0.005", "-0.01"}, {"99.995", "100.00"}, {"1.5", "1.5"},
        {"12.344999999", "12.34"}, {"-2.675", "-2.68"}, {"0.125", "0.13"},
    };
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(str(dec(input).rounded(2)), expected) << input;
    EXPECT_EQ(str(dec("2.5").rounded(0)), "3");
    EXPECT_EQ(str(dec("-2.5").rounded(0)), "-3");
    EXPECT_EQ(str(dec("1250").rounded(-2)), "1300");
    EXPECT_EQ(str(dec("-1249.99").rounded(-2)), "-1200");
    EXPECT_EQ(str(dec("49.9").rounded(-2)), "0");
    EXPECT_EQ(str(dec("12.5").rounded(-40)), "0");
    EXPECT_FALSE(dec("99999999999999999999999999999999999999").rounded(-1).has_value());
}

TEST(DecimalRound, TruncatesOnRequest)
{
    EXPECT_EQ(str(dec("2.679").truncated(2)), "2.67");
    EXPECT_EQ(str(dec("-2.679").truncated(2)), "-2.67");
    EXPECT_EQ(str(dec("1299").truncated(-2)), "1200");
}

TEST(DecimalCompare, ComparesValuesAcrossScales)
{
    EXPECT_TRUE(dec("1.50") == dec("1.5"));
    EXPECT_EQ(dec("0.1").compare(dec("0.09")), 1);
    EXPECT_EQ(dec("-0.1").compare(dec("-0.09")), -1);
    EXPECT_EQ(dec("99999999999999999999999999999999999999")
                  .compare(dec("0.00000000000000000000000000000000000001")),
              1);
    EXPECT_EQ(dec("-99999999999999999999999999999999999999")
                  .compare(dec("0.00000000000000000000000000000000000001")),
              -1);
}

TEST(DecimalConvert, GivesTheNearestDoubleAndExactIntegers)
{
    EXPECT_EQ(shortest(dec("1234.57").toDouble()), "1234.57");
    EXPECT_EQ(shortest(dec("-0.3").toDouble()), "-0.3");
    EXPECT_EQ(shortest(dec("123456789012345678.25").toDouble()), "123456789012345680");
    EXPECT_EQ(shortest(dec("0.00000000000000000000000000000000000001").toDouble()), "1e-38");
    EXPECT_EQ(dec("12.000").toInt64(), 12);
    EXPECT_EQ(dec("9223372036854775807").toInt64(), INT64_MAX);
    EXPECT_FALSE(dec("9223372036854775808").toInt64().has_value());
    EXPECT_FALSE(dec("12.5").toInt64().has_value());
}

TEST(DecimalPacked, SurvivesTheRoundTrip)
{
    for (const char *text : {"0", "-1", "99999999999999999999999999999999999999",
                             "-99999999999999999999999999999999999999", "-0.000123"}) {
        const Decimal value = dec(text);
        const Decimal back = Decimal::unpacked(value.packed());
        EXPECT_EQ(back.toString(), value.toString());
    }
}
