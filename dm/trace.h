#pragma once

#include "dm/variant.h"

#include <QString>
#include <QVector>
#include <functional>

namespace dm {

// What reached the database: tests observe it, the program installs no sink.
struct TraceEntry
{
    enum Kind { Execute, Open, Begin, Commit, Rollback, DriverWarning } kind;
    QString sql;             // the statement as the system wrote it (markers included)
    QVector<Variant> values; // bound values, one per marker, in order
    bool ok = true;
    QString error; // the database's message when !ok; a DriverWarning's text
};

using TraceSink = std::function<void(const TraceEntry &)>;
void setTraceSink(TraceSink sink); // an empty sink switches tracing off
bool tracing();                    // a sink is installed: callers build entries only then
void trace(const TraceEntry &entry);

// Qt's SQL drivers warn on standard error of what the data layer reports itself (a failed
// statement is the caller's dm::Error): their warnings go to the trace instead, so that a
// failure reaches the operator once. Other messages keep their way. Idempotent.
void routeSqlDriverWarnings();

} // namespace dm
