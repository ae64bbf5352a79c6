#pragma once

#include "batch/catalogue.h"
#include "batch/period_source.h"

#include <QString>

// The text between single quotes, each quote inside doubled: whatever the operator types
// stays one SQL text literal.
QString sqlTextLiteral(const QString &text);

// The ROC year of a year text, as the completion check binds it: the year as a whole
// number minus 1911 in signed 32-bit arithmetic, as decimal text. Throws dm::Error
// "'%s' is not a valid integer value".
QString rocYearOf(const QString &yearText);

// The marker name of a period kind: "Week", "Month", or empty for yearly batches.
QString periodParameterName(PeriodKind kind);

// INSERT..SELECT into FADMXX. The year text is trimmed; period is written into the week or
// month filter (kinds W and M), rocYear into XX003 (kind Y); the other is ignored.
QString summaryStatement(const BatchDef &b, const QString &yearText, qint32 period,
                         const QString &rocYear);

// The SELECT of the summary statement: the batch's totals, one row per group, in the
// columns of FADMXX. Verify runs it alone to recompute what the batch wrote.
QString summarySelect(const BatchDef &b, const QString &yearText, qint32 period,
                      const QString &rocYear);

// INSERT of the batch's one completion row into FADMXY.
QString completionStatement(const BatchDef &b, const QString &yearText, qint32 period,
                            const QString &rocYear);

// Everything one batch sends: both texts and the value bound to parameterName in each.
struct BatchStatements
{
    QString summary;
    QString completion;
    QString parameterName; // "Week", "Month", or empty: nothing bound
    qint32 period = 0;     // bound as a 32-bit integer when parameterName is not empty
};

// The statements of a batch for the period the source shows now. Reads the year text, and
// only the spin box of the batch's own kind. Kind Y: throws dm::Error when the year text
// is not a whole number.
BatchStatements statementsFor(const BatchDef &b, const PeriodSource &source);
