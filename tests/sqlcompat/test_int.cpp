// A DATEPART number compared with a quoted text: the text is converted to int first.
#include "test_db.h"

#include "sqlcompat/functions.h"

#include <gtest/gtest.h>

namespace {

class IntConversion : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("INSERT INTO COPTC(TC001, TC003, TC027) VALUES "
                               "('A', '20240518', 'Y'), ('B', '20230518', 'Y'), "
                               "('C', '20240101', 'Y')"));
    }

    // The orders whose year and month compare as given; the error when it fails.
    CompatDb::Result select(const QString &yearFilter, const QString &monthFilter = QString())
    {
        QString sql = QStringLiteral("SELECT TC001 FROM COPTC WHERE DATEPART ( YEAR , "
                                     "convert(datetime,TC003,112)) %1")
                          .arg(yearFilter);
        if (!monthFilter.isEmpty())
            sql += QStringLiteral(" AND DATEPART ( Month , convert(datetime,TC003,112)) %1")
                       .arg(monthFilter);
        return db.run(sql + QStringLiteral(" ORDER BY TC001"));
    }

    QString selected(const QString &yearFilter, const QString &monthFilter = QString())
    {
        const auto result = select(yearFilter, monthFilter);
        EXPECT_TRUE(result.ok()) << yearFilter.toStdString() << " " << monthFilter.toStdString()
                                 << ": " << result.error.toStdString();
        QStringList names;
        for (const QStringList &row : result.rows)
            names << row.value(0);
        return names.join(u',');
    }

    CompatDb db;
};

QString conversionFailed(const QString &text)
{
    return QStringLiteral(
               "Conversion failed when converting the varchar value '%1' to data type int.")
        .arg(text);
}

} // namespace

TEST_F(IntConversion, TextsThatAreIntegersCompareAsNumbers)
{
    EXPECT_EQ(selected(QStringLiteral("='2024'")), "A,C");
    EXPECT_EQ(selected(QStringLiteral("=' 2024 '")), "A,C");
    EXPECT_EQ(selected(QStringLiteral("='+2024'")), "A,C");
    EXPECT_EQ(selected(QStringLiteral("='02024'")), "A,C");
    EXPECT_EQ(selected(QStringLiteral("='2024'"), QStringLiteral("='5'")), "A");
    EXPECT_EQ(selected(QStringLiteral("='2024'"), QStringLiteral("='+5'")), "A");
    EXPECT_EQ(selected(QStringLiteral("='2024'"), QStringLiteral("=' 05'")), "A");
    // Numerically, not as texts: '10' > '5' as numbers only.
    EXPECT_EQ(selected(QStringLiteral("<'10000'")), "A,B,C");
    EXPECT_EQ(selected(QStringLiteral(">='2024'"), QStringLiteral("<'10'")), "A,C");
    EXPECT_EQ(selected(QStringLiteral("<>'2024'")), "B");
}

TEST_F(IntConversion, EmptyOrBlankTextIsZero)
{
    EXPECT_EQ(selected(QStringLiteral("=''")), "");
    EXPECT_EQ(selected(QStringLiteral("> ''")), "A,B,C");
    EXPECT_EQ(selected(QStringLiteral(">'   '")), "A,B,C");
}

TEST_F(IntConversion, OtherTextsFailWithTheTextInTheMessage)
{
    for (const char *text :
         {"abc", "2024.0", "20 24", "2024a", "- 2024", "0x7E8", "1e3", "２０２４"}) {
        const auto result = select(QStringLiteral("='%1'").arg(QString::fromUtf8(text)));
        EXPECT_EQ(result.error, conversionFailed(QString::fromUtf8(text))) << text;
        EXPECT_TRUE(result.rows.isEmpty());
    }
    // The message shows the value, not its quoting.
    EXPECT_EQ(select(QStringLiteral("='it''s'")).error, conversionFailed(QStringLiteral("it's")));
    EXPECT_EQ(select(QStringLiteral("='2024'"), QStringLiteral("='x'")).error,
              conversionFailed(QStringLiteral("x")));
    EXPECT_EQ(select(QStringLiteral("='99999999999'")).error,
              QStringLiteral("The conversion of the varchar value '99999999999' overflowed an int "
                             "column."));
}

TEST_F(IntConversion, TheTextMayStandLeftAndInLists)
{
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTC WHERE ' 2024' = DATEPART ( YEAR , "
                       "convert(datetime,TC003,112))"),
              "2");
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTC WHERE DATEPART(Month, "
                       "convert(datetime,TC003,112)) IN ('1', ' 5 ')"),
              "3");
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTC WHERE DATEPART(Month, "
                       "convert(datetime,TC003,112)) NOT IN ('1')"),
              "2");
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTC WHERE DATEPART(YEAR, "
                       "convert(datetime,TC003,112)) BETWEEN '2020' AND ' 2023'"),
              "1");
    EXPECT_EQ(db.run("SELECT COUNT(*) FROM COPTC WHERE DATEPART(Month, "
                     "convert(datetime,TC003,112)) IN ('1', 'May')")
                  .error,
              conversionFailed(QStringLiteral("May")));
}

TEST_F(IntConversion, ABoundTextOrIntegerComparesAsANumber)
{
    const QString sql = QStringLiteral("SELECT COUNT(*) FROM COPTC WHERE DATEPART ( Month , "
                                       "convert(datetime,TC003,112)) = ?");
    EXPECT_EQ(db.value(sql, {5}), "2");
    EXPECT_EQ(db.value(sql, {QStringLiteral(" 5")}), "2");
    EXPECT_EQ(db.value(sql, {QVariant()}), "0");
    EXPECT_EQ(db.run(sql, {QStringLiteral("five")}).error,
              conversionFailed(QStringLiteral("five")));
}

TEST(VarcharToInt, FollowsTheServersRules)
{
    using sqlcompat::IntStatus;
    using sqlcompat::varcharToInt;
    std::int32_t value = 99;
    EXPECT_EQ(varcharToInt("-2147483648", value), IntStatus::Ok);
    EXPECT_EQ(value, INT32_MIN);
    EXPECT_EQ(varcharToInt("2147483647", value), IntStatus::Ok);
    EXPECT_EQ(value, INT32_MAX);
    EXPECT_EQ(varcharToInt("2147483648", value), IntStatus::Overflow);
    EXPECT_EQ(varcharToInt("-99999999999999999999999", value), IntStatus::Overflow);
    EXPECT_EQ(varcharToInt("  ", value), IntStatus::Ok);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(varcharToInt("-", value), IntStatus::Ok); // a lone sign reads as 0, as there
    EXPECT_EQ(value, 0);
    EXPECT_EQ(varcharToInt("\t5", value), IntStatus::Invalid);
    EXPECT_EQ(varcharToInt("5-", value), IntStatus::Invalid);
}
