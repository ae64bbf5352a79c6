#include "batch/statements.h"

#include "dm/shared_values.h"
#include "dm/text.h"

QString sqlTextLiteral(const QString &text)
{
    QString doubled = text;
    doubled.replace(u'\'', QLatin1String("''"));
    return u'\'' + doubled + u'\'';
}

QString rocYearOf(const QString &yearText)
{
    // Wraps like the 32-bit arithmetic it stands for, instead of overflowing.
    const quint32 year = quint32(dm::strToInt(yearText));
    return QString::number(qint32(year - 1911u));
}

QString periodParameterName(PeriodKind kind)
{
    switch (kind) {
    case PeriodKind::Week:
        return QStringLiteral("Week");
    case PeriodKind::Month:
        return QStringLiteral("Month");
    case PeriodKind::Year:
        break;
    }
    return {};
}

namespace {

// XX003 and XY003: the bound marker for weeks and months, the ROC year text for years.
QString periodValue(const BatchDef &b, const QString &rocYear)
{
    return b.kind == PeriodKind::Year ? sqlTextLiteral(rocYear)
                                      : u':' + periodParameterName(b.kind);
}

// The database's DATEPART of the batch's date column compared with a quoted number.
QString datePartFilter(const BatchDef &b, const QString &part, const QString &value)
{
    return QLatin1String(" AND DATEPART ( ") + part + QLatin1String(" , convert(datetime,") +
           b.dateColumn + QLatin1String(",112)) =") + sqlTextLiteral(value);
}

} // namespace

QString summaryStatement(const BatchDef &b, const QString &yearText, qint32 period,
                         const QString &rocYear)
{
    return QLatin1String("Insert into FADMXX ") + summarySelect(b, yearText, period, rocYear);
}

QString summarySelect(const BatchDef &b, const QString &yearText, qint32 period,
                      const QString &rocYear)
{
    const QString year = dm::trimText(yearText);
    QString sql = QLatin1String("SELECT ") + sqlTextLiteral(CompanyCode) +
                  QLatin1String(" COMPANY,'1' XX000,") + sqlTextLiteral(b.code) +
                  QLatin1String(" XX001,") + sqlTextLiteral(year) + QLatin1String(" XX002,") +
                  periodValue(b, rocYear) + QLatin1String(" XX003,") + b.measure +
                  QLatin1String(" XX004,") + b.groupColumn +
                  QLatin1String(" XX005,'' XX006 FROM ") + b.sourceTable +
                  b.filters.join(QString()) + datePartFilter(b, QStringLiteral("YEAR"), year);
    if (b.kind != PeriodKind::Year)
        sql += datePartFilter(b, periodParameterName(b.kind), QString::number(period));
    return sql + QLatin1String(" GROUP BY ") + b.groupColumn;
}

QString completionStatement(const BatchDef &b, const QString &yearText, qint32 /*period*/,
                            const QString &rocYear)
{
    return QLatin1String("Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values (") +
           sqlTextLiteral(CompanyCode) + QLatin1String(",'1',") + sqlTextLiteral(b.code) + u',' +
           sqlTextLiteral(dm::trimText(yearText)) + u',' + periodValue(b, rocYear) + u')';
}

BatchStatements statementsFor(const BatchDef &b, const PeriodSource &source)
{
    const QString year = dm::trimText(source.yearText());
    BatchStatements s;
    QString rocYear;
    switch (b.kind) {
    case PeriodKind::Week:
        s.period = qint32(source.week());
        break;
    case PeriodKind::Month:
        s.period = qint32(source.month());
        break;
    case PeriodKind::Year:
        // The year field as it reads now, as the completion check reads it.
        rocYear = rocYearOf(year);
        break;
    }
    s.parameterName = periodParameterName(b.kind);
    s.summary = summaryStatement(b, year, s.period, rocYear);
    s.completion = completionStatement(b, year, s.period, rocYear);
    return s;
}
