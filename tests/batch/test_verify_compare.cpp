// Verify's comparison of recomputed and stored groups, and the totals as drivers hand them.
#include "batch/verify.h"
#include "batch/verify_growth.h"

#include <QDate>
#include <QSet>
#include <QVariant>
#include <gtest/gtest.h>

namespace {

using verify::GroupTotal;
using verify::Status;

GroupTotal row(const char *group, const char *total)
{
    GroupTotal g;
    if (group)
        g.group = QString::fromUtf8(group);
    if (total)
        g.total = sqlcompat::Decimal::parse(total);
    return g;
}

// The server groups 'S01', 's01' and 'S01 ' together, and a NULL key is a group of its own:
// none of that is drift, nor is a null total matched by a null.
TEST(VerifyCompare, GroupsMatchAsTheServerGroupsThem)
{
    const auto v = verify::compareBatch(
        "W101", 1, {row("S01", "10.50"), row(nullptr, "3"), row("G2", nullptr)},
        {row("s01  ", "10.5"), row(nullptr, "3.000000"), row("G2", nullptr)});
    EXPECT_EQ(v.status, Status::Ok) << v.differences.join("; ").toStdString();
    EXPECT_EQ(v.groups, 3);
}

TEST(VerifyCompare, ExtraGroupsAndABatchRecordedTwice)
{
    const auto v = verify::compareBatch("M301", 2, {row("G1", "1")},
                                        {row("G1", "1"), row("G9", "4"), row("G8", "5")});
    EXPECT_EQ(v.status, Status::Differs);
    EXPECT_EQ(v.differences, (QStringList{"completion row present 2 times (counted twice)",
                                          "2 groups extra: 'G9', 'G8'"}));
}

// The largest difference wins whatever its sign; a null against a number counts but has no
// size.
TEST(VerifyCompare, LargestDifferenceNamesItsGroup)
{
    const auto v =
        verify::compareBatch("Y102", 1, {row("A", "100.00"), row("B", "5"), row("C", nullptr)},
                             {row("A", "99.99"), row("B", "-7.5"), row("C", "1")});
    EXPECT_EQ(v.differences,
              QStringList{"3 totals differ, largest 12.5 in 'B' (stored -7.5, recomputed 5)"});
}

// Nothing recorded and nothing stored: not done, and no source is read for it.
TEST(VerifyCompare, NothingRecordedIsNotDone)
{
    EXPECT_EQ(verify::compareBatch("W103", 0, {}, {}).status, Status::NotDone);
}

// SQL Server's decimal(38, 8) as its exact text, the embedded database's double, a whole
// number: the same total.
TEST(VerifyCompare, TotalsFromEitherDriverCompareExactly)
{
    const auto text = verify::totalOf(dm::Variant(QStringLiteral("40349.81700000")));
    const auto real = verify::totalOf(dm::Variant::fromQVariant(QVariant(40349.817)));
    ASSERT_TRUE(text && real);
    EXPECT_EQ(*text, *real);
    EXPECT_EQ(*verify::totalOf(dm::Variant::fromQVariant(QVariant(qlonglong(12)))),
              *sqlcompat::Decimal::parse("12.000"));
    EXPECT_FALSE(verify::totalOf(dm::Variant()).has_value());
    EXPECT_THROW(verify::totalOf(dm::Variant(QStringLiteral("12,5"))), dm::Error);
    // Exact beyond a double's 15 digits: one unit in the eighth place is a difference.
    EXPECT_FALSE(*verify::totalOf(dm::Variant(QStringLiteral("123456789012.00000001"))) ==
                 *verify::totalOf(dm::Variant(QStringLiteral("123456789012.00000000"))));
}

// Rows posted later add groups and change totals, in groups that have rows dated after the
// run's week; they never take a group away, count one twice or record a batch twice.
TEST(VerifyCompare, OnlyWhatLaterRowsCanMakeIsGrowth)
{
    const QSet<QString> later{verify::groupKey(QStringLiteral("A")), verify::groupKey("N ")};
    auto v = verify::compareBatch("M101", 1, {row("a", "12"), row("B", "1"), row("N", "3")},
                                  {row("A", "10"), row("B", "1")});
    verify::allowGrowth(v, later);
    EXPECT_EQ(v.status, Status::Moved);
    ASSERT_TRUE(v.largest.has_value());
    EXPECT_EQ(v.largest->group, QStringLiteral("A"));
    EXPECT_EQ(verify::totalText(*v.largest->stored), "10");
    EXPECT_EQ(verify::totalText(*v.largest->recomputed), "12");
    EXPECT_EQ(verify::totalText(*v.largest->size), "2");

    for (const auto &drift :
         {verify::compareBatch("M101", 1, {row("B", "2")}, {row("B", "1")}),
          verify::compareBatch("M101", 1, {row("A", "12")}, {row("A", "10"), row("N", "1")}),
          verify::compareBatch("M101", 1, {row("A", "12")}, {row("A", "10"), row("A", "10")}),
          verify::compareBatch("M101", 2, {row("A", "12")}, {row("A", "10")}),
          verify::compareBatch("M101", 1, {row("A", "12")}, {}),
          verify::compareBatch("M101", 0, {}, {row("A", "10")})}) {
        auto d = drift;
        verify::allowGrowth(d, later);
        EXPECT_EQ(d.status, Status::Differs) << d.differences.join("; ").toStdString();
    }
}

class Period : public PeriodSource
{
public:
    Period(const char *year, int month, int week) : m_year(year), m_month(month), m_week(week) {}
    QString yearText() const override { return m_year; }
    int month() const override { return m_month; }
    int week() const override { return m_week; }

private:
    QString m_year;
    int m_month;
    int m_week;
};

// The run for a week comes after that week: a month or year that goes on past it was still
// running then. Week 49 of 2026 ends on 5 December, week 53 on 2 January 2027.
TEST(VerifyCompare, StillRunningAtTheRunIsJudgedFromTheWeeksEnd)
{
    const auto running = [](const char *code, const Period &p) {
        return verify::runningPastTheWeek(batchByCode(code), p).has_value();
    };
    EXPECT_FALSE(running("W101", Period("2026", 12, 49)));
    EXPECT_EQ(verify::runningPastTheWeek(batchByCode("M101"), Period("2026", 12, 49)),
              QDate(2026, 12, 5));
    EXPECT_TRUE(running("Y301", Period(" 2026 ", 12, 49)));
    EXPECT_FALSE(running("M101", Period("2026", 11, 49)));
    EXPECT_FALSE(running("M101", Period("2026", 12, 53)));
    EXPECT_FALSE(running("Y101", Period("2026", 12, 53)));
    EXPECT_TRUE(running("M101", Period("2026", 1, 4)));
    EXPECT_FALSE(running("Y101", Period("abc", 12, 49)));
}

} // namespace
