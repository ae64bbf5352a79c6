#include "dm/run_lock.h"

#include "dm/query.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace dm {

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QString quoted(QString text)
{
    return u'\'' + text.replace(u'\'', QLatin1String("''")) + u'\'';
}

// Application lock names are compared as binary and kept in plain text up to 32 characters.
QString resourceName(const char *what, const QString &company)
{
    return QStringLiteral("salestotals %1 %2").arg(QLatin1String(what), company);
}

// "salestotals-batch (process 4242 on erp01)"
QString thisProcess()
{
    return QStringLiteral("%1 (process %2 on %3)")
        .arg(QCoreApplication::applicationName())
        .arg(QCoreApplication::applicationPid())
        .arg(QSysInfo::machineHostName());
}

// waitSeconds < 0: the lock was lost during the run and is held by another now.
QString busyMessage(const QString &company, const QString &holder, const QString &since,
                    int waitSeconds)
{
    QString message = QStringLiteral("Another run holds the company database %1").arg(company);
    if (!holder.isEmpty())
        message += QStringLiteral(": ") + holder;
    if (!since.isEmpty())
        message += QStringLiteral(", since ") + since;
    message += waitSeconds >= 0
                   ? QStringLiteral(". This run waited %1 s and changed nothing").arg(waitSeconds)
                   : QStringLiteral(". This run stops here");
    return message + QStringLiteral("; start it again when the other has ended");
}

// Runs "EXEC sp_getapplock" and returns its result: >= 0 granted, -1 timed out, -2 cancelled,
// -3 deadlock victim, -999 refused. NOCOUNT keeps the statements before the SELECT from
// answering first; it is switched back for the row counts of the batches. `before` runs
// first, in the same request; the request waits up to waitSeconds beyond the query timeout.
int applock(Connection &connection, const QString &resource, const char *owner, int waitSeconds,
            const QString &onGranted = {}, const QString &before = {})
{
    Query query(&connection);
    query.setExtraTimeout(waitSeconds);
    query.setSQL(QStringLiteral("SET NOCOUNT ON; DECLARE @result int; %5EXEC @result = "
                                "sp_getapplock @Resource = N%1, @LockMode = 'Exclusive', "
                                "@LockOwner = '%2', @LockTimeout = %3; %4SET NOCOUNT OFF; "
                                "SELECT @result AS result")
                     .arg(quoted(resource), QLatin1String(owner))
                     .arg(qint64(waitSeconds) * 1000)
                     .arg(onGranted.isEmpty() ? QString() : onGranted + u' ',
                          before.isEmpty() ? QString() : before + u' '));
    query.open();
    return query.fieldByName(QStringLiteral("result")).asInteger();
}

// -2 and -3 end the request, not the other run's hold: trying again later can succeed.
QString notGranted(const char *what, const QString &company, int result)
{
    return QStringLiteral("The server did not grant the %1 lock of %2 (sp_getapplock answered "
                          "%3, %4). This run stops here; start it again")
        .arg(QLatin1String(what), company)
        .arg(result)
        .arg(result == -2 ? QStringLiteral("the request was cancelled")
                          : QStringLiteral("chosen as a deadlock victim"));
}

// The lock file's process no longer runs on this machine.
bool holderIsGone(qint64 pid, const QString &host)
{
#ifdef Q_OS_UNIX
    // Another user's live process answers EPERM.
    return pid > 0 && host == QSysInfo::machineHostName() && ::kill(pid_t(pid), 0) != 0 &&
           errno == ESRCH;
#else
    Q_UNUSED(pid);
    Q_UNUSED(host);
    return false; // QLockFile takes these over itself
#endif
}

// The process of the lock file at path when it is gone, else 0.
qint64 goneHolder(const QString &path)
{
    qint64 pid = 0;
    QString host, application;
    return QLockFile(path).getLockInfo(&pid, &host, &application) && holderIsGone(pid, host) ? pid
                                                                                             : 0;
}

// Qt opens a stale lock file for writing before it removes it, so another user's file stays.
// Removing it needs only the folder. As Qt does, one remover at a time, and only while the
// file still names the process that is gone.
bool removeGoneHoldersFile(const QString &path)
{
    const qint64 pid = goneHolder(path);
    if (pid == 0)
        return false;
    QLockFile remover(path + QStringLiteral(".rmlock"));
    if (!remover.tryLock(0))
        return false;
    return goneHolder(path) == pid && QFile::remove(path);
}

} // namespace

RunLock::RunLock(Connection &connection, QString company, int waitSeconds)
    : m_connection(connection), m_company(std::move(company)), m_wait(waitSeconds)
{
}

RunLock::~RunLock()
{
    release();
}

QString RunLock::lockFilePath(const QString &databaseFile)
{
    return databaseFile + QStringLiteral(".run-lock");
}

void RunLock::acquire()
{
    try {
        take(m_wait);
    } catch (const RunBusy &) {
        throw;
    } catch (const Error &) {
        // A link that died since the last press fails its first request, which closed it:
        // once more on a new session.
        if (m_connection.backend() == Backend::Embedded || m_connection.connected())
            throw;
        take(m_wait);
    }
}

void RunLock::keep()
{
    // The lock file does not depend on the connection.
    if (m_connection.backend() == Backend::Embedded && m_held)
        return;
    try {
        if (m_held && m_connection.connected() && m_connection.openings() == m_opening &&
            sessionHoldsLock())
            return;
        m_held = false;
        // The session went with the link, its lock with it: a new one takes it again.
        take(-1);
    } catch (const RunBusy &) {
        throw;
    } catch (const Error &e) {
        throw RunLockError(
            QStringLiteral("The run lock of %1 could not be kept: %2").arg(m_company, e.message()));
    }
}

// Only the server knows whether the session still holds the lock: a pool may hand over
// another session, and a link that died since fails here first.
bool RunLock::sessionHoldsLock()
{
    Query query(&m_connection);
    query.setSQL(QStringLiteral("SELECT APPLOCK_MODE('public', N%1, 'Session') AS mode")
                     .arg(quoted(resourceName("run", m_company))));
    try {
        query.open();
    } catch (const Error &) {
        // Whatever broke the probe, a session that cannot answer it is of no use to the run.
        m_connection.close();
        return false;
    }
    return query.fieldByName(QStringLiteral("mode")).asString().trimmed() ==
           QLatin1String("Exclusive");
}

// waitSeconds < 0: once, without waiting, for a run that held the lock before.
void RunLock::take(int waitSeconds)
{
    // A database that cannot be reached fails here as the first statement would have.
    m_connection.open();
    if (m_connection.backend() == Backend::Embedded)
        takeFile(waitSeconds);
    else
        takeSession(waitSeconds);
}

void RunLock::takeFile(int waitSeconds)
{
    const QString database = embeddedDatabasePath(dataSourceOf(m_connection.connectionString()));
    const QString path = lockFilePath(database);
    m_file = std::make_unique<QLockFile>(path);
    // A run can take long (a code box waits for the operator): only a holder that no longer
    // runs leaves the lock stale, never its age.
    m_file->setStaleLockTime(0);
    // A file of a process that is gone and stays is not waited for.
    if (m_file->tryLock(0) || (removeGoneHoldersFile(path) && m_file->tryLock(0)) ||
        (m_file->error() == QLockFile::LockFailedError && goneHolder(path) == 0 &&
         m_file->tryLock(std::max(waitSeconds, 0) * 1000))) {
        m_held = true;
        return;
    }
    if (m_file->error() != QLockFile::LockFailedError) {
        m_file.reset();
        throw Error(
            QStringLiteral("Cannot create the lock file '%1' beside the database").arg(path));
    }
    qint64 pid = 0;
    QString host, application;
    QString holder, since;
    if (m_file->getLockInfo(&pid, &host, &application)) {
        holder = QStringLiteral("%1 (process %2 on %3)").arg(application).arg(pid).arg(host);
        const QDateTime modified = QFileInfo(path).lastModified();
        if (modified.isValid())
            since = modified.toString(TimeFormat);
    }
    m_file.reset();
    if (holderIsGone(pid, host))
        throw Error(QStringLiteral("The lock file '%1' was left by %2, which no longer runs, and "
                                   "this run cannot remove it: delete that file, then start the "
                                   "run again")
                        .arg(QDir::toNativeSeparators(path), holder));
    throw RunBusy(busyMessage(m_company, holder, since, waitSeconds));
}

void RunLock::takeSession(int waitSeconds)
{
    // Whoever holds the lock says who it is in its session's context, which other sessions
    // can read where the login may see the server's state.
    QString holder = thisProcess() + u'|' + QDateTime::currentDateTime().toString(TimeFormat);
    for (QChar &c : holder)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            c = u'?';
    int result = 0;
    try {
        result = applock(m_connection, resourceName("run", m_company), "Session",
                         std::max(waitSeconds, 0),
                         QStringLiteral("IF @result >= 0 BEGIN DECLARE @holder varbinary(128) = "
                                        "CAST(%1 AS varbinary(128)); SET CONTEXT_INFO @holder END;")
                             .arg(quoted(holder.left(128))));
    } catch (const Error &) {
        m_connection.close(); // the next request starts on a new session
        throw;
    }
    if (result >= 0) {
        m_held = true;
        m_opening = m_connection.openings();
        return;
    }
    if (result == -2 || result == -3)
        throw RunBusy(notGranted("run", m_company, result));
    if (result != -1)
        throw Error(QStringLiteral("The run lock of %1 was refused (sp_getapplock answered %2)")
                        .arg(m_company)
                        .arg(result));
    QString who, since;
    try {
        Query query(&m_connection);
        query.setSQL(
            QStringLiteral("SELECT s.host_name, s.login_name, CAST(s.context_info AS "
                           "varchar(128)) AS holder FROM sys.dm_tran_locks AS l JOIN "
                           "sys.dm_exec_sessions AS s ON s.session_id = l.request_session_id "
                           "WHERE l.resource_type = 'APPLICATION' AND l.resource_database_id = "
                           "DB_ID() AND l.request_owner_type = 'SESSION' AND l.request_status "
                           "<> 'WAIT' AND l.resource_description LIKE %1")
                .arg(quoted(u'%' + resourceName("run", m_company) + u'%')));
        query.open();
        if (!query.eof()) {
            QString context = query.fieldByName(QStringLiteral("holder")).asString();
            context.remove(QChar(0));
            const QString login = query.fieldByName(QStringLiteral("login_name")).asString();
            if (context.contains(u'|')) {
                who = context.section(u'|', 0, 0);
                since = context.section(u'|', 1).trimmed();
            } else {
                who = query.fieldByName(QStringLiteral("host_name")).asString().trimmed();
            }
            if (!login.trimmed().isEmpty())
                who += QStringLiteral(", login ") + login.trimmed();
        }
    } catch (const Error &) {
        // Without VIEW SERVER STATE the login sees no other session: the message says less.
    }
    if (who.isEmpty())
        who = QStringLiteral("a session this login may not see");
    throw RunBusy(busyMessage(m_company, who, since, waitSeconds));
}

void RunLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    if (m_file) {
        m_file->unlock();
        m_file.reset();
        return;
    }
    // The server freed it with the session that held it.
    if (!m_connection.connected() || m_connection.openings() != m_opening)
        return;
    try {
        Query query(&m_connection);
        query.setSQL(QStringLiteral("EXEC sp_releaseapplock @Resource = N%1, @LockOwner = "
                                    "'Session'")
                         .arg(quoted(resourceName("run", m_company))));
        query.execSQL();
    } catch (const Error &) {
        // It goes with the session at the latest.
    }
}

namespace {

// Below any answer of sp_getapplock: the request was not made, @@TRANCOUNT was not 1.
constexpr int NotOneTransaction = -1000;

} // namespace

void lockBatch(Connection &connection, const QString &company, int waitSeconds)
{
    if (connection.backend() == Backend::Embedded)
        return;
    // Microsoft's drivers only set IMPLICIT_TRANSACTIONS, and EXEC opens no transaction: a
    // SELECT that reads a table does, as documented (READPAST: past rows another run has
    // just inserted). BEGIN TRANSACTION would open two there, and one commit would leave the
    // batch uncommitted; a transaction's lock outside any is refused.
    const int result = applock(
        connection, resourceName("batch", company), "Transaction", waitSeconds, {},
        QStringLiteral("IF @@TRANCOUNT = 0 SELECT TOP (1) @result = 0 FROM FADMXY WITH "
                       "(READPAST); IF @@TRANCOUNT <> 1 SET @result = %1 - @@TRANCOUNT ELSE")
            .arg(NotOneTransaction));
    if (result <= NotOneTransaction)
        throw Error(QStringLiteral("The batch's transaction was not open as the batch lock of %1 "
                                   "needs it: @@TRANCOUNT was %2 before the lock, not 1")
                        .arg(company)
                        .arg(NotOneTransaction - result));
    if (result == -1)
        throw RunBusy(QStringLiteral("Another run kept the batches of %1 locked for %2 s. This "
                                     "run stops here; start it again when the other has ended")
                          .arg(company)
                          .arg(waitSeconds));
    if (result == -2 || result == -3)
        throw RunBusy(notGranted("batch", company, result));
    if (result < 0)
        throw Error(QStringLiteral("The batch lock of %1 was refused (sp_getapplock answered %2)")
                        .arg(company)
                        .arg(result));
}

} // namespace dm
