#include "calendar/default_period.h"
#include "calendar/period.h"
#include "dm/error.h"
#include "dm/shared_values.h"
#include "dm/trace.h"
#include "testdb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

void PrintTo(const QString &s, std::ostream *os); // test_period.cpp
void PrintTo(const QDate &d, std::ostream *os);

namespace {

// A week calendar as the ERP keeps it: weeks from Sunday to Saturday, week 1 holding
// 1 January, each year's weeks clipped at its first and last day.
void fillCalendar(TestDatabase &db, int fromYear, int toYear)
{
    QString sql = QStringLiteral("INSERT INTO FCMSDT (DT001, DT002, DT003, DT004) VALUES ");
    for (int year = fromYear; year <= toYear; ++year) {
        int week = 1;
        QDate begin(year, 1, 1);
        for (QDate day = begin; day.year() == year; day = day.addDays(1)) {
            const QDate next = day.addDays(1);
            if (day.dayOfWeek() == Qt::Saturday || next.year() != year) {
                sql += QStringLiteral("('%1','%2','%3','%4'),")
                           .arg(year)
                           .arg(week, 2, 10, QLatin1Char('0'))
                           .arg(begin.toString(u"yyyyMMdd"), day.toString(u"yyyyMMdd"));
                ++week;
                begin = next;
            }
        }
    }
    sql.chop(1);
    db.exec(sql);
}

// The spin box value rule: clamped to the range the box has, unless its ends are equal.
int spinValue(int value, int min, int max)
{
    return min == max ? value : std::clamp(value, min, max);
}

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const dm::Error &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

class DefaultPeriod : public testing::Test
{
protected:
    void SetUp() override { resetSharedValues(); }
    void TearDown() override
    {
        dm::setTraceSink({});
        resetSharedValues();
    }
    TestDatabase db;
};

struct StartRow
{
    QDate today;
    int curWeek;
    const char *year;
    int week, weekMin, weekMax;
    QDate first, last;
    int month, monthMin, monthMax;
    const char *roc;
};

} // namespace

// Start-up on each kind of day: the week of today from the calendar table, and the period
// the window ends with once it has written the proposal into its design-state boxes and
// applied the week.
TEST_F(DefaultPeriod, ProposesLastWeek)
{
    fillCalendar(db, 2021, 2027);
    const StartRow rows[] = {
        {{2026, 12, 8}, 50, "2026", 49, 1, 49, {2026, 11, 29}, {2026, 12, 5}, 12, 1, 12, "115"},
        {{2026, 3, 2}, 10, "2026", 9, 1, 9, {2026, 2, 22}, {2026, 2, 28}, 2, 1, 3, "115"},
        {{2026, 1, 5}, 2, "2026", 1, 1, 1, {2025, 12, 28}, {2026, 1, 3}, 1, 1, 1, "115"},
        {{2026, 1, 2}, 1, "2025", 53, 1, 53, {2025, 12, 28}, {2026, 1, 3}, 1, 1, 12, "114"},
        {{2023, 1, 5}, 1, "2022", 53, 1, 53, {2022, 12, 25}, {2022, 12, 31}, 12, 1, 12, "111"},
    };
    for (const StartRow &r : rows) {
        SCOPED_TRACE(r.today.toString(Qt::ISODate).toStdString());
        resetSharedValues();
        InitToday(r.today);
        EXPECT_EQ(CurYear, r.today.year());
        EXPECT_EQ(CurMonth, r.today.month());
        EXPECT_EQ(CurDay, r.today.day());
        EXPECT_EQ(TodayText, r.today.toString(u"yyyyMMdd"));
        EXPECT_EQ(CurWeek, r.curWeek);

        const auto p = calendar::proposePeriod(CurYear, CurMonth, CurWeek);
        EXPECT_EQ(p.yearText, QString::fromLatin1(r.year));
        EXPECT_EQ(p.rocYearText, QString::fromLatin1(r.roc));
        EXPECT_EQ(p.weekMin, r.weekMin);
        EXPECT_EQ(p.weekMax, r.weekMax);
        EXPECT_EQ(p.monthMin, r.monthMin);
        EXPECT_EQ(p.monthMax, r.monthMax);
        // Values go in before the ranges, so the design ranges 1..12 and 1..53 clamp them.
        const int week = spinValue(p.weekValue, 1, 53);
        EXPECT_EQ(week, r.week);
        const auto applied = calendar::applyWeek(p.yearText, week);
        EXPECT_EQ(applied.first, r.first);
        EXPECT_EQ(applied.last, r.last);
        EXPECT_EQ(spinValue(applied.month, p.monthMin, p.monthMax), r.month);
    }
}

TEST_F(DefaultPeriod, AsksTheCalendarTableForToday)
{
    fillCalendar(db, 2026, 2026);
    QStringList statements;
    dm::setTraceSink([&](const dm::TraceEntry &e) {
        if (e.kind == dm::TraceEntry::Open)
            statements << e.sql;
    });
    InitToday(QDate(2026, 12, 8));
    EXPECT_EQ(statements, QStringList{QStringLiteral("select DT002 from FCMSDT WHERE DT003 "
                                                     "<='20261208' AND DT004 >='20261208'")});
    // Both ends of a row belong to it.
    InitToday(QDate(2026, 12, 12));
    EXPECT_EQ(CurWeek, 50);
    InitToday(QDate(2026, 12, 13));
    EXPECT_EQ(CurWeek, 51);
}

// A failure leaves today's values set and CurWeek as it was.
TEST_F(DefaultPeriod, TodayMissingFromTheCalendar)
{
    fillCalendar(db, 2025, 2025);
    EXPECT_EQ(errorOf([] { InitToday(QDate(2026, 1, 2)); }),
              QStringLiteral("Invalid variant type conversion"));
    EXPECT_EQ(TodayText, QStringLiteral("20260102"));
    EXPECT_EQ(CurYear, 2026);
    EXPECT_EQ(CurWeek, 0);
}

TEST_F(DefaultPeriod, WeekThatIsNotANumber)
{
    db.exec("INSERT INTO FCMSDT VALUES ('2026', 'x1', '20260101', '20261231')");
    const QString error = errorOf([] { InitToday(QDate(2026, 6, 1)); });
    EXPECT_NE(error, QStringLiteral("<no error>"));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(CurWeek, 0);
    EXPECT_EQ(TodayText, QStringLiteral("20260601"));
}

TEST_F(DefaultPeriod, CalendarTableMissing)
{
    TestDatabase empty(false);
    EXPECT_NE(errorOf([] { InitToday(QDate(2026, 6, 1)); }), QStringLiteral("<no error>"));
    EXPECT_EQ(CurWeek, 0);
    EXPECT_EQ(TodayText, QStringLiteral("20260601"));
}

TEST_F(DefaultPeriod, SeveralRowsHoldTodayFirstWins)
{
    db.exec("INSERT INTO FCMSDT VALUES ('2026', '7', '20260201', '20260228'),"
            " ('2026', '9', '20260215', '20260215')");
    InitToday(QDate(2026, 2, 15));
    EXPECT_EQ(CurWeek, 7);
}

TEST_F(DefaultPeriod, WeekKeepsItsLow16Bits)
{
    db.exec("INSERT INTO FCMSDT VALUES ('2026', '65537', '20260101', '20260131'),"
            " ('2026', '-1', '20260201', '20260228')");
    InitToday(QDate(2026, 1, 10));
    EXPECT_EQ(CurWeek, 1);
    InitToday(QDate(2026, 2, 10));
    EXPECT_EQ(CurWeek, 65535);
}

// Calendar week numbers the design range does not expect.
TEST_F(DefaultPeriod, UnusualWeekNumbers)
{
    const auto zero = calendar::proposePeriod(2026, 5, 0);
    EXPECT_EQ(zero.weekValue, -1);
    EXPECT_EQ(spinValue(zero.weekValue, 1, 53), 1);
    EXPECT_EQ(zero.weekMin, 1);
    EXPECT_EQ(zero.weekMax, -1);

    const auto high = calendar::proposePeriod(2026, 5, 60);
    EXPECT_EQ(spinValue(high.weekValue, 1, 53), 53);
    EXPECT_EQ(high.weekMax, 59);

    const auto top = calendar::proposePeriod(2026, 5, 65535);
    EXPECT_EQ(top.weekValue, 65534);
    EXPECT_EQ(top.weekMax, 65534);

    // Week 1 of a year whose predecessor is not a date: the window's week handler reports it.
    const auto yearZero = calendar::proposePeriod(1, 1, 1);
    EXPECT_EQ(yearZero.yearText, QStringLiteral("0"));
    EXPECT_EQ(yearZero.rocYearText, QString::number(quint16(-1911)));
    EXPECT_EQ(errorOf([&] { calendar::applyWeek(yearZero.yearText, yearZero.weekValue); }),
              QStringLiteral("Invalid argument to date encode"));
}
