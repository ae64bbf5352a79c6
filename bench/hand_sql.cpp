#include "bench/hand_sql.h"

#include <QDate>

namespace bench {

namespace {

struct Figure
{
    const char *number;
    const char *table;
    const char *dateColumn;
    const char *groupColumn;
    const char *measure;
    const char *filter; // after the date range
};

// What the four figures aggregate. rtrim() and NOCASE stand for the server's collation,
// which ignores trailing blanks and letter case; LIKE is case-insensitive by itself. The date
// range goes first: it is the cheapest test and lets the fewest rows through. Date texts are
// digits, so the range compares them byte by byte, which is faster than NOCASE.
const Figure Figures[] = {
    {"101", "COPTC", "TC003", "TC006", "SUM(TC031)",
     "rtrim(TC027) = 'Y' COLLATE NOCASE AND rtrim(TC001) COLLATE NOCASE IN ('3221','5221')"},
    {"102", "COPTC", "TC003", "TC006", "round(SUM((TC029+TC030)*TC009),2)",
     "rtrim(TC027) = 'Y' COLLATE NOCASE AND rtrim(TC001) COLLATE NOCASE IN ('3221','5221')"},
    {"103", "COPTC", "TC003", "TC006", "round(SUM((TC029+TC030)*TC009),2)",
     "rtrim(TC027) = 'Y' COLLATE NOCASE AND rtrim(TC001) COLLATE NOCASE IN ('2221','222U')"},
    {"301", "COPTG", "TG003", "TG006", "round(SUM(TG045+TG046),2)",
     "rtrim(TG023) = 'Y' COLLATE NOCASE AND rtrim(TG004) COLLATE NOCASE NOT IN ('C000','C0005',"
     "'C0007','C003','C015','C016','C037','C059','C108','C122','C158','C163','C190','C198',"
     "'C903','C997','C998') AND TG004 NOT LIKE 'A%'"},
};

QString dateText(const QDate &d)
{
    return d.toString(QStringLiteral("yyyyMMdd"));
}

// The first and last day of a week: weeks run Sunday to Saturday, week 1 holds 1 January,
// and a week ends at the ends of its year. Empty when the year has no such week.
std::pair<QString, QString> weekRange(int year, int week)
{
    const QDate january1(year, 1, 1);
    const QDate december31(year, 12, 31);
    const QDate sunday = january1.addDays(-(january1.dayOfWeek() % 7) + 7 * (week - 1));
    const QDate first = std::max(sunday, january1);
    const QDate last = std::min(sunday.addDays(6), december31);
    if (first > last)
        return {QStringLiteral("99999999"), QStringLiteral("00000000")};
    return {dateText(first), dateText(last)};
}

HandBatch batch(QChar kind, const Figure &f, const Period &p)
{
    const QString year = QString::number(p.year);
    QString from = year + QLatin1String("0101");
    QString to = year + QLatin1String("1231");
    QString periodValue = QString::number(p.year - 1911);
    if (kind == u'W') {
        std::tie(from, to) = weekRange(p.year, p.week);
        periodValue = QString::number(p.week);
    } else if (kind == u'M') {
        const QString month = QStringLiteral("%1").arg(p.month, 2, 10, QLatin1Char('0'));
        from = year + month + QLatin1String("01");
        to = year + month + QLatin1String("31");
        periodValue = QString::number(p.month);
    }
    const QString code = kind + QLatin1String(f.number);
    HandBatch b;
    b.code = code;
    b.summary =
        QStringLiteral("INSERT INTO FADMXX SELECT 'C_QVT','1','%1','%2','%3',%4,"
                       "rtrim(%5),'' FROM %6 WHERE %7 BETWEEN '%8' AND '%9' AND ")
            .arg(code, year, periodValue, QLatin1String(f.measure), QLatin1String(f.groupColumn),
                 QLatin1String(f.table), QLatin1String(f.dateColumn), from, to) +
        QLatin1String(f.filter) + QLatin1String(" GROUP BY rtrim(") + QLatin1String(f.groupColumn) +
        QLatin1String(") COLLATE NOCASE");
    b.completion = QStringLiteral("INSERT INTO FADMXY(COMPANY,XY000,XY001,XY002,XY003) "
                                  "VALUES ('C_QVT','1','%1','%2','%3')")
                       .arg(code, year, periodValue);
    return b;
}

} // namespace

std::vector<HandBatch> handBatches(const Period &period)
{
    // The order of the run: the COPTC figures 101 and 102 by week, month, year, then 103,
    // then 301.
    const std::pair<const char *, int> order[] = {
        {"W", 0}, {"W", 1}, {"M", 0}, {"M", 1}, {"Y", 0}, {"Y", 1},
        {"W", 2}, {"M", 2}, {"Y", 2}, {"W", 3}, {"M", 3}, {"Y", 3},
    };
    std::vector<HandBatch> result;
    for (const auto &[kind, figure] : order)
        result.push_back(batch(QLatin1Char(kind[0]), Figures[figure], period));
    return result;
}

} // namespace bench
