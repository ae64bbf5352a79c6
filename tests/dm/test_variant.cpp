#include "dm/error.h"
#include "dm/variant.h"

#include <gtest/gtest.h>

using dm::Variant;

namespace {

QString conversionError(const Variant &value, bool toInteger)
{
    try {
        if (toInteger)
            value.asInteger();
        else
            value.asString();
    } catch (const dm::Error &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(Variant, NullFailsBothConversions)
{
    const QString message = QStringLiteral("Invalid variant type conversion");
    EXPECT_EQ(conversionError(Variant(), true), message);
    EXPECT_EQ(conversionError(Variant(), false), message);
    // A typed null from a driver is null too.
    const Variant typedNull = Variant::fromQVariant(QVariant(QMetaType::fromType<QString>()));
    EXPECT_TRUE(typedNull.isNull());
    EXPECT_EQ(typedNull, Variant());
    EXPECT_EQ(conversionError(typedNull, true), message);
    EXPECT_EQ(
        conversionError(Variant::fromQVariant(QVariant(QMetaType::fromType<qlonglong>())), false),
        message);
}

TEST(Variant, TextToInteger)
{
    EXPECT_EQ(Variant("49").asInteger(), 49);
    EXPECT_EQ(Variant(" 7 ").asInteger(), 7);
    EXPECT_EQ(Variant("-2147483648").asInteger(), INT32_MIN);
    EXPECT_EQ(Variant::fromQVariant(QVariant(QByteArray("12"))).asInteger(), 12);
    EXPECT_EQ(conversionError(Variant("abc"), true),
              QStringLiteral("'abc' is not a valid integer value"));
    EXPECT_EQ(conversionError(Variant(""), true),
              QStringLiteral("'' is not a valid integer value"));
    EXPECT_EQ(conversionError(Variant("2147483648"), true),
              QStringLiteral("'2147483648' is not a valid integer value"));
    EXPECT_EQ(conversionError(Variant("4.5"), true),
              QStringLiteral("'4.5' is not a valid integer value"));
}

TEST(Variant, DatabaseNumbers)
{
    EXPECT_EQ(Variant::fromQVariant(QVariant(qlonglong(53))).asInteger(), 53);
    EXPECT_EQ(Variant::fromQVariant(QVariant(qlonglong(53))).asString(), QStringLiteral("53"));
    EXPECT_EQ(Variant::fromQVariant(QVariant(qlonglong(-9000000000))).asString(),
              QStringLiteral("-9000000000"));
    EXPECT_EQ(conversionError(Variant::fromQVariant(QVariant(qlonglong(1) << 31)), true),
              QStringLiteral("'2147483648' is not a valid integer value"));

    // Doubles round to the nearest integer.
    EXPECT_EQ(Variant::fromQVariant(QVariant(52.6)).asInteger(), 53);
    EXPECT_EQ(Variant::fromQVariant(QVariant(-52.6)).asInteger(), -53);
    EXPECT_EQ(Variant::fromQVariant(QVariant(7.0)).asInteger(), 7);
    EXPECT_EQ(conversionError(Variant::fromQVariant(QVariant(3e10)), true),
              QStringLiteral("'30000000000' is not a valid integer value"));

    // Doubles print as the shortest decimal that reads back exactly, never with an exponent.
    EXPECT_EQ(Variant::fromQVariant(QVariant(0.1)).asString(), QStringLiteral("0.1"));
    EXPECT_EQ(Variant::fromQVariant(QVariant(1234.5)).asString(), QStringLiteral("1234.5"));
    EXPECT_EQ(Variant::fromQVariant(QVariant(100.0)).asString(), QStringLiteral("100"));
    EXPECT_EQ(Variant::fromQVariant(QVariant(-0.0)).asString(), QStringLiteral("0"));
    EXPECT_EQ(Variant::fromQVariant(QVariant(1e21)).asString(),
              QStringLiteral("1000000000000000000000"));
    EXPECT_EQ(Variant::fromQVariant(QVariant(0.1 + 0.2)).asString(),
              QStringLiteral("0.30000000000000004"));
}
