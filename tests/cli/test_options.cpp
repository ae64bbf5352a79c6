#include "cli/batch_cli.h"

#include <gtest/gtest.h>

using batchcli::Options;
using batchcli::parseArguments;
using batchcli::UsageError;

namespace {

Options parse(std::initializer_list<const char *> args)
{
    QStringList list;
    for (const char *a : args)
        list << QString::fromUtf8(a);
    return parseArguments(list);
}

QString usageError(std::initializer_list<const char *> args)
{
    try {
        parse(args);
    } catch (const UsageError &e) {
        return e.message();
    }
    return QStringLiteral("<accepted>");
}

} // namespace

TEST(Options, NoneGivenMeansTheProposedPeriod)
{
    const Options o = parse({});
    EXPECT_FALSE(o.year || o.month || o.week);
    EXPECT_FALSE(o.dryRun);
    EXPECT_FALSE(o.help);
    EXPECT_FALSE(o.wholePeriodGiven());
}

TEST(Options, ValuesAsSeparateArgumentsOrAfterEquals)
{
    const Options o = parse({"--year", "2024", "--month=5", "--week", "07", "--dry-run"});
    EXPECT_EQ(o.year, QStringLiteral("2024"));
    EXPECT_EQ(o.month, 5);
    EXPECT_EQ(o.week, 7);
    EXPECT_TRUE(o.dryRun);
    EXPECT_TRUE(o.wholePeriodGiven());

    EXPECT_EQ(parse({"--week=53"}).week, 53);
    EXPECT_EQ(parse({"--month", "12"}).month, 12);
    EXPECT_EQ(parse({"--year=9999"}).year, QStringLiteral("9999"));
    EXPECT_EQ(parse({"--week", "1"}).week, 1);
}

TEST(Options, HelpWinsWhereverItComesFirst)
{
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-h", "--bogus"}).help);
    EXPECT_TRUE(parse({"--year", "2024", "--help", "--week", "99"}).help);
    // An error before it still counts.
    EXPECT_NE(usageError({"--week", "99", "--help"}), QStringLiteral("<accepted>"));
}

TEST(Options, YearIsFourDigitsExactly)
{
    for (const char *bad : {"24", "202", "20245", "0999", "2024 ", " 2024", "+202", "-2024", "2O24",
                            "２０２４", "2024\n", ""}) {
        EXPECT_EQ(usageError({"--year", bad}),
                  QStringLiteral("--year needs a year of four digits, e.g. 2024, not '%1'")
                      .arg(QString::fromUtf8(bad)))
            << bad;
    }
}

TEST(Options, MonthAndWeekWithinTheirRanges)
{
    for (const char *bad : {"0", "13", "-1", "+5", "5.0", "5 ", "x", "", "005", "١"})
        EXPECT_EQ(usageError({"--month", bad}),
                  QStringLiteral("--month needs a whole number from 1 to 12, not '%1'")
                      .arg(QString::fromUtf8(bad)))
            << bad;
    for (const char *bad : {"0", "54", "99", "-3", "1e1", "4294967297"})
        EXPECT_EQ(usageError({"--week", bad}),
                  QStringLiteral("--week needs a whole number from 1 to 53, not '%1'")
                      .arg(QString::fromUtf8(bad)))
            << bad;
}

TEST(Options, MalformedCommandLines)
{
    EXPECT_EQ(usageError({"--year"}), QStringLiteral("--year needs a value"));
    EXPECT_EQ(usageError({"--dry-run", "--week"}), QStringLiteral("--week needs a value"));
    // A missing value does not swallow the next option silently.
    EXPECT_EQ(usageError({"--month", "--dry-run"}),
              QStringLiteral("--month needs a whole number from 1 to 12, not '--dry-run'"));
    EXPECT_EQ(usageError({"--week", "3", "--week=4"}), QStringLiteral("--week is given twice"));
    EXPECT_EQ(usageError({"--dry-run", "--dry-run"}), QStringLiteral("--dry-run is given twice"));
    EXPECT_EQ(usageError({"--dry-run=yes"}), QStringLiteral("--dry-run takes no value"));
    EXPECT_EQ(usageError({"--years", "2024"}), QStringLiteral("unknown option '--years'"));
    EXPECT_EQ(usageError({"-y"}), QStringLiteral("unknown option '-y'"));
    EXPECT_EQ(usageError({"2024"}), QStringLiteral("unexpected argument '2024'"));
    EXPECT_EQ(usageError({""}), QStringLiteral("unexpected argument ''"));
}

TEST(Options, UsageNamesEveryOptionAndTheExitStatuses)
{
    const QString usage = batchcli::usageText(QStringLiteral("salestotals-batch"));
    EXPECT_TRUE(usage.startsWith(QStringLiteral("Usage: salestotals-batch [--year YYYY]")));
    for (const char *word : {"--year", "--month", "--week", "--dry-run", "--help", "Exit status"})
        EXPECT_TRUE(usage.contains(QLatin1String(word))) << word;
}

// Today's week from the calendar -> what the window's fields show after its start-up.
TEST(ProposedPeriod, AsTheWindowShowsIt)
{
    struct Case
    {
        quint16 year, month, week;
        const char *yearText;
        int shownMonth, shownWeek;
    };
    const Case cases[] = {
        {2026, 12, 50, "2026", 12, 49}, // Tuesday 2026-12-08
        {2026, 3, 10, "2026", 2, 9},    // Monday 2026-03-02: the week ends in February
        {2026, 1, 2, "2026", 1, 1},     // Monday 2026-01-05
        {2026, 1, 1, "2025", 1, 53},    // Friday 2026-01-02: week 53 of 2025 ends in January
        {2023, 1, 1, "2022", 12, 53},   // Thursday 2023-01-05
        {2024, 6, 0, "2024", 1, 1},     // week 0 in the calendar: week 1 (design minimum)
        {2024, 12, 60, "2024", 1, 53},  // week 60: week 53 (design maximum), ends in 2025
        {2024, 4, 20, "2024", 4, 19},   // week 19 ends in May, the month box stops at April
    };
    for (const Case &c : cases) {
        const batchcli::Period p = batchcli::proposedPeriod(c.year, c.month, c.week);
        EXPECT_EQ(p.yearText(), QLatin1String(c.yearText)) << c.week;
        EXPECT_EQ(p.month(), c.shownMonth) << c.year << "-" << c.month << " week " << c.week;
        EXPECT_EQ(p.week(), c.shownWeek) << c.week;
    }
}

TEST(ProposedPeriod, OptionsReplaceOnlyTheirOwnPart)
{
    const batchcli::Period proposed(QStringLiteral("2026"), 12, 49);
    const auto inUse = [&](std::initializer_list<const char *> args) {
        const batchcli::Period p = batchcli::periodInUse(parse(args), proposed);
        return QStringLiteral("%1/%2/%3").arg(p.yearText()).arg(p.month()).arg(p.week());
    };
    EXPECT_EQ(inUse({}), QStringLiteral("2026/12/49"));
    EXPECT_EQ(inUse({"--year", "2024"}), QStringLiteral("2024/12/49"));
    EXPECT_EQ(inUse({"--month", "5"}), QStringLiteral("2026/5/49"));
    EXPECT_EQ(inUse({"--week", "3"}), QStringLiteral("2026/12/3"));
    EXPECT_EQ(inUse({"--week", "3", "--year", "2025", "--month", "1"}), QStringLiteral("2025/1/3"));

    const batchcli::Period given =
        batchcli::givenPeriod(parse({"--year", "2024", "--month", "5", "--week", "20"}));
    EXPECT_EQ(given.yearText(), QStringLiteral("2024"));
    EXPECT_EQ(given.month(), 5);
    EXPECT_EQ(given.week(), 20);
    EXPECT_THROW(batchcli::givenPeriod(parse({"--year", "2024", "--month", "5"})), dm::Error);
}

TEST(Options, VerifyTakesThePeriodOptionsButNotDryRun)
{
    const Options o = parse({"--verify", "--week", "7"});
    EXPECT_TRUE(o.verify);
    EXPECT_EQ(o.week, 7);
    EXPECT_FALSE(parse({}).verify);
    EXPECT_EQ(usageError({"--verify", "--dry-run"}),
              QStringLiteral("--verify and --dry-run exclude each other"));
    EXPECT_EQ(usageError({"--verify=yes"}),
              QStringLiteral("--verify takes no value and is given once"));
}
