#pragma once

#include "dm/error.h"

#include <QString>
#include <QStringList>
#include <cstdint>

// A demo company database for the embedded backend: week calendar, items and sales rows
// that exercise every filter of the batches, generated the same way from the same seed on
// every platform.
namespace demodb {

// splitmix64 with integer arithmetic only, so a seed gives the same numbers everywhere.
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next();
    // Uniform in 0 .. n-1 (n >= 1).
    std::uint32_t below(std::uint32_t n);
    // True in perMille of a thousand draws.
    bool chance(std::uint32_t perMille) { return below(1000) < perMille; }

private:
    std::uint64_t m_state;
};

constexpr std::int64_t DefaultRows = 20000;
constexpr std::int64_t MaxRows = 100000000;
constexpr std::uint64_t DefaultSeed = 1;
constexpr int FirstCalendarYear = 2020;
constexpr int LastCalendarYear = 2035;
constexpr int FirstSalesYear = 2024;
constexpr int LastSalesYear = 2027;

struct Options
{
    QString path;
    std::int64_t rows = DefaultRows; // rows of COPTC and of COPTG each
    std::uint64_t seed = DefaultSeed;
    bool help = false;
};

// A command line that does not say what to do; main prints it with the usage.
class UsageError : public dm::Error
{
public:
    using dm::Error::Error;
};

// Parses the arguments after the program name: PATH [--rows N] [--seed S], or --help.
Options parseArguments(const QStringList &arguments);
QString usageText(const QString &program);

struct Summary
{
    std::int64_t weeks = 0;
    std::int64_t items = 0;
    std::int64_t orders = 0;
    std::int64_t invoices = 0;
};

// Creates options.path from the embedded schema and fills it. Never overwrites an existing
// file; a failure removes the partly written file and throws dm::Error.
Summary createDemoDatabase(const Options &options);

} // namespace demodb
