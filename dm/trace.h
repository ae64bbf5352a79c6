#pragma once

#include "dm/variant.h"

#include <QString>
#include <QVector>
#include <functional>

namespace dm {

// What reached the database: tests observe it, the program installs no sink.
struct TraceEntry
{
    enum Kind { Execute, Open, Begin, Commit, Rollback } kind;
    QString sql;             // the statement as the system wrote it (markers included)
    QVector<Variant> values; // bound values, one per marker, in order
    bool ok = true;
    QString error; // the database's message when !ok
};

using TraceSink = std::function<void(const TraceEntry &)>;
void setTraceSink(TraceSink sink); // an empty sink switches tracing off
bool tracing();                    // a sink is installed: callers build entries only then
void trace(const TraceEntry &entry);

} // namespace dm
