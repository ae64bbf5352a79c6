#include "batch/catalogue.h"

#include "dm/error.h"

namespace {

// What a figure (the last three characters of a code) aggregates; the same for every
// period kind.
struct Figure
{
    const char *number;
    const char *sourceTable;
    QStringList filters;
    const char *dateColumn;
    const char *groupColumn;
    const char *measure;
};

const char *const orderFilter = " WHERE TC027='Y'";
const char *const amountMeasure = "ROUND(SUM((TC029+TC030)*TC009),2)";

Figure figure101()
{
    return {"101",
            "COPTC",
            {QLatin1String(orderFilter), QStringLiteral(" AND TC001 IN ('3221','5221')")},
            "TC003",
            "TC006",
            "SUM(TC031)"};
}

Figure figure102()
{
    Figure f = figure101();
    f.number = "102";
    f.measure = amountMeasure;
    return f;
}

Figure figure103()
{
    Figure f = figure102();
    f.number = "103";
    f.filters = {QLatin1String(orderFilter), QStringLiteral(" AND TC001 IN ('2221','222U')")};
    return f;
}

Figure figure301()
{
    // The spacing of the excluded list is the ERP's own and goes out as it stands.
    return {"301",
            "COPTG",
            {QStringLiteral(" WHERE TG023 = 'Y'"),
             QStringLiteral(" AND TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015',"
                            "'C016','C037' ,'C059' ,'C108' ,'C122' ,'C158' ,'C163' ,'C190',"
                            "'C198' ,'C903' ,'C997' ,'C998')"),
             QStringLiteral(" AND TG004 NOT LIKE 'A%'")},
            "TG003",
            "TG006",
            "ROUND(SUM(TG045+TG046),2)"};
}

QChar kindLetter(PeriodKind kind)
{
    switch (kind) {
    case PeriodKind::Week:
        return u'W';
    case PeriodKind::Month:
        return u'M';
    case PeriodKind::Year:
        break;
    }
    return u'Y';
}

BatchDef makeBatch(PeriodKind kind, const Figure &f)
{
    BatchDef b{kindLetter(kind) + QLatin1String(f.number),
               kind,
               QLatin1String(f.sourceTable),
               f.filters,
               QLatin1String(f.dateColumn),
               QLatin1String(f.groupColumn),
               QLatin1String(f.measure)};
    b.codeBoxAfterSummary = b.code == QLatin1String("W301");
    return b;
}

} // namespace

const std::array<BatchDef, 12> &batchCatalogue()
{
    using enum PeriodKind;
    static const std::array<BatchDef, 12> catalogue{
        makeBatch(Week, figure101()),  makeBatch(Week, figure102()),  makeBatch(Month, figure101()),
        makeBatch(Month, figure102()), makeBatch(Year, figure101()),  makeBatch(Year, figure102()),
        makeBatch(Week, figure103()),  makeBatch(Month, figure103()), makeBatch(Year, figure103()),
        makeBatch(Week, figure301()),  makeBatch(Month, figure301()), makeBatch(Year, figure301()),
    };
    return catalogue;
}

const BatchDef &batchByCode(const QString &code)
{
    for (const BatchDef &b : batchCatalogue()) {
        if (b.code == code)
            return b;
    }
    throw dm::Error(QStringLiteral("'%1' is not a batch code").arg(code));
}
