#include "dm/trace.h"

#include <QtGlobal>
#include <mutex>

namespace dm {

namespace {

// Process-wide; everything runs on the user-interface thread.
TraceSink &sink()
{
    static TraceSink instance;
    return instance;
}

} // namespace

void setTraceSink(TraceSink newSink)
{
    sink() = std::move(newSink);
}

bool tracing()
{
    return bool(sink());
}

void trace(const TraceEntry &entry)
{
    if (sink())
        sink()(entry);
}

namespace {

QtMessageHandler previousHandler = nullptr;

bool fromSqlDriver(const QMessageLogContext &context, const QString &text)
{
    // Qt 6.4's drivers warn in the default category, naming their class first.
    if (context.category && qstrncmp(context.category, "qt.sql", 6) == 0)
        return true;
    for (const QLatin1String prefix : {QLatin1String("QODBC"), QLatin1String("QSQLite"),
                                       QLatin1String("QSQLITE"), QLatin1String("QSql")})
        if (text.startsWith(prefix))
            return true;
    return false;
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if ((type == QtWarningMsg || type == QtDebugMsg || type == QtInfoMsg) &&
        fromSqlDriver(context, text)) {
        trace(TraceEntry{TraceEntry::DriverWarning, {}, {}, true, text});
        return;
    }
    if (previousHandler) // Qt's own default handler when none was installed
        previousHandler(type, context, text);
}

} // namespace

void routeSqlDriverWarnings()
{
    static std::once_flag once;
    std::call_once(once, [] { previousHandler = qInstallMessageHandler(handleMessage); });
}

} // namespace dm
