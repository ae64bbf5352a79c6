// DATEPART and convert(datetime, x, 112) on real SQLite, written as the batches write them.
#include "test_db.h"

#include <gtest/gtest.h>

namespace {

const QString BadFormat =
    QStringLiteral("Conversion failed when converting date and/or time from character string.");
const QString OutOfRange = QStringLiteral("The conversion of a varchar data type to a datetime "
                                          "data type resulted in an out-of-range value.");

class Dates : public ::testing::Test
{
protected:
    // One order row with this date text (a null QVariant for NULL).
    void setDate(const QVariant &date)
    {
        db.exec(QStringLiteral("DELETE FROM COPTC"));
        const auto result =
            db.runPlain(QStringLiteral("INSERT INTO COPTC(TC001, TC003, TC006, TC027, TC031) "
                                       "VALUES('3221', ?, 'G1', 'Y', 1)"),
                        {date});
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
    }

    CompatDb::Result part(const QString &partName, const QVariant &date)
    {
        setDate(date);
        return db.run(
            QStringLiteral("SELECT DATEPART ( %1 , convert(datetime,TC003,112)) FROM COPTC")
                .arg(partName));
    }

    QString partValue(const QString &partName, const QVariant &date)
    {
        const auto result = part(partName, date);
        EXPECT_TRUE(result.ok()) << date.toString().toStdString() << ": "
                                 << result.error.toStdString();
        return result.rows.value(0).value(0);
    }

    CompatDb db;
};

} // namespace

TEST_F(Dates, YearMonthAndWeekWithWeeksBeginningOnSunday)
{
    struct Case
    {
        const char *date;
        const char *year, *month, *week;
    };
    const Case cases[] = {
        {"20251231", "2025", "12", "53"}, // a Wednesday in the same Sunday-week as ...
        {"20260101", "2026", "1", "1"},   // ... this Thursday, which is week 1
        {"20260103", "2026", "1", "1"},   {"20260104", "2026", "1", "2"},
        {"20281231", "2028", "12", "54"}, // a Sunday after a leap year's 53 weeks
        {"20240229", "2024", "2", "9"},   {"20240518", "2024", "5", "20"},
        {"20240519", "2024", "5", "21"},  {"20230101", "2023", "1", "1"}, // 1 January a Sunday
        {"20221231", "2022", "12", "53"}, {"17530101", "1753", "1", "1"},
        {"99991231", "9999", "12", "53"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.date);
        EXPECT_EQ(partValue(QStringLiteral("YEAR"), c.date), c.year);
        EXPECT_EQ(partValue(QStringLiteral("Month"), c.date), c.month);
        EXPECT_EQ(partValue(QStringLiteral("Week"), c.date), c.week);
    }
}

TEST_F(Dates, PartNamesInAnyCaseAndSpacing)
{
    setDate("20281231");
    const char *statements[] = {
        "SELECT DATEPART ( Week , convert(datetime,TC003,112)) FROM COPTC",
        "SELECT datepart(week,CONVERT(DATETIME,TC003,112)) FROM COPTC",
        "SELECT DatePart(  WEEK  ,  Convert ( DateTime , TC003 , 112 )  ) FROM COPTC",
        "SELECT DATEPART(wk, convert(datetime,TC003,112)) FROM COPTC",
        "SELECT DATEPART(ww,\n\tconvert(datetime,TC003,112)) FROM COPTC",
    };
    for (const char *statement : statements)
        EXPECT_EQ(db.value(statement), "54") << statement;
    EXPECT_EQ(db.value("SELECT DATEPART(yyyy, convert(datetime,TC003,112)) FROM COPTC"), "2028");
    EXPECT_EQ(db.value("SELECT DATEPART(mm, convert(datetime,TC003,112)) FROM COPTC"), "12");
    EXPECT_EQ(db.value("SELECT DATEPART(dw, convert(datetime,TC003,112)) FROM COPTC"), "1");
    EXPECT_EQ(db.value("SELECT DATEPART(dy, convert(datetime,TC003,112)) FROM COPTC"), "366");
    EXPECT_EQ(db.value("SELECT DATEPART(qq, convert(datetime,TC003,112)) FROM COPTC"), "4");
    EXPECT_EQ(db.value("SELECT DATEPART(iso_week, convert(datetime,TC003,112)) FROM COPTC"), "52");
}

TEST_F(Dates, EmptyOrBlankTextIsTheBaseDate)
{
    for (const char *date : {"", "        ", " "}) {
        SCOPED_TRACE(std::string("'") + date + "'");
        EXPECT_EQ(partValue(QStringLiteral("YEAR"), date), "1900");
        EXPECT_EQ(partValue(QStringLiteral("Month"), date), "1");
        EXPECT_EQ(partValue(QStringLiteral("Week"), date), "1");
        EXPECT_EQ(db.value("SELECT convert(datetime,TC003,112) FROM COPTC"),
                  "1900-01-01 00:00:00.000");
    }
}

TEST_F(Dates, BlanksAroundADateAndSixDigitYearsAreAccepted)
{
    EXPECT_EQ(partValue(QStringLiteral("Month"), " 20240518  "), "5");
    // As the server reads unseparated texts: a two-digit year up to 49 is 20xx.
    EXPECT_EQ(partValue(QStringLiteral("YEAR"), "490518"), "2049");
    EXPECT_EQ(partValue(QStringLiteral("YEAR"), "500518"), "1950");
}

TEST_F(Dates, NullGivesNullAndSelectsNoRow)
{
    EXPECT_EQ(partValue(QStringLiteral("YEAR"), QVariant()), "<null>");
    for (const char *filter : {"='2024'", "<>'2024'", "IN ('2024', '1900')"}) {
        const auto rows = db.run(QStringLiteral("SELECT TC001 FROM COPTC WHERE DATEPART ( YEAR , "
                                                "convert(datetime,TC003,112)) %1")
                                     .arg(QLatin1String(filter)));
        ASSERT_TRUE(rows.ok()) << rows.error.toStdString();
        EXPECT_TRUE(rows.rows.isEmpty()) << filter;
    }
}

TEST_F(Dates, TextThatIsNoDateFailsTheStatement)
{
    for (const char *date : {"abc", "2026-1-x", "2026013", "202601031", "2026O103", "2026 0103",
                             "+2026010", "20260103x", "２０２６０１０３"}) {
        const auto result = part(QStringLiteral("YEAR"), date);
        EXPECT_EQ(result.error, BadFormat) << date;
        EXPECT_TRUE(result.rows.isEmpty()) << date;
    }
}

TEST_F(Dates, ImpossibleDatesAndYearsBefore1753AreOutOfRange)
{
    for (const char *date : {"20260230", "20250229", "17520101", "17521231", "20261301", "20260001",
                             "20260100", "20260132", "00000000"}) {
        const auto result = part(QStringLiteral("Month"), date);
        EXPECT_EQ(result.error, OutOfRange) << date;
    }
    EXPECT_EQ(partValue(QStringLiteral("Month"), "20240229"), "2");
}

TEST_F(Dates, AFailingRowInsertsNothing)
{
    db.exec(
        QStringLiteral("INSERT INTO COPTC(TC001, TC003, TC006, TC027, TC031) VALUES "
                       "('3221', '20240501', 'G1', 'Y', 1), ('3221', '20240502', 'G2', 'Y', 2), "
                       "('3221', '20240230', 'G3', 'Y', 3), ('3221', '20240503', 'G4', 'Y', 4)"));
    const auto result = db.run(
        "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M101' XX001,'2024' XX002,? XX003,"
        "SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y' AND TC001 IN "
        "('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) ='2024' AND "
        "DATEPART ( Month , convert(datetime,TC003,112)) ='5' GROUP BY TC006",
        {5});
    EXPECT_EQ(result.error, OutOfRange);
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM FADMXX"), "0");
}

TEST_F(Dates, DatePartOfOtherValues)
{
    // A text converted implicitly, a converted date on its own, and a day number.
    EXPECT_EQ(db.value("SELECT DATEPART(Week, '2028-12-31')"), "54");
    EXPECT_EQ(db.value("SELECT DATEPART(hour, '2028-12-31 13:45:10.5')"), "13");
    EXPECT_EQ(db.value("SELECT DATEPART(ms, '2028-12-31 13:45:10.5')"), "500");
    EXPECT_EQ(db.value("SELECT DATEPART(Month, convert(datetime, '20240518', 112))"), "5");
    EXPECT_EQ(db.value("SELECT DATEPART(YEAR, 0)"), "1900");
    EXPECT_EQ(db.value("SELECT DATEPART(day, 31)"), "1");
    EXPECT_EQ(db.run("SELECT DATEPART(YEAR, '2028-13-01')").error, OutOfRange);
    EXPECT_EQ(db.run("SELECT DATEPART(YEAR, '28.12.2028')").error, BadFormat);
    EXPECT_EQ(db.run("SELECT DATEPART(minute, '2028-12-31 25:00')").error, OutOfRange);
}
