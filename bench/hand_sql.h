#pragma once

#include <QString>
#include <vector>

namespace bench {

// The reporting period the run uses, as the window's fields would hold it.
struct Period
{
    int year = 2025;
    int month = 6;
    int week = 24;
};

// One batch of the catalogue written by hand for plain SQLite: its summary and completion
// statements, to run in one transaction as the program does.
struct HandBatch
{
    QString code;
    QString summary;
    QString completion;
};

// The twelve aggregations in the order of the run, as fast as plain SQLite goes: the period
// as a range of date texts, keys and flags compared with trailing blanks removed and without
// regard to ASCII letter case, REAL sums and round(). They give the program's totals on data
// whose dates are valid "YYYYMMDD" texts, blank or missing, as the demo database's are.
std::vector<HandBatch> handBatches(const Period &period);

} // namespace bench
