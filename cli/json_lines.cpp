// salestotals-batch --json: one object per batch on a line of its own, and a closing object.
#include "cli/json_lines.h"

#include "batch/catalogue.h"
#include "batch/statements.h"
#include "cli/batch_cli.h"
#include "dm/text.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace batchcli::json {

namespace {

QJsonObject batchObject(const QString &code, const PeriodSource &period, const char *status)
{
    return QJsonObject{{QStringLiteral("code"), code},
                       {QStringLiteral("period"), batchPeriod(code, period)},
                       {QStringLiteral("status"), QLatin1String(status)}};
}

QJsonValue decimalText(const std::optional<sqlcompat::Decimal> &value)
{
    return value ? QJsonValue(verify::totalText(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonObject largestObject(const verify::LargestDifference &d)
{
    return QJsonObject{
        {QStringLiteral("group"), d.group ? QJsonValue(*d.group) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("stored"), decimalText(d.stored)},
        {QStringLiteral("recomputed"), decimalText(d.recomputed)},
        {QStringLiteral("difference"), decimalText(d.size)}};
}

const char *verdictStatus(verify::Status status)
{
    switch (status) {
    case verify::Status::Ok:
        return "ok";
    case verify::Status::Differs:
        return "differs";
    case verify::Status::Moved:
        return "moved";
    case verify::Status::NotDone:
        return "not_done";
    case verify::Status::Failed:
        break;
    }
    return "failed";
}

const char *overallStatus(int exitStatus)
{
    switch (exitStatus) {
    case AllDoneOrSkipped:
        return "ok";
    case BatchFailed:
        return "failed";
    case Drift:
        return "differs";
    case Busy:
        return "busy";
    default:
        return "cannot_start";
    }
}

void addCounts(QJsonObject &object, const RunReport &report)
{
    if (report.mode == Mode::Run) {
        object.insert(QStringLiteral("done"), report.done);
        object.insert(QStringLiteral("skipped"), report.skipped);
        object.insert(QStringLiteral("failed"), report.failed);
    } else if (report.mode == Mode::Verify) {
        for (const auto status :
             {verify::Status::Ok, verify::Status::Differs, verify::Status::Moved,
              verify::Status::NotDone, verify::Status::Failed})
            object.insert(QLatin1String(verdictStatus(status)), report.count(status));
    }
}

} // namespace

QString line(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject batchPeriod(const QString &code, const PeriodSource &period)
{
    const QString year = dm::trimText(period.yearText());
    QJsonObject object{{QStringLiteral("year"), year}};
    switch (batchByCode(code).kind) {
    case PeriodKind::Week:
        object.insert(QStringLiteral("week"), period.week());
        break;
    case PeriodKind::Month:
        object.insert(QStringLiteral("month"), period.month());
        break;
    case PeriodKind::Year:
        object.insert(QStringLiteral("roc_year"), rocYearOf(year));
        break;
    }
    return object;
}

void BatchPrinter::batchSkipped(const QString &code)
{
    m_out << line(batchObject(code, m_period, "skipped")) << Qt::endl;
}

void BatchPrinter::batchDone(const QString &code, int rowsInserted, qint64 elapsedMs)
{
    QJsonObject object = batchObject(code, m_period, "done");
    object.insert(QStringLiteral("rows"), rowsInserted);
    object.insert(QStringLiteral("ms"), elapsedMs);
    m_out << line(object) << Qt::endl;
}

void BatchPrinter::batchFailed(const QString &code, const QString &databaseMessage)
{
    QJsonObject object = batchObject(code, m_period, "failed");
    object.insert(QStringLiteral("message"), databaseMessage.trimmed());
    m_out << line(object) << Qt::endl;
}

QJsonObject verdictObject(const verify::BatchVerdict &v, const PeriodSource &period)
{
    QJsonObject object = batchObject(v.code, period, verdictStatus(v.status));
    if (v.status == verify::Status::Failed) {
        object.insert(QStringLiteral("message"), v.failure.trimmed());
        return object;
    }
    object.insert(QStringLiteral("groups"), v.groups);
    if (!v.differences.isEmpty())
        object.insert(QStringLiteral("differences"), QJsonArray::fromStringList(v.differences));
    if (v.largest)
        object.insert(QStringLiteral("largest"), largestObject(*v.largest));
    return object;
}

void printStatements(const PeriodSource &period, QTextStream &out)
{
    for (const BatchDef &batch : batchCatalogue()) {
        const BatchStatements s = statementsFor(batch, period);
        QJsonObject object = batchObject(batch.code, period, "dry_run");
        object.insert(QStringLiteral("summary"), s.summary);
        object.insert(QStringLiteral("completion"), s.completion);
        if (!s.parameterName.isEmpty())
            object.insert(QStringLiteral("binds"),
                          QJsonObject{{QStringLiteral("name"), s.parameterName},
                                      {QStringLiteral("value"), s.period}});
        out << line(object) << "\n";
    }
    out.flush();
}

QJsonObject closingObject(const RunReport &report, int exitStatus)
{
    QJsonObject object{{QStringLiteral("code"), QStringLiteral("ALL")},
                       {QStringLiteral("status"), QLatin1String(overallStatus(exitStatus))},
                       {QStringLiteral("exit_status"), exitStatus},
                       {QStringLiteral("ms"), report.elapsedMs}};
    if (report.period)
        object.insert(QStringLiteral("period"),
                      QJsonObject{{QStringLiteral("year"), report.period->year},
                                  {QStringLiteral("month"), report.period->month},
                                  {QStringLiteral("week"), report.period->week}});
    addCounts(object, report);
    if (!report.errorText.trimmed().isEmpty())
        object.insert(QStringLiteral("message"), report.errorText.trimmed());
    return object;
}

} // namespace batchcli::json
