// salestotals-batch --metrics FILE: Prometheus' text format, replaced whole after each run.
#include "cli/metrics.h"

#include "cli/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <utility>

namespace batchcli::metrics {

namespace {

using Samples = QList<std::pair<QString, QString>>; // labels ("" or {a="b"}), value

QString gauge(const QString &name, const char *help, const Samples &samples)
{
    QString text = QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(name, QLatin1String(help));
    for (const auto &[labels, value] : samples)
        text += name + labels + u' ' + value + u'\n';
    return text;
}

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 3);
}

QString outcome(const char *name)
{
    return QStringLiteral("{outcome=\"%1\"}").arg(QLatin1String(name));
}

Samples batchSamples(const RunReport &report)
{
    if (report.mode == Mode::Run)
        return {{outcome("done"), QString::number(report.done)},
                {outcome("skipped"), QString::number(report.skipped)},
                {outcome("failed"), QString::number(report.failed)}};
    using verify::Status;
    return {{outcome("ok"), QString::number(report.count(Status::Ok))},
            {outcome("differs"), QString::number(report.count(Status::Differs))},
            {outcome("moved"), QString::number(report.count(Status::Moved))},
            {outcome("not_done"), QString::number(report.count(Status::NotDone))},
            {outcome("failed"), QString::number(report.count(Status::Failed))}};
}

// The value of a sample without labels in an earlier file; empty when there is none.
QString previousValue(const QString &previous, const QString &name)
{
    const QRegularExpression sample(
        QStringLiteral("^%1 ([0-9.eE+-]+)$").arg(QRegularExpression::escape(name)),
        QRegularExpression::MultilineOption);
    return sample.match(previous).captured(1);
}

QString readPrevious(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(1 << 20)) : QString();
}

} // namespace

QString text(const RunReport &report, int exitStatus, const QDateTime &ended,
             const QString &previous)
{
    const bool verifying = report.mode == Mode::Verify;
    const QString prefix =
        verifying ? QStringLiteral("salestotals_verify_") : QStringLiteral("salestotals_run_");
    const QString lastSuccess = prefix + QStringLiteral("last_success_timestamp_seconds");
    const QString endedAt = seconds(ended.toMSecsSinceEpoch());
    const QString succeeded = exitStatus == 0 ? endedAt : previousValue(previous, lastSuccess);
    QString text =
        gauge(prefix + QStringLiteral("last_timestamp_seconds"),
              verifying ? "When the last verify ended, in seconds since the Unix epoch."
                        : "When the last run ended, in seconds since the Unix epoch.",
              {{QString(), endedAt}}) +
        gauge(prefix + QStringLiteral("exit_status"),
              verifying ? "Exit status of the last verify: 0 ok, 2 could not check, 3 drift, "
                          "75 busy."
                        : "Exit status of the last run: 0 done or skipped, 1 a batch failed, "
                          "2 could not start, 75 busy.",
              {{QString(), QString::number(exitStatus)}}) +
        gauge(prefix + QStringLiteral("success"), "1 when the last one exited with status 0.",
              {{QString(), exitStatus == 0 ? QStringLiteral("1") : QStringLiteral("0")}});
    if (!succeeded.isEmpty())
        text += gauge(lastSuccess,
                      "When the last one that exited with status 0 ended, in seconds since the "
                      "Unix epoch.",
                      {{QString(), succeeded}});
    return text +
           gauge(prefix + QStringLiteral("batches"),
                 verifying ? "Batches of the last verify by outcome."
                           : "Batches of the last "
                             "run by outcome.",
                 batchSamples(report)) +
           gauge(prefix + QStringLiteral("duration_seconds"), "How long the last one took.",
                 {{QString(), seconds(report.elapsedMs)}});
}

QString replaceFile(const QString &path, const QString &content)
{
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return QStringLiteral("its folder does not exist");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = content.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return QString();
}

void update(const QString &path, const RunReport &report, int exitStatus, QTextStream &err,
            const QString &program)
{
    const QString content =
        text(report, exitStatus, QDateTime::currentDateTimeUtc(), readPrevious(path));
    const QString reason = replaceFile(path, content);
    if (!reason.isEmpty())
        err << journal::errPrefix(journal::Priority::Warning) << program << ": the metrics file "
            << QDir::toNativeSeparators(path) << " cannot be written (" << reason
            << "); the run goes on without it" << Qt::endl;
}

} // namespace batchcli::metrics
