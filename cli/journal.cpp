// Priorities for systemd's journal on the lines of failures, busy runs and drift.
#include "cli/journal.h"

#include <QRegularExpression>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace batchcli::journal {

namespace {

bool s_outIsJournal = false;
bool s_errIsJournal = false;

QString prefix(Priority priority, bool journal)
{
    return journal ? QStringLiteral("<%1>").arg(int(priority)) : QString();
}

} // namespace

bool isJournalStream(int fd, const QByteArray &journalStream)
{
#ifdef Q_OS_UNIX
    const QList<QByteArray> parts = journalStream.split(':');
    bool deviceOk = false;
    bool inodeOk = false;
    if (parts.size() != 2)
        return false;
    const qulonglong device = parts[0].toULongLong(&deviceOk);
    const qulonglong inode = parts[1].toULongLong(&inodeOk);
    struct stat st;
    if (!deviceOk || !inodeOk || fstat(fd, &st) != 0)
        return false;
    return qulonglong(st.st_dev) == device && qulonglong(st.st_ino) == inode;
#else
    Q_UNUSED(fd);
    Q_UNUSED(journalStream);
    return false;
#endif
}

void detectStandardStreams()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    s_outIsJournal = !stream.isEmpty() && isJournalStream(fileno(stdout), stream);
    s_errIsJournal = !stream.isEmpty() && isJournalStream(fileno(stderr), stream);
}

QString outPrefix(Priority priority)
{
    return prefix(priority, s_outIsJournal);
}

QString errPrefix(Priority priority)
{
    return prefix(priority, s_errIsJournal);
}

QString withoutPrefixes(const QString &text)
{
    static const QRegularExpression prefixes(QStringLiteral("(^|\\n)<[34]>"));
    QString result = text;
    return result.replace(prefixes, QStringLiteral("\\1"));
}

} // namespace batchcli::journal
