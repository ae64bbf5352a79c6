#include "cli/verify_cli.h"

#include "cli/batch_cli.h"
#include "cli/journal.h"
#include "cli/json_lines.h"
#include "dm/fdm.h"
#include "dm/run_lock.h"
#include "dm/shared_values.h"

#include <QElapsedTimer>
#include <algorithm>

namespace batchcli {

namespace {

using verify::BatchVerdict;
using verify::Status;

QString singleLine(QString message)
{
    message.replace(QLatin1String("\r\n"), QLatin1String(" "));
    message.replace(u'\n', u' ');
    message.replace(u'\r', u' ');
    return message.trimmed();
}

int count(const QVector<BatchVerdict> &verdicts, Status status)
{
    return int(std::count_if(verdicts.begin(), verdicts.end(),
                             [status](const BatchVerdict &v) { return v.status == status; }));
}

// Drift and batches that could not be checked at the journal's error priority.
QString prefixFor(Status status)
{
    const bool bad = status == Status::Differs || status == Status::Failed;
    return bad ? journal::outPrefix(journal::Priority::Error) : QString();
}

void printLines(const QVector<BatchVerdict> &verdicts, qint64 elapsedMs, QTextStream &out)
{
    for (const BatchVerdict &v : verdicts)
        out << prefixFor(v.status) << verdictLine(v) << Qt::endl;
    const int status = verifyStatus(verdicts);
    out << (status == AllDoneOrSkipped ? QString() : journal::outPrefix(journal::Priority::Error))
        << summaryLine(verdicts, elapsedMs) << Qt::endl;
}

} // namespace

QString verdictLine(const BatchVerdict &v)
{
    switch (v.status) {
    case Status::Ok:
        return QStringLiteral("%1 ok %2 %3")
            .arg(v.code)
            .arg(v.groups)
            .arg(v.groups == 1 ? QStringLiteral("group") : QStringLiteral("groups"));
    case Status::Differs:
        return v.code + QStringLiteral(" differs: ") + v.differences.join(QLatin1String("; "));
    case Status::Moved:
        return v.code + QStringLiteral(" moved since the run: ") +
               v.differences.join(QLatin1String("; "));
    case Status::NotDone:
        return v.code + QStringLiteral(" not done");
    case Status::Failed:
        break;
    }
    return v.code + QStringLiteral(" failed: ") + singleLine(v.failure);
}

QString summaryLine(const QVector<BatchVerdict> &verdicts, qint64 elapsedMs)
{
    const int recorded = int(verdicts.size()) - count(verdicts, Status::NotDone);
    Status shownStatus = Status::Ok;
    QString word = QStringLiteral("ok");
    if (count(verdicts, Status::Differs) > 0) {
        shownStatus = Status::Differs;
        word = QStringLiteral("differs");
    } else if (count(verdicts, Status::Failed) > 0) {
        shownStatus = Status::Failed;
        word = QStringLiteral("failed");
    }
    const int moved = count(verdicts, Status::Moved);
    return QStringLiteral("ALL %1 %2 of %3 %4%5 %6 ms")
        .arg(word)
        .arg(count(verdicts, shownStatus))
        .arg(recorded)
        .arg(recorded == 1 ? QStringLiteral("batch") : QStringLiteral("batches"))
        .arg(moved > 0 ? QStringLiteral(" (%1 moved since the run)").arg(moved) : QString())
        .arg(elapsedMs);
}

int verifyStatus(const QVector<BatchVerdict> &verdicts)
{
    if (count(verdicts, Status::Differs) > 0)
        return Drift;
    return count(verdicts, Status::Failed) > 0 ? CannotStart : AllDoneOrSkipped;
}

int verifyTotals(const PeriodSource &period, int waitSeconds, QTextStream &out, QTextStream &err,
                 const QString &program, RunReport *report)
{
    QElapsedTimer timer;
    timer.start();
    dm::RunLock lock(dm::FDM->PUB_DB, CompanyCode, waitSeconds);
    QVector<BatchVerdict> verdicts;
    try {
        lock.acquire();
        verdicts = verify::verifyBatches(dm::FDM->PUB_DB, period, &lock);
    } catch (const dm::RunBusy &e) {
        err << journal::errPrefix(journal::Priority::Warning) << program << ": "
            << singleLine(e.message()) << Qt::endl;
        return Busy;
    }
    if (report)
        report->verdicts = verdicts;
    if (report && report->json) {
        for (const BatchVerdict &v : std::as_const(verdicts))
            out << json::line(json::verdictObject(v, period)) << Qt::endl;
    } else {
        printLines(verdicts, timer.elapsed(), out);
    }
    return verifyStatus(verdicts);
}

} // namespace batchcli
