#pragma once

#include <QString>
#include <QStringList>

namespace bench {

struct Comparison
{
    int summaryRows = 0;     // rows of FADMXX in the program's file
    int completionRows = 0;  // rows of FADMXY in the program's file
    QStringList differences; // empty when both files hold the same totals
};

// Compares FADMXX and FADMXY of the program's file with those of the hand-written run.
// Summary rows are matched by batch code, year, period and group key (trailing blanks and
// letter case aside, as the server groups them); totals must agree to the cent, nulls with
// nulls. Throws dm::Error when a file cannot be read.
Comparison compareTotals(const QString &programFile, const QString &handFile);

} // namespace bench
