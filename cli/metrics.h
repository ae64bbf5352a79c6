#pragma once

#include "cli/run_report.h"

#include <QDateTime>
#include <QString>
#include <QTextStream>

// salestotals-batch --metrics FILE: the outcome of the last run (or verify) in Prometheus'
// text format, for node_exporter's or windows_exporter's textfile collector.
namespace batchcli::metrics {

// The file's text: this run's end and outcome, its batches, its duration, and the end of the
// last run that exited 0, taken from `previous` (the file as it was) when this one did not.
QString text(const RunReport &report, int exitStatus, const QDateTime &ended,
             const QString &previous);

// Replaces the file at `path` with `content`: written beside it and renamed over it, so that
// a reader sees the old file or the new one, never part of one. Returns why it could not, or
// an empty text.
QString replaceFile(const QString &path, const QString &content);

// Writes the metrics of the run that ended now to `path`; a file that cannot be written costs
// one line on `err` and nothing else.
void update(const QString &path, const RunReport &report, int exitStatus, QTextStream &err,
            const QString &program);

} // namespace batchcli::metrics
