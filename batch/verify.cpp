#include "batch/verify.h"

#include "batch/statements.h"
#include "batch/verify_growth.h"
#include "dm/error.h"
#include "dm/query.h"
#include "dm/run_lock.h"
#include "dm/shared_values.h"
#include "dm/text.h"

#include <QHash>
#include <QMetaType>

namespace verify {

// Without the zeros that only the column's scale adds: "152.5", "7".
QString totalText(const sqlcompat::Decimal &total)
{
    QString text = QString::fromStdString(total.toString());
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    return text;
}

QString groupKey(const std::optional<QString> &group)
{
    if (!group)
        return QStringLiteral("\x01null");
    QString key = *group;
    while (key.endsWith(u' '))
        key.chop(1);
    return u'\x02' + key.toCaseFolded();
}

namespace {

// Groups named in a line before it says "..." instead.
constexpr int NamedGroups = 3;

// The year text and the period value of a batch's rows: the week or month as a 32-bit
// integer, or the ROC year text, as the batch writes them.
struct PeriodValues
{
    QString year;
    QString parameterName; // "Week", "Month", or empty
    qint32 number = 0;
    QString rocYear;
};

PeriodValues periodValues(const BatchDef &b, const PeriodSource &period)
{
    PeriodValues v;
    v.year = dm::trimText(period.yearText());
    v.parameterName = periodParameterName(b.kind);
    if (b.kind == PeriodKind::Week)
        v.number = qint32(period.week());
    else if (b.kind == PeriodKind::Month)
        v.number = qint32(period.month());
    else
        v.rocYear = rocYearOf(v.year);
    return v;
}

void bindYearAndPeriod(dm::Query &query, const QString &prefix, const PeriodValues &v)
{
    query.paramByName(prefix + QLatin1String("002")).setValue(v.year);
    dm::Parameter &period = query.paramByName(prefix + QLatin1String("003"));
    if (v.parameterName.isEmpty())
        period.setValue(v.rocYear);
    else
        period.setValue(v.number);
}

// The batch's rows of `table` for the period, as the completion check selects them.
QString rowsOf(const char *table, const char *columns, const char *tag, const QString &code)
{
    const QString t = QLatin1String(tag);
    return QLatin1String("SELECT ") + QLatin1String(columns) + QLatin1String(" FROM ") +
           QLatin1String(table) + QLatin1String(" WHERE COMPANY = ") + sqlTextLiteral(CompanyCode) +
           QLatin1String(" AND ") + t + QLatin1String("001 = ") + sqlTextLiteral(code) +
           QLatin1String(" AND ") + t + QLatin1String("002 = :") + t + QLatin1String("002 AND ") +
           t + QLatin1String("003 = :") + t + QLatin1String("003");
}

int completionRows(dm::Connection &connection, const QString &code, const PeriodValues &v)
{
    dm::Query query(&connection);
    query.setSQL(rowsOf("FADMXY", "XY001", "XY", code));
    bindYearAndPeriod(query, QStringLiteral("XY"), v);
    query.open();
    return query.recordCount();
}

QVector<GroupTotal> groupTotals(dm::Query &query)
{
    QVector<GroupTotal> rows;
    for (; !query.eof(); query.next()) {
        const dm::Variant group = query.fieldByName(QStringLiteral("XX005"));
        GroupTotal row;
        if (!group.isNull())
            row.group = group.asString();
        row.total = totalOf(query.fieldByName(QStringLiteral("XX004")));
        rows << row;
    }
    return rows;
}

QVector<GroupTotal> storedTotals(dm::Connection &connection, const QString &code,
                                 const PeriodValues &v)
{
    dm::Query query(&connection);
    query.setExactNumbers(true);
    query.setSQL(rowsOf("FADMXX", "XX005, XX004", "XX", code));
    bindYearAndPeriod(query, QStringLiteral("XX"), v);
    query.open();
    return groupTotals(query);
}

QVector<GroupTotal> recomputedTotals(dm::Connection &connection, const BatchDef &b,
                                     const PeriodValues &v)
{
    dm::Query query(&connection);
    query.setExactNumbers(true);
    query.setSQL(summarySelect(b, v.year, v.number, v.rocYear));
    if (!v.parameterName.isEmpty())
        query.paramByName(v.parameterName).setValue(v.number);
    query.open();
    return groupTotals(query);
}

QString shown(const std::optional<QString> &group)
{
    return group ? u'\'' + *group + u'\'' : QStringLiteral("NULL");
}

QString shown(const std::optional<sqlcompat::Decimal> &total)
{
    return total ? totalText(*total) : QStringLiteral("NULL");
}

QString groupList(const QStringList &groups)
{
    QStringList named = groups.mid(0, NamedGroups);
    if (groups.size() > NamedGroups)
        named << QStringLiteral("...");
    return named.join(QLatin1String(", "));
}

QString groupsPhrase(qsizetype count, const char *what, const QStringList &groups)
{
    return QStringLiteral("%1 %2 %3: %4")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("group") : QStringLiteral("groups"))
        .arg(QLatin1String(what), groupList(groups));
}

struct Stored
{
    GroupTotal first;
    int rows = 0;
};

// Groups whose totals differ, by the largest difference.
class Deviations
{
public:
    void add(const GroupTotal &stored, const GroupTotal &recomputed)
    {
        if (stored.total == recomputed.total)
            return;
        ++m_count;
        m_groups << recomputed.group;
        // A null against a number has no size; any number beats it.
        std::optional<sqlcompat::Decimal> size;
        if (stored.total && recomputed.total)
            if (const auto d = stored.total->minus(*recomputed.total))
                size = d->isNegative() ? d->negated() : *d;
        if (m_count == 1 || (size && (!m_largest.size || size->compare(*m_largest.size) > 0)))
            m_largest = {stored.group, stored.total, recomputed.total, size};
    }
    QString phrase() const
    {
        if (m_count == 0)
            return {};
        return QStringLiteral("%1 %2, largest %3 in %4 (stored %5, recomputed %6)")
            .arg(m_count)
            .arg(m_count == 1 ? QStringLiteral("total differs") : QStringLiteral("totals differ"))
            .arg(shown(m_largest.size), shown(m_largest.group), shown(m_largest.stored),
                 shown(m_largest.recomputed));
    }
    std::optional<LargestDifference> largest() const
    {
        return m_count > 0 ? std::optional(m_largest) : std::nullopt;
    }
    const QVector<std::optional<QString>> &groups() const { return m_groups; }

private:
    int m_count = 0;
    QVector<std::optional<QString>> m_groups;
    LargestDifference m_largest;
};

QHash<QString, Stored> byGroup(const QVector<GroupTotal> &stored, QStringList &order)
{
    QHash<QString, Stored> result;
    for (const GroupTotal &row : stored) {
        const QString key = groupKey(row.group);
        Stored &s = result[key];
        if (s.rows++ == 0) {
            s.first = row;
            order << key;
        }
    }
    return result;
}

// The groups' own comparison: missing, extra, present twice, totals that differ. Only the
// missing groups and the totals are what rows posted later can make.
void groupDifferences(const QVector<GroupTotal> &recomputed, const QVector<GroupTotal> &stored,
                      BatchVerdict &verdict)
{
    QStringList storedOrder;
    QHash<QString, Stored> rows = byGroup(stored, storedOrder);
    QStringList missing, extra, twice;
    Deviations deviations;
    QHash<QString, bool> seen;
    for (const GroupTotal &r : recomputed) {
        const QString key = groupKey(r.group);
        seen.insert(key, true);
        const auto found = rows.constFind(key);
        if (found == rows.constEnd()) {
            missing << shown(r.group);
            verdict.changedGroups << r.group;
        } else {
            deviations.add(found->first, r);
        }
    }
    for (const QString &key : std::as_const(storedOrder)) {
        const Stored &s = rows[key];
        if (!seen.contains(key))
            extra << shown(s.first.group);
        if (s.rows > 1)
            twice << (s.rows == 2
                          ? shown(s.first.group)
                          : QStringLiteral("%1 %2 times").arg(shown(s.first.group)).arg(s.rows));
    }
    QStringList &phrases = verdict.differences;
    if (!twice.isEmpty())
        phrases << groupsPhrase(twice.size(), "present twice (counted twice)", twice);
    if (!missing.isEmpty())
        phrases << groupsPhrase(missing.size(), "missing", missing);
    if (!extra.isEmpty())
        phrases << groupsPhrase(extra.size(), "extra", extra);
    if (const QString d = deviations.phrase(); !d.isEmpty())
        phrases << d;
    verdict.largest = deviations.largest();
    verdict.changedGroups << deviations.groups();
    verdict.onlyGrowth = !phrases.isEmpty() && twice.isEmpty() && extra.isEmpty();
}

} // namespace

std::optional<sqlcompat::Decimal> totalOf(const dm::Variant &value)
{
    if (value.isNull())
        return std::nullopt;
    const QVariant &v = value.toQVariant();
    std::optional<sqlcompat::Decimal> result;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        result = sqlcompat::Decimal::fromDouble(v.toDouble());
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
        result = sqlcompat::Decimal::fromInt64(v.toLongLong());
        break;
    default:
        result = sqlcompat::Decimal::parse(value.asString().toStdString());
        break;
    }
    if (!result)
        throw dm::Error(QStringLiteral("'%1' is not a total").arg(value.asString()));
    return result;
}

BatchVerdict compareBatch(const QString &code, int completionRows,
                          const QVector<GroupTotal> &recomputed, const QVector<GroupTotal> &stored)
{
    BatchVerdict verdict;
    verdict.code = code;
    verdict.groups = int(recomputed.size());
    QStringList &d = verdict.differences;
    if (completionRows == 0) {
        if (!stored.isEmpty())
            d << QStringLiteral("summary rows without completion row (%1 %2)")
                     .arg(stored.size())
                     .arg(stored.size() == 1 ? QStringLiteral("row") : QStringLiteral("rows"));
    } else {
        if (completionRows > 1)
            d << QStringLiteral("completion row present %1 times (counted twice)")
                     .arg(completionRows);
        if (stored.isEmpty() && !recomputed.isEmpty())
            d << QStringLiteral("completion row without summary rows (%1 %2 recomputed)")
                     .arg(recomputed.size())
                     .arg(recomputed.size() == 1 ? QStringLiteral("group")
                                                 : QStringLiteral("groups"));
        else
            groupDifferences(recomputed, stored, verdict);
        // A batch recorded twice is no growth, whatever its groups say.
        verdict.onlyGrowth = verdict.onlyGrowth && completionRows == 1;
    }
    if (!d.isEmpty())
        verdict.status = Status::Differs;
    else
        verdict.status = completionRows > 0 ? Status::Ok : Status::NotDone;
    return verdict;
}

BatchVerdict verifyBatch(dm::Connection &connection, const BatchDef &batch,
                         const PeriodSource &period)
{
    const PeriodValues v = periodValues(batch, period);
    const int completions = completionRows(connection, batch.code, v);
    const QVector<GroupTotal> stored = storedTotals(connection, batch.code, v);
    // Only a batch recorded done has totals to recompute; rows without that record are
    // reported as they are, and the source is not read for them.
    if (completions == 0)
        return compareBatch(batch.code, 0, {}, stored);
    BatchVerdict verdict =
        compareBatch(batch.code, completions, recomputedTotals(connection, batch, v), stored);
    judgeGrowth(connection, batch, period, verdict);
    return verdict;
}

namespace {

// Where each statement sees the commits made before it, an ERP posting can make one read
// miss or count twice a row it moves: a drift is called only when a second read sees it too.
BatchVerdict verifyOnce(dm::Connection &connection, const BatchDef &batch,
                        const PeriodSource &period, bool onePointInTime)
{
    const BatchVerdict first = verifyBatch(connection, batch, period);
    if ((first.status != Status::Differs && first.status != Status::Moved) || onePointInTime)
        return first;
    return verifyBatch(connection, batch, period);
}

} // namespace

QVector<BatchVerdict> verifyBatches(dm::Connection &connection, const PeriodSource &period,
                                    dm::RunLock *lock)
{
    QVector<BatchVerdict> verdicts;
    const bool onePointInTime = connection.beginReadOnlyTrans();
    for (const BatchDef &batch : batchCatalogue()) {
        try {
            if (lock)
                lock->keep();
            verdicts << verifyOnce(connection, batch, period, onePointInTime);
        } catch (const dm::RunBusy &) {
            connection.endReadOnlyTrans();
            throw;
        } catch (const dm::Error &e) {
            BatchVerdict failed;
            failed.code = batch.code;
            failed.status = Status::Failed;
            failed.failure = e.message();
            verdicts << failed;
        }
    }
    connection.endReadOnlyTrans();
    return verdicts;
}

} // namespace verify
