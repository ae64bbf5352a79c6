// SUM and ROUND on the decimal columns: exact sums, rounding half away from zero.
#include "test_db.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

class Sums : public ::testing::Test
{
protected:
    // Orders of one group; each row (amount, tax, rate, quantity), "NULL" for null.
    void orders(std::initializer_list<std::array<const char *, 4>> rows, const char *group = "G1")
    {
        for (const auto &row : rows)
            db.exec(QStringLiteral("INSERT INTO COPTC(TC006, TC029, TC030, TC009, TC031) "
                                   "VALUES('%1', %2, %3, %4, %5)")
                        .arg(QLatin1String(group), QLatin1String(row[0]), QLatin1String(row[1]),
                             QLatin1String(row[2]), QLatin1String(row[3])));
    }

    QString measure(const char *expression, const char *group = "G1")
    {
        return db.value(QStringLiteral("SELECT %1 FROM COPTC WHERE TC006 = '%2'")
                            .arg(QLatin1String(expression), QLatin1String(group)));
    }

    CompatDb db;
};

} // namespace

TEST_F(Sums, SumsAreExactDecimals)
{
    orders({{"0.1", "0", "1", "0.1"}, {"0.2", "0", "1", "0.2"}});
    EXPECT_EQ(measure("SUM(TC031)"), "0.3");
    EXPECT_EQ(measure("SUM(TC029+TC030)"), "0.3");
    EXPECT_EQ(measure("SUM((TC029+TC030)*TC009)"), "0.3");
    EXPECT_EQ(measure("SUM(TC029*3)"), "0.9");
    EXPECT_EQ(measure("SUM(-TC029 - (TC030 - 1) * 2.5)"), "4.7");
    // Integral totals come back as integers.
    orders({{"1.25", "0", "1", "1.75"}}, "G2");
    EXPECT_EQ(measure("SUM(TC031 + TC029)", "G2"), "3");
    EXPECT_EQ(
        db.typeOf(QStringLiteral("(SELECT sqlsrv_sum('c', TC031) FROM COPTC WHERE TC006='G2')")),
        "real");
}

TEST_F(Sums, RoundIsHalfAwayFromZeroOnTheExactTotal)
{
    // Each total lies on (or next to) a half cent; in binary floating point they do not.
    struct Case
    {
        const char *group;
        std::array<const char *, 4> a, b;
        const char *rounded;
    };
    const Case cases[] = {
        {"T1", {"1.004", "0.001", "1", "0"}, {"0", "0", "1", "0"}, "1.01"},
        {"T2", {"105.05", "0", "1", "0"}, {"10.01", "0", "0.5", "0"}, "110.06"},
        {"T3", {"2.67", "0.005", "1", "0"}, {"0", "0", "1", "0"}, "2.68"},
        {"T4", {"-0.12", "-0.005", "1", "0"}, {"0", "0", "1", "0"}, "-0.13"},
        {"T5", {"3.0149999", "0", "1", "0"}, {"0", "0", "1", "0"}, "3.01"},
        {"T6", {"1000", "0", "0.000005", "0"}, {"0", "0", "1", "0"}, "0.01"},
        {"T7", {"-1000", "0", "0.000005", "0"}, {"0", "0", "1", "0"}, "-0.01"},
    };
    for (const Case &c : cases) {
        orders({c.a, c.b}, c.group);
        EXPECT_EQ(measure("ROUND(SUM((TC029+TC030)*TC009),2)", c.group), c.rounded) << c.group;
    }
    EXPECT_EQ(measure("ROUND(SUM(TC029+TC030),2)", "T1"), "1.01");
    EXPECT_EQ(measure("ROUND(SUM(TC029+TC030),0)", "T2"), "115");
    EXPECT_EQ(measure("ROUND(SUM(TC029+TC030),-1)", "T2"), "120");
    EXPECT_EQ(measure("ROUND(SUM(TC029+TC030),2,1)", "T1"), "1");
    // ROUND of one row's arithmetic, and of single values.
    EXPECT_EQ(db.value("SELECT ROUND(TC029+TC030, 2) FROM COPTC WHERE TC006 = 'T3' AND TC029 <> 0"),
              "2.68");
    EXPECT_EQ(db.value("SELECT ROUND((TC029+TC030)*TC009, 2) FROM COPTC WHERE TC006 = 'T2' AND "
                       "TC029 < 100"),
              "5.01");
    EXPECT_EQ(db.value("SELECT ROUND(TC029 * ?, 2) FROM COPTC WHERE TC006 = 'T6'", {0.000005}),
              "0.01");
    EXPECT_EQ(db.value("SELECT ROUND(2.675, 2), ROUND(-0.125, 2), ROUND(1.005, 2)"), "2.68");
    EXPECT_EQ(db.run("SELECT ROUND(-0.125, 2), ROUND(1.005, 2), ROUND(NULL, 2), ROUND(1.5, NULL)")
                  .rows.value(0),
              (QStringList{"-0.13", "1.01", "<null>", "<null>"}));
}

TEST_F(Sums, NullsAreSkippedAndAllNullIsNull)
{
    orders({{"1.10", "0.10", "2", "1"},
            {"5", "NULL", "1", "NULL"},
            {"NULL", "1", "1", "2"},
            {"1", "1", "NULL", "NULL"}});
    EXPECT_EQ(measure("SUM(TC031)"), "3");
    EXPECT_EQ(measure("ROUND(SUM((TC029+TC030)*TC009),2)"), "2.4");
    orders({{"NULL", "NULL", "NULL", "NULL"}}, "G2");
    EXPECT_EQ(measure("SUM(TC031)", "G2"), "<null>");
    EXPECT_EQ(measure("ROUND(SUM((TC029+TC030)*TC009),2)", "G2"), "<null>");
    EXPECT_EQ(measure("SUM(TC031)", "none"), "<null>");
    // A group whose terms are all null is still a group, with a null total.
    EXPECT_EQ(db.run("SELECT TC006, SUM(TC031) FROM COPTC GROUP BY TC006 ORDER BY TC006").rows,
              (QVector<QStringList>{{"G1", "3"}, {"G2", "<null>"}}));
}

TEST_F(Sums, ValuesThatAreNoNumbersFailTheStatement)
{
    orders({{"1", "0", "1", "'abc'"}});
    EXPECT_EQ(db.run("SELECT SUM(TC031) FROM COPTC").error,
              "Error converting data type varchar to numeric.");
    db.exec(QStringLiteral("UPDATE COPTC SET TC031 = ''"));
    EXPECT_EQ(db.run("SELECT SUM(TC031) FROM COPTC").error,
              "Error converting data type varchar to numeric.");
    db.exec(QStringLiteral("UPDATE COPTC SET TC031 = ' 2.5 '")); // blanks around a number
    EXPECT_EQ(db.value("SELECT SUM(TC031) FROM COPTC"), "2.5");
}

TEST_F(Sums, OverflowFailsInsteadOfLosingDigits)
{
    orders({{"1", "0", "1", "90000000000000000000000000000000000000"},
            {"1", "0", "1", "90000000000000000000000000000000000000"}});
    EXPECT_EQ(db.run("SELECT SUM(TC031) FROM COPTC").error,
              "Arithmetic overflow error converting expression to data type numeric.");
    EXPECT_EQ(db.run("SELECT SUM(TC031 * TC031) FROM COPTC").error,
              "Arithmetic overflow error converting expression to data type numeric.");
    EXPECT_EQ(db.run("SELECT ROUND(TC031 * 2, 0) FROM COPTC").error,
              "Arithmetic overflow error converting expression to data type numeric.");
}

TEST_F(Sums, AMillionRowsKeepEveryCent)
{
    // 999,999 rows of 0.1 + 0.2 and one of 0.005: exactly 299,999.705, which a binary
    // floating-point sum misses by some millionths of a cent, enough to round down.
    db.exec(QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 999999) "
        "INSERT INTO COPTG(TG003, TG004, TG006, TG023, TG045, TG046) "
        "SELECT '20240518', 'C001', 'S01', 'Y', 0.1, 0.2 FROM n"));
    db.exec(QStringLiteral("INSERT INTO COPTG(TG003, TG004, TG006, TG023, TG045, TG046) "
                           "VALUES('20240518', 'C001', 'S01', 'Y', 0.005, 0)"));
    QElapsedTimer timer;
    timer.start();
    const auto result = db.run(
        "SELECT ROUND(SUM(TG045+TG046),2), SUM(TG045), SUM(TG046) FROM COPTG WHERE TG023 = 'Y' "
        "AND DATEPART ( YEAR , convert(datetime,TG003,112)) ='2024' GROUP BY TG006");
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.rows.value(0), (QStringList{"299999.71", "99999.905", "199999.8"}));
    RecordProperty("milliseconds", int(timer.elapsed()));
}

TEST_F(Sums, HandWrittenCallsCannotCrashTheAggregate)
{
    for (const char *program : {"", "c+", "+", "cc", "k;", "kx;", "r;c", "rx;c", "~", "c~~~~",
                                "ccccccccccccccccc++++++++++++++++", "z"}) {
        const auto result = db.runPlain(QStringLiteral("SELECT sqlsrv_sum('%1', 1, 2) FROM "
                                                       "(SELECT 1)")
                                            .arg(QLatin1String(program)));
        EXPECT_FALSE(result.ok()) << program;
    }
    EXPECT_EQ(db.value("SELECT sqlsrv_sum('cc*k2.5;+', 3, 4)"), "14.5");
}
