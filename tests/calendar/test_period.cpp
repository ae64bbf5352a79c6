#include "calendar/period.h"
#include "dm/error.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

using calendar::applyWeek;

void PrintTo(const QDate &d, std::ostream *os)
{
    *os << d.toString(Qt::ISODate).toStdString();
}

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const dm::Error &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

struct WeekRow
{
    int year;
    int week;
    QDate first;
    QDate last;
    const char *weekEndText;
    int month;
};

// Years that begin on each kind of day, first and last weeks, and weeks that straddle years.
const WeekRow weekRows[] = {
    {2023, 1, {2023, 1, 1}, {2023, 1, 7}, "20230107", 1},
    {2024, 1, {2023, 12, 31}, {2024, 1, 6}, "20240106", 1},
    {2026, 1, {2025, 12, 28}, {2026, 1, 3}, "20260103", 1},
    {2026, 2, {2026, 1, 4}, {2026, 1, 10}, "20260110", 1},
    {2026, 52, {2026, 12, 20}, {2026, 12, 26}, "20261226", 12},
    {2022, 53, {2022, 12, 25}, {2022, 12, 31}, "20221231", 12},
    {2025, 53, {2025, 12, 28}, {2026, 1, 3}, "20260103", 1},
    {2028, 53, {2028, 12, 24}, {2028, 12, 30}, "20281230", 12},
    // Nothing bounds the week: 0 and 54 are the neighbours of weeks 1 and 53.
    {2026, 0, {2025, 12, 21}, {2025, 12, 27}, "20251227", 12},
    {2026, 54, {2027, 1, 3}, {2027, 1, 9}, "20270109", 1},
    // The ends of the date range.
    {1, 1, {-1, 12, 31}, {1, 1, 6}, "00010106", 1},
    {9999, 52, {9999, 12, 19}, {9999, 12, 25}, "99991225", 12},
};

} // namespace

TEST(WeekRule, WorkedWeeks)
{
    for (const WeekRow &r : weekRows) {
        SCOPED_TRACE(testing::Message() << r.year << " week " << r.week);
        const QDate first = WeekStartDate(r.year, r.week);
        EXPECT_EQ(first, r.first);
        EXPECT_EQ(first.dayOfWeek(), Qt::Sunday);
        EXPECT_EQ(calendar::weekEnd(first), r.last);
        const auto applied = applyWeek(QString::number(r.year), r.week);
        EXPECT_EQ(applied.first, r.first);
        EXPECT_EQ(applied.last, r.last);
        EXPECT_EQ(applied.weekEndText, QString::fromLatin1(r.weekEndText));
        EXPECT_EQ(calendar::monthOfWeekEnd(applied.weekEndText), r.month);
        EXPECT_EQ(applied.month, r.month);
    }
}

TEST(WeekRule, LastWeekOfAYearCanBeFirstOfTheNext)
{
    const auto w53 = applyWeek(QStringLiteral("2025"), 53);
    const auto w1 = applyWeek(QStringLiteral("2026"), 1);
    EXPECT_EQ(w53.first, w1.first);
    EXPECT_EQ(w53.weekEndText, w1.weekEndText);
    EXPECT_EQ(w53.month, 1);
    EXPECT_EQ(w1.month, 1);
}

TEST(WeekRule, YearOutsideTheDateRangeFails)
{
    for (int year : {0, 10000, -1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(year);
        EXPECT_EQ(errorOf([&] { WeekStartDate(year, 1); }),
                  QStringLiteral("Invalid argument to date encode"));
        EXPECT_EQ(errorOf([&] { applyWeek(QString::number(year), 1); }),
                  QStringLiteral("Invalid argument to date encode"));
    }
}

TEST(WeekRule, YearTextIsTrimmedAndMustBeAnInteger)
{
    EXPECT_EQ(applyWeek(QStringLiteral("  2026 \t"), 2).first, QDate(2026, 1, 4));
    EXPECT_EQ(applyWeek(QStringLiteral("\x01\n2026\r"), 2).first, QDate(2026, 1, 4));
    const QString integerError = QStringLiteral("'%1' is not a valid integer value");
    // Letter O in place of the zero; the message names the trimmed text.
    EXPECT_EQ(errorOf([] { applyWeek(QStringLiteral(" 2O26 "), 1); }), integerError.arg("2O26"));
    EXPECT_EQ(errorOf([] { applyWeek(QString(), 1); }), integerError.arg(""));
    EXPECT_EQ(errorOf([] { applyWeek(QStringLiteral("20 26"), 1); }), integerError.arg("20 26"));
    EXPECT_EQ(errorOf([] { applyWeek(QStringLiteral("99999999999"), 1); }),
              integerError.arg("99999999999"));
}

// An unclamped week box can hold any 32-bit number: the offset 7 * (week - 1) wraps in 32
// bits (a wrapped offset is no multiple of 7, so that week does not begin on a Sunday).
TEST(WeekRule, HugeWeekNumbersWrapWithoutFailing)
{
    const QDate week1 = WeekStartDate(2026, 1);
    const struct
    {
        qint32 week;
        qint64 offset;
        bool sunday;
    } cases[] = {
        {INT32_MAX, 2147483634, false},  // 7 * (2^31 - 2) mod 2^32
        {INT32_MIN, 2147483641, false},  // week - 1 wraps to INT32_MAX
        {-306783378, 2147483643, false}, // 7 * (week - 1) is just below INT32_MIN
        {-306783377, -2147483646, true}, // the most negative offset that does not wrap
        {306783379, 2147483646, true},   // the largest offset that does not wrap
        {306783380, -2147483643, false}, // the first that does
        {-5, -42, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.week);
        const QDate first = WeekStartDate(2026, c.week);
        ASSERT_TRUE(first.isValid());
        EXPECT_EQ(first.dayOfWeek() == Qt::Sunday, c.sunday);
        EXPECT_EQ(week1.daysTo(first), c.offset);
        const auto applied = applyWeek(QStringLiteral("2026"), c.week);
        EXPECT_EQ(applied.last, first.addDays(6));
        EXPECT_FALSE(calendar::shortDate(applied.first).isEmpty());
    }
    for (int year : {1, 9999})
        for (qint32 week : {INT32_MIN, INT32_MIN + 1, -1, 0, 54, INT32_MAX})
            EXPECT_TRUE(applyWeek(QString::number(year), week).last.isValid());
}

// Beyond year 9999 the date text gets more than four year digits; the month then comes from
// the date rather than from characters 5 and 6.
TEST(WeekRule, WeeksEndingOutsideFourDigitYears)
{
    EXPECT_EQ(calendar::dateText(QDate(10000, 1, 1)), QStringLiteral("100000101"));
    // 9999 begins on a Friday: its week 53, within the week box's range, ends in year 10000.
    const auto w53 = applyWeek(QStringLiteral("9999"), 53);
    EXPECT_EQ(w53.first, QDate(9999, 12, 26));
    EXPECT_EQ(w53.weekEndText, QStringLiteral("100000101"));
    EXPECT_EQ(w53.month, 1);
    EXPECT_EQ(applyWeek(QStringLiteral("9999"), 54).weekEndText, QStringLiteral("100000108"));

    const auto far = applyWeek(QStringLiteral("2026"), INT32_MAX);
    EXPECT_GT(far.last.year(), 5000000);
    EXPECT_EQ(far.weekEndText, far.last.toString(u"yyyyMMdd"));
    EXPECT_EQ(far.month, far.last.month());

    const auto beforeYear1 = applyWeek(QStringLiteral("1"), 0);
    EXPECT_EQ(beforeYear1.last, QDate(-1, 12, 30));
    EXPECT_EQ(beforeYear1.month, 12);
    EXPECT_TRUE(beforeYear1.weekEndText.startsWith(u'-'));

    EXPECT_EQ(calendar::dateText(QDate()), QString());
}

TEST(DateTexts, EightDigitsAndMonth)
{
    EXPECT_EQ(calendar::dateText(QDate(2026, 1, 3)), QStringLiteral("20260103"));
    EXPECT_EQ(calendar::dateText(QDate(987, 11, 9)), QStringLiteral("09871109"));
    EXPECT_EQ(calendar::monthOfWeekEnd(QStringLiteral("20261226")), 12);
    EXPECT_EQ(calendar::monthOfWeekEnd(QStringLiteral("20260903")), 9);
    EXPECT_EQ(errorOf([] { calendar::monthOfWeekEnd(QStringLiteral("2026")); }),
              QStringLiteral("'' is not a valid integer value"));
}

TEST(DateTexts, RocYear)
{
    EXPECT_EQ(calendar::rocYearText(2026), QStringLiteral("115"));
    EXPECT_EQ(calendar::rocYearText(2025), QStringLiteral("114"));
    EXPECT_EQ(calendar::rocYearText(2011), QStringLiteral("100"));
    EXPECT_EQ(calendar::rocYearText(1912), QStringLiteral("1"));
    EXPECT_EQ(calendar::rocYearText(1911), QStringLiteral("0"));
    // Kept as an unsigned 16-bit number.
    EXPECT_EQ(calendar::rocYearText(1910), QStringLiteral("65535"));
    EXPECT_EQ(calendar::rocYearText(1911 + 65536 + 7), QStringLiteral("7"));
    EXPECT_EQ(calendar::rocYearText(INT_MIN), QString::number(quint16(0x10000 - 1911)));
}

TEST(DateTexts, ShortDateFollowsTheLocale)
{
    const QDate d(2025, 12, 28);
    EXPECT_EQ(calendar::shortDate(d, QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("12/28/25"));
    EXPECT_EQ(calendar::shortDate(d, QLocale(QLocale::Chinese, QLocale::Taiwan)),
              QStringLiteral("2025/12/28"));
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(calendar::shortDate(d), QStringLiteral("28.12.25"));
    QLocale::setDefault(saved);
}
