#include "dm/connection.h"

#include "dm/odbc_text.h"
#include "dm/trace.h"
#include "sqlcompat/sqlcompat.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <optional>
#include <sqlite3.h>

namespace dm {

namespace {

struct Keyword
{
    QString key; // lower case
    QString value;
};

// "Key=Value;Key=Value": keys without regard to case, blanks around them ignored; a
// value may be quoted with ' or " to hold a ';'.
QVector<Keyword> parseConnectionString(const QString &text)
{
    QVector<Keyword> result;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype eq = text.indexOf(u'=', i);
        const qsizetype semi = text.indexOf(u';', i);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            // A part without '=' names nothing.
            i = semi < 0 ? n : semi + 1;
            continue;
        }
        Keyword keyword{text.mid(i, eq - i).trimmed().toLower(), {}};
        qsizetype j = eq + 1;
        while (j < n && text.at(j) == u' ')
            ++j;
        if (j < n && (text.at(j) == u'"' || text.at(j) == u'\'')) {
            const QChar quote = text.at(j);
            const qsizetype close = text.indexOf(quote, j + 1);
            const qsizetype end = close < 0 ? n : close;
            keyword.value = text.mid(j + 1, end - j - 1);
            const qsizetype next = text.indexOf(u';', end);
            i = next < 0 ? n : next + 1;
        } else {
            const qsizetype end = semi < 0 ? n : semi;
            keyword.value = text.mid(eq + 1, end - eq - 1).trimmed();
            i = end + 1;
        }
        result.append(keyword);
    }
    return result;
}

// The value of the last of the given keys that the string holds.
QString valueOf(const QVector<Keyword> &keywords, std::initializer_list<QLatin1String> keys)
{
    QString value;
    for (const Keyword &k : keywords)
        for (const QLatin1String key : keys)
            if (k.key == key)
                value = k.value;
    return value;
}

bool hasKey(const QVector<Keyword> &keywords, std::initializer_list<QLatin1String> keys)
{
    for (const Keyword &k : keywords)
        for (const QLatin1String key : keys)
            if (k.key == key)
                return true;
    return false;
}

// An ODBC attribute value; braces keep ';', '{', '}' and outer blanks in it.
QString odbcValue(const QString &value)
{
    const bool plain = !value.contains(u';') && !value.contains(u'{') && !value.contains(u'}') &&
                       value.trimmed() == value;
    if (plain)
        return value;
    QString escaped = value;
    escaped.replace(u'}', QStringLiteral("}}"));
    return u'{' + escaped + u'}';
}

QString nextQtName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("salestotals.dm.%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

} // namespace

QString driverMessage(const QSqlError &error)
{
    QString message = error.databaseText().trimmed();
    if (message.isEmpty())
        message = error.driverText().trimmed();
    if (message.isEmpty())
        message = error.text().trimmed();
    return message;
}

QString dataSourceOf(const QString &connectionString)
{
    const auto keywords = parseConnectionString(connectionString);
    return valueOf(keywords, {QLatin1String("data source"), QLatin1String("server")});
}

namespace {

bool integratedSecurity(const QVector<Keyword> &keywords)
{
    const QString integrated = valueOf(
        keywords, {QLatin1String("integrated security"), QLatin1String("trusted_connection")});
    return integrated.compare(QLatin1String("sspi"), Qt::CaseInsensitive) == 0 ||
           integrated.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           integrated.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

struct ServerAddress
{
    QString host;
    QString port; // empty: the driver's default
};

ServerAddress serverAddress(const QString &connectionString)
{
    QString server = dataSourceOf(connectionString);
    if (server.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        server = server.mid(4);
    QString port;
    if (const qsizetype comma = server.indexOf(u','); comma >= 0) {
        port = server.mid(comma + 1).trimmed();
        server = server.left(comma).trimmed();
    }
    // SQL Server's own names for this machine mean nothing to other clients.
    if (server == QLatin1String("(local)") || server == QLatin1String("."))
        server = QStringLiteral("localhost");
    return {server, port};
}

} // namespace

QString odbcConnectString(const QString &connectionString, const QString &driver,
                          const QString &options)
{
    const auto keywords = parseConnectionString(connectionString);
    const auto [server, port] = serverAddress(connectionString);

    QStringList parts;
    parts << QStringLiteral("DRIVER={%1}").arg(QString(driver).replace(u'}', QStringLiteral("}}")));
    // FreeTDS takes the port as a keyword of its own; Microsoft's drivers know no PORT
    // keyword and take it after a comma in SERVER.
    const bool freeTds = driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive);
    // FreeTDS 1.3 reads freetds.conf (where its only CA file setting is) for SERVERNAME and
    // refuses SERVER beside it: a Servername among the options takes SERVER's place.
    const bool serverName =
        freeTds && hasKey(parseConnectionString(options), {QLatin1String("servername")});
    if (!serverName)
        parts << QStringLiteral("SERVER=") +
                     odbcValue(port.isEmpty() || freeTds ? server : server + u',' + port);
    if (!port.isEmpty() && freeTds)
        parts << QStringLiteral("PORT=") + odbcValue(port);
    const QString catalog =
        valueOf(keywords, {QLatin1String("initial catalog"), QLatin1String("database")});
    if (!catalog.isEmpty())
        parts << QStringLiteral("DATABASE=") + odbcValue(catalog);

    if (integratedSecurity(keywords)) {
        // Integrated security ignores a user name given beside it.
        parts << QStringLiteral("Trusted_Connection=Yes");
    } else {
        const QString user = valueOf(
            keywords, {QLatin1String("user id"), QLatin1String("uid"), QLatin1String("user")});
        if (!user.isEmpty())
            parts << QStringLiteral("UID=") + odbcValue(user);
        const auto passwordKeys = {QLatin1String("password"), QLatin1String("pwd")};
        if (hasKey(keywords, passwordKeys))
            parts << QStringLiteral("PWD=") + odbcValue(valueOf(keywords, passwordKeys));
    }
    // Given last, so that the site's options decide where a driver takes the first value.
    QString extra = options.trimmed();
    while (extra.startsWith(u';'))
        extra.remove(0, 1);
    while (extra.endsWith(u';'))
        extra.chop(1);
    if (!extra.isEmpty())
        parts << extra;
    return parts.join(u';');
}

namespace {

// None when the options ask for no encryption; else the freetds.conf section that FreeTDS
// reads (which may ask for it), or "" when the options encrypt themselves.
std::optional<QString> tlsSection(const QString &options)
{
    const auto keywords = parseConnectionString(options);
    if (hasKey(keywords, {QLatin1String("servername")}))
        return valueOf(keywords, {QLatin1String("servername")});
    const QString encrypt = valueOf(keywords, {QLatin1String("encrypt")});
    for (const QLatin1String on : {QLatin1String("yes"), QLatin1String("true"),
                                   QLatin1String("mandatory"), QLatin1String("strict")})
        if (encrypt.compare(on, Qt::CaseInsensitive) == 0)
            return QString();
    if (valueOf(keywords, {QLatin1String("encryption")})
            .compare(QLatin1String("require"), Qt::CaseInsensitive) == 0)
        return QString();
    return std::nullopt;
}

} // namespace

QString integratedLoginHint(const QString &connectionString, const QString &options)
{
    if (!integratedSecurity(parseConnectionString(connectionString)))
        return {};
    QString spn = valueOf(parseConnectionString(options), {QLatin1String("serverspn")});
    if (spn.startsWith(u'{') && spn.endsWith(u'}'))
        spn = spn.mid(1, spn.size() - 2).replace(QLatin1String("}}"), QLatin1String("}"));
    if (spn.isEmpty()) {
        const auto [host, port] = serverAddress(connectionString);
        spn = QStringLiteral("MSSQLSvc/%1:%2")
                  .arg(host, port.isEmpty() ? QStringLiteral("1433") : port);
    }
    QString hint =
        QStringLiteral("Integrated login: Kerberos was asked for the service %1. A ticket "
                       "(klist; kinit user@REALM) and the server's fully qualified name as "
                       "its SPN has it (setspn -L) usually mend this.")
            .arg(spn);
    // The drivers say no more for a certificate they refuse than for a refused ticket.
    if (const std::optional<QString> section = tlsSection(options))
        hint += (section->isEmpty()
                     ? QStringLiteral(" The session is encrypted: the driver may also have "
                                      "refused the server's certificate (not signed by a CA it "
                                      "trusts, or issued for another name).")
                     : QStringLiteral(" If freetds.conf's section [%1] requires encryption, "
                                      "FreeTDS may also have refused the server's certificate "
                                      "(not signed by the CA of its 'ca file', or issued for "
                                      "another name than its 'host').")
                           .arg(*section));
    return hint;
}

QStringList embeddedPragmas()
{
    // The batches scan the order and invoice tables again and again, and SQLite's default
    // cache (2 MB) keeps almost none of them: every scan read the file anew, one read call per
    // page, which under Wine is a round trip to its server each. Mapped, the file's pages are
    // read from the system's cache without a call. Another run's writes are still seen (the
    // map and the writes share that cache on Linux and Windows alike); a larger file is read
    // beyond the first 256 MB as before.
    return {QStringLiteral("PRAGMA mmap_size = 268435456")};
}

QString embeddedDatabasePath(const QString &dataSource)
{
    if (QDir::isAbsolutePath(dataSource))
        return QDir::cleanPath(dataSource);
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).filePath(dataSource));
}

Connection::Connection(Backend backend, int connectionTimeoutSeconds)
    : m_backend(backend), m_timeout(connectionTimeoutSeconds), m_qtName(nextQtName())
{
    routeSqlDriverWarnings();
}

Connection::~Connection()
{
    if (!QSqlDatabase::contains(m_qtName))
        return;
    QSqlDatabase::database(m_qtName, false).close();
    QSqlDatabase::removeDatabase(m_qtName);
}

void Connection::setBackend(Backend backend)
{
    if (connected())
        return;
    // Each backend has its own Qt driver: the registration is made anew on the next open.
    if (backend != m_backend && QSqlDatabase::contains(m_qtName))
        QSqlDatabase::removeDatabase(m_qtName);
    m_backend = backend;
}

void Connection::setConnectionString(const QString &text)
{
    m_connectionString = text;
}

bool Connection::connected() const
{
    return QSqlDatabase::contains(m_qtName) && QSqlDatabase::database(m_qtName, false).isOpen();
}

QSqlDatabase Connection::database() const
{
    return QSqlDatabase::database(m_qtName, false);
}

namespace {

QSqlDatabase registered(const QString &qtName, const QString &driver)
{
    QSqlDatabase db = QSqlDatabase::contains(qtName) ? QSqlDatabase::database(qtName, false)
                                                     : QSqlDatabase::addDatabase(driver, qtName);
    if (!db.isValid())
        throw Error(QStringLiteral("The Qt database driver %1 is not installed").arg(driver));
    return db;
}

void openEmbedded(const QString &qtName, const QString &connectionString)
{
    const QString dataSource = dataSourceOf(connectionString);
    if (dataSource.isEmpty())
        throw Error(QStringLiteral("The connection string names no database file"));
    const QString path = embeddedDatabasePath(dataSource);
    // Never create the file: a missing company database is the operator's to fix.
    const QFileInfo info(path);
    if (!info.exists())
        throw Error(QStringLiteral("The database file '%1' does not exist").arg(path));
    if (!info.isFile())
        throw Error(QStringLiteral("'%1' is not a database file").arg(path));

    QSqlDatabase db = registered(qtName, QStringLiteral("QSQLITE"));
    // mode=rw also keeps SQLite from creating the file should it vanish meanwhile.
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                       QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
    if (!db.open()) {
        throw Error(QStringLiteral("Cannot open the database file '%1': %2")
                        .arg(path, driverMessage(db.lastError())));
    }
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        db.close();
        throw Error(QStringLiteral("The SQLite driver gives no database handle"));
    }
    sqlite3 *raw = *static_cast<sqlite3 *const *>(handle.constData());
    // SQLite reads the file lazily; a file that is no database fails here, not later.
    if (sqlite3_exec(raw, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(raw));
        db.close();
        throw Error(QStringLiteral("Cannot open the database file '%1': %2").arg(path, message));
    }
    for (const QString &pragma : embeddedPragmas()) {
        if (sqlite3_exec(raw, pragma.toUtf8().constData(), nullptr, nullptr, nullptr) !=
            SQLITE_OK) {
            const QString message = QString::fromUtf8(sqlite3_errmsg(raw));
            db.close();
            throw Error(
                QStringLiteral("Cannot open the database file '%1': %2").arg(path, message));
        }
    }
    sqlcompat::install(raw);
}

// DATEPART(week) follows the session's first day of the week, which follows the login's
// language unless set. A lock is waited for forever unless set. Closes the connection when
// it fails.
void startSession(QSqlDatabase &db, int lockTimeoutSeconds)
{
    QSqlQuery setup(db);
    setup.setForwardOnly(true); // else the driver may wrap it in a server cursor
    if (setup.exec(QStringLiteral("SET DATEFIRST 7; SET LOCK_TIMEOUT %1")
                       .arg(qint64(lockTimeoutSeconds) * 1000)))
        return;
    const QString message = driverMessage(setup.lastError());
    setup.finish();
    db.close();
    throw Error(message);
}

void openSqlServer(const QString &qtName, const QString &connectionString, int timeout,
                   int lockTimeout)
{
    QSqlDatabase db = registered(qtName, QStringLiteral("QODBC"));
    const QString options = configuredOdbcOptions();
    db.setDatabaseName(odbcConnectString(connectionString, configuredOdbcDriver(), options));
    // ODBC is asked never to prompt, so the login prompt setting needs nothing here.
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(timeout));
    if (!db.open()) {
        QString message = driverMessage(db.lastError());
        if (const QString hint = integratedLoginHint(connectionString, options); !hint.isEmpty())
            message += u'\n' + hint;
        throw Error(message);
    }
    startSession(db, lockTimeout);
}

} // namespace

void Connection::open()
{
    if (connected())
        return;
    if (m_backend == Backend::Embedded)
        openEmbedded(m_qtName, m_connectionString);
    else
        openSqlServer(m_qtName, m_connectionString, m_timeout, m_lockTimeout);
    ++m_openings;
}

void Connection::closeIfLinkLost()
{
    if (m_backend == Backend::SqlServer && connected() && odbcLinkLost(database()))
        close();
}

void Connection::close()
{
    if (QSqlDatabase::contains(m_qtName))
        QSqlDatabase::database(m_qtName, false).close();
}

namespace {

void traceTransaction(TraceEntry::Kind kind, bool ok, const QString &error)
{
    if (!tracing())
        return;
    TraceEntry entry{kind, {}, {}, ok, error};
    trace(entry);
}

} // namespace

void Connection::beginTrans()
{
    if (!connected()) {
        try {
            open();
        } catch (const Error &e) {
            traceTransaction(TraceEntry::Begin, false, e.message());
            throw;
        }
    }
    QSqlDatabase db = database();
    bool ok = false;
    QString error;
    if (m_backend == Backend::Embedded) {
        // Qt's driver begins deferred; its commit and rollback need nothing of its own begin.
        QSqlQuery begin(db);
        ok = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
        if (!ok)
            error = driverMessage(begin.lastError());
    } else {
        ok = db.transaction();
        if (!ok)
            error = driverMessage(db.lastError());
    }
    traceTransaction(TraceEntry::Begin, ok, error);
    if (!ok) {
        closeIfLinkLost();
        throw Error(error);
    }
}

namespace {

// Run outside a transaction: they apply to the transactions that follow.
void setSession(const QSqlDatabase &db, const QString &statements)
{
    QSqlQuery set(db);
    set.setForwardOnly(true);
    if (!set.exec(statements))
        throw Error(driverMessage(set.lastError()));
}

// sys.databases shows every login its own database.
bool snapshotAllowed(const QSqlDatabase &db)
{
    QSqlQuery state(db);
    state.setForwardOnly(true);
    if (!state.exec(QStringLiteral("SELECT snapshot_isolation_state FROM sys.databases WHERE "
                                   "database_id = DB_ID()")))
        throw Error(driverMessage(state.lastError()));
    return state.next() && state.value(0).toInt() == 1;
}

} // namespace

bool Connection::beginReadOnlyTrans()
{
    if (m_backend == Backend::SqlServer) {
        open();
        // Under READ COMMITTED a scan sees the ERP's commits as they land, and can miss or
        // read twice a row whose key moves meanwhile.
        const bool snapshot = snapshotAllowed(database());
        setSession(
            database(),
            QStringLiteral("SET DEADLOCK_PRIORITY LOW; SET TRANSACTION ISOLATION LEVEL %1")
                .arg(snapshot ? QLatin1String("SNAPSHOT") : QLatin1String("READ COMMITTED")));
        beginTrans();
        return snapshot;
    }
    open();
    QSqlQuery begin(database());
    const bool ok =
        begin.exec(QStringLiteral("PRAGMA query_only = 1")) && begin.exec(QStringLiteral("BEGIN"));
    const QString error = ok ? QString() : driverMessage(begin.lastError());
    traceTransaction(TraceEntry::Begin, ok, error);
    if (!ok) {
        endReadOnlyTrans();
        throw Error(error);
    }
    return true;
}

void Connection::endReadOnlyTrans()
{
    rollbackTrans();
    if (!connected())
        return;
    QSqlQuery(database())
        .exec(m_backend == Backend::Embedded
                  ? QStringLiteral("PRAGMA query_only = 0")
                  : QStringLiteral("SET DEADLOCK_PRIORITY NORMAL; SET "
                                   "TRANSACTION ISOLATION LEVEL READ COMMITTED"));
}

void Connection::commitTrans()
{
    QSqlDatabase db = database();
    QString error;
    bool ok = connected();
    if (!ok)
        error = QStringLiteral("The connection is closed");
    else if (m_backend == Backend::SqlServer)
        ok = odbcCommit(db, &error); // Qt's driver takes a commit with a message for a failure
    else if (!(ok = db.commit()))
        error = driverMessage(db.lastError());
    traceTransaction(TraceEntry::Commit, ok, error);
    if (!ok) {
        // Qt's ODBC driver leaves autocommit as it was when the commit fails: the next
        // begin would then change nothing. A new session starts from a known state.
        close();
        throw Error(error);
    }
}

void Connection::rollbackTrans()
{
    QSqlDatabase db = database();
    const bool ok = connected() && db.rollback();
    traceTransaction(TraceEntry::Rollback, ok, ok ? QString() : driverMessage(db.lastError()));
    // The server may have ended the transaction itself (a conversion error, a deadlock):
    // closing discards whatever is left of it and the transaction mode the driver kept.
    if (!ok)
        close();
}

} // namespace dm
