#pragma once

#include <QString>
#include <QStringList>
#include <array>

enum class PeriodKind { Week, Month, Year };

// One batch: what it aggregates, from where, for which kind of period.
struct BatchDef
{
    QString code; // e.g. "W101": the kind letter, then the figure
    PeriodKind kind;
    QString sourceTable;              // COPTC or COPTG
    QStringList filters;              // WHERE/AND pieces besides the period, sent as they stand
    QString dateColumn;               // "YYYYMMDD" text, converted with style 112
    QString groupColumn;              // one summary row per value
    QString measure;                  // the aggregate written to XX004
    bool codeBoxAfterSummary = false; // W301 shows its code only once its totals are in
};

// The twelve batches in the order of the run.
const std::array<BatchDef, 12> &batchCatalogue();

// The batch of a code; throws dm::Error for a code not in the catalogue.
const BatchDef &batchByCode(const QString &code);
