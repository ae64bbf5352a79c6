// The short ways of the date functions: eight-digit texts read as one word, and the tests of
// one date put narrowest first. Each must give what the long way gives, errors included.
#include "test_db.h"

#include "sqlcompat/sqlcompat.h"

#include <QDate>
#include <gtest/gtest.h>

namespace {

const QString BadFormat =
    QStringLiteral("Conversion failed when converting date and/or time from character string.");

const char *const Parts[] = {"YEAR", "quarter", "Month", "dayofyear", "day", "Week",
                             "dw",   "hour",    "mi",    "ss",        "ms",  "iso_week"};

// DATEPART of each part of convert(datetime, text, 112), or the error.
QStringList partsOf(CompatDb &db, const QString &text)
{
    QStringList results;
    for (const char *part : Parts) {
        const auto result = db.run(QStringLiteral("SELECT DATEPART(%1, convert(datetime, ?, 112))")
                                       .arg(QLatin1String(part)),
                                   {text});
        results << (result.ok() ? result.rows.value(0).value(0) : result.error);
    }
    return results;
}

// Inserts one order per text, TC002 numbering them from 1.
void insertDates(CompatDb &db, const QVariantList &dates)
{
    for (qsizetype i = 0; i < dates.size(); ++i) {
        const auto result = db.runPlain(
            QStringLiteral("INSERT INTO COPTC(TC001, TC002, TC003, TC006, TC027, TC031) "
                           "VALUES('3221', ?, ?, 'G1', 'Y', 1)"),
            {QString::number(i + 1), dates[i]});
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
    }
}

QString numbersWhere(CompatDb &db, const QString &conditions)
{
    const auto result =
        db.run(QStringLiteral("SELECT group_concat(TC002) FROM (SELECT TC002 FROM COPTC WHERE %1 "
                              "ORDER BY CAST(TC002 AS INTEGER))")
                   .arg(conditions));
    return result.ok() ? result.rows.value(0).value(0) : result.error;
}

} // namespace

TEST(DatePaths, EightDigitsGiveWhatTheSameTextWithABlankGives)
{
    // A leading blank sends a text the long way; both ways must agree on every part. Texts
    // sharing a prefix, or eight bytes that are not all digits, are among them.
    CompatDb db;
    QStringList texts = {"20250608",    "2025060 ", "202506081", "2025060",  "2025:608", "2025/608",
                         "2025060\x7f", "2025 608", "17521231",  "17530101", "00000000", "99991231",
                         "99991232",    "20251301", "20250229",  "20240229", "21000229", "20000229",
                         "19000301",    "20250100", "20250631",  "250608"};
    for (const int year : {1753, 1900, 2000, 2024, 2025, 2100, 9999}) {
        for (const QDate first : {QDate(year, 1, 1), QDate(year, 2, 26), QDate(year, 12, 28)}) {
            for (int day = 0; day < 5 && first.addDays(day).year() == year; ++day)
                texts << first.addDays(day).toString(QStringLiteral("yyyyMMdd"));
        }
    }
    for (const QString &text : std::as_const(texts))
        EXPECT_EQ(partsOf(db, text), partsOf(db, u' ' + text)) << text.toStdString();
}

TEST(DatePaths, WeekDayOfYearAndWeekdayOfEveryDayOfTwentyYears)
{
    // Weeks begin on Sunday and week 1 holds 1 January.
    CompatDb db;
    QVariantList dates;
    for (QDate d(2017, 1, 1); d.year() < 2037; d = d.addDays(1))
        dates << d.toString(QStringLiteral("yyyyMMdd"));
    insertDates(db, dates);
    const auto result = db.run(QStringLiteral(
        "SELECT TC003, DATEPART(Week, convert(datetime, TC003, 112)), DATEPART(dy, "
        "convert(datetime, TC003, 112)), DATEPART(dw, convert(datetime, TC003, 112)) FROM COPTC"));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    ASSERT_EQ(result.rows.size(), dates.size());
    for (const QStringList &row : result.rows) {
        const QDate d = QDate::fromString(row[0], QStringLiteral("yyyyMMdd"));
        const int sundayOfJanuary1 = QDate(d.year(), 1, 1).dayOfWeek() % 7;
        const QStringList expected = {
            row[0], QString::number((d.dayOfYear() - 1 + sundayOfJanuary1) / 7 + 1),
            QString::number(d.dayOfYear()), QString::number(d.dayOfWeek() % 7 + 1)};
        ASSERT_EQ(row, expected);
    }
}

TEST(DatePaths, TestsOfOneDateSelectTheSameRowsInEitherOrder)
{
    CompatDb db;
    // 1: week 24 of 2025; 2: week 24 of 2024; 3: week 25 of 2025; 4 and 5: NULL and blank;
    // 6 to 8: week 24 of 2025 again, as the last day of the week, with a two-digit year and
    // with blanks around.
    insertDates(db, {"20250608", "20240610", "20250615", QVariant(), "", "20250614", "250609",
                     " 20250610 "});
    const QString year = QStringLiteral("DATEPART(YEAR, convert(datetime, TC003, 112)) = '2025'");
    const QString week = QStringLiteral("DATEPART(Week, convert(datetime, TC003, 112)) = 24");
    EXPECT_EQ(numbersWhere(db, year + QStringLiteral(" AND ") + week), "1,6,7,8");
    EXPECT_EQ(numbersWhere(db, week + QStringLiteral(" AND ") + year), "1,6,7,8");
    EXPECT_EQ(numbersWhere(db, QStringLiteral("TC027 = 'Y' AND ") + year + QStringLiteral(" AND ") +
                                   week),
              "1,6,7,8");
    // One call reads and converts a row's date, the week tested first: most rows stop there.
    const QString translated =
        sqlcompat::translate(QStringLiteral("SELECT 1 FROM COPTC WHERE TC027 = 'Y' AND ") + year +
                             QStringLiteral(" AND ") + week);
    EXPECT_TRUE(translated.contains(QLatin1String("(TC003,5,24,0,2025)")))
        << translated.toStdString();
}

TEST(DatePaths, TheCombinedTestOfOtherValuesAndMalformedCalls)
{
    CompatDb db;
    // Day 45000 after 1900-01-01 is 15 March 2023.
    EXPECT_EQ(db.value("SELECT sqlsrv_dateparts112(45000, 0, 2023, 2, 3)"), "1");
    EXPECT_EQ(db.value("SELECT sqlsrv_dateparts112(45000, 2, 4, 0, 2023)"), "0");
    EXPECT_EQ(db.value("SELECT sqlsrv_dateparts112(NULL, 0, 2023)"), "<null>");
    EXPECT_EQ(db.value("SELECT sqlsrv_dateparts112('', 0, 1900)"), "1");
    EXPECT_EQ(db.runPlain("SELECT sqlsrv_dateparts112('2025x608', 0, 2025)").error, BadFormat);
    for (const char *call :
         {"sqlsrv_dateparts112('20250608')", "sqlsrv_dateparts112('20250608', 0)",
          "sqlsrv_dateparts112('20250608', 0, '2025')",
          "sqlsrv_dateparts112('20250608', 0, 2025.5)"})
        EXPECT_EQ(db.runPlain(QStringLiteral("SELECT ") + QLatin1String(call)).error,
                  "malformed date test")
            << call;
    EXPECT_EQ(db.runPlain("SELECT sqlsrv_dateparts112('20250608', 99, 1)").error,
              "Invalid parameter 1 specified for datepart.");
}

TEST(DatePaths, AMalformedDateFailsTheStatementEveryTimeInEitherOrder)
{
    CompatDb db;
    // The malformed text shares its first seven characters with a valid date of another year.
    insertDates(db, {"20240610", "2024061x", "20250608"});
    const QString year = QStringLiteral("DATEPART(YEAR, convert(datetime, TC003, 112)) = 2025");
    const QString week = QStringLiteral("DATEPART(Week, convert(datetime, TC003, 112)) = 24");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(numbersWhere(db, year + QStringLiteral(" AND ") + week), BadFormat);
        EXPECT_EQ(numbersWhere(db, week + QStringLiteral(" AND ") + year), BadFormat);
    }
}

TEST(DatePaths, TestsThatCouldFailDifferentlyKeepTheirOrder)
{
    CompatDb db;
    // A test of another kind comes first: the date tests are moved before it.
    // TC002 holds no date: only rows of 2025 would convert it, and there are none.
    insertDates(db, {"20240610", "20240611"});
    EXPECT_EQ(
        numbersWhere(db,
                     QStringLiteral(
                         "TC027 = 'Y' AND DATEPART(YEAR, convert(datetime, TC003, 112)) = 2025 AND "
                         "DATEPART(Week, convert(datetime, TC002, 112)) = 24")),
        "<null>");
    // A value that does not convert to int fails only where the year passes.
    EXPECT_EQ(
        numbersWhere(db,
                     QStringLiteral(
                         "TC027 = 'Y' AND DATEPART(YEAR, convert(datetime, TC003, 112)) = 2025 AND "
                         "DATEPART(Week, convert(datetime, TC003, 112)) = 'abc'")),
        "<null>");
    EXPECT_EQ(
        numbersWhere(db,
                     QStringLiteral(
                         "TC027 = 'Y' AND DATEPART(YEAR, convert(datetime, TC003, 112)) = 2024 AND "
                         "DATEPART(Week, convert(datetime, TC003, 112)) = 'abc'")),
        "Conversion failed when converting the varchar value 'abc' to data type int.");
}

TEST(DatePaths, EveryMonthAndDayFieldTheShortWayMeets)
{
    // The short way checks a month and a day by table: months 00 and 13 to 99 and days 00,
    // one past the month's last and 99 must fail as the long way fails, in common and leap
    // years, and the days before and after them give the same parts.
    CompatDb db;
    const char *const parts[] = {"YEAR", "Month", "Week", "dy"};
    for (const char *year : {"1752", "1753", "1900", "2000", "2024", "2025", "9999"}) {
        for (const char *month : {"00", "01", "02", "03", "09", "12", "13", "20", "99"}) {
            for (const char *day : {"00", "01", "28", "29", "30", "31", "32", "99"}) {
                const QString text =
                    QLatin1String(year) + QLatin1String(month) + QLatin1String(day);
                for (const char *part : parts) {
                    const QString sql =
                        QStringLiteral("SELECT DATEPART(%1, convert(datetime, ?, 112))")
                            .arg(QLatin1String(part));
                    const auto shortWay = db.run(sql, {text});
                    const auto longWay = db.run(sql, {u' ' + text});
                    EXPECT_EQ(shortWay.rows, longWay.rows) << text.toStdString() << ' ' << part;
                    EXPECT_EQ(shortWay.error, longWay.error) << text.toStdString() << ' ' << part;
                }
            }
        }
    }
}
