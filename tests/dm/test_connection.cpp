#include "dm/connection.h"
#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/trace.h"
#include "testdb.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

using dm::Backend;
using dm::Connection;

namespace {

QString openError(Connection &connection)
{
    try {
        connection.open();
    } catch (const dm::Error &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

// Collects what reaches the database while it lives.
struct TraceLog
{
    QVector<dm::TraceEntry> entries;
    TraceLog()
    {
        dm::setTraceSink([this](const dm::TraceEntry &e) { entries.append(e); });
    }
    ~TraceLog() { dm::setTraceSink({}); }
};

} // namespace

TEST(ConnectionString, TranslatesToOdbcKeywords)
{
    EXPECT_EQ(dm::odbcConnectString(dm::companyConnectionString(QStringLiteral("erp01")),
                                    QStringLiteral("FreeTDS")),
              QStringLiteral("DRIVER={FreeTDS};SERVER=erp01;DATABASE=QVT;Trusted_Connection=Yes"));
    EXPECT_EQ(dm::odbcConnectString(dm::companyConnectionString(QStringLiteral("10.0.0.5,1433")),
                                    QStringLiteral("ODBC Driver 18 for SQL Server")),
              QStringLiteral("DRIVER={ODBC Driver 18 for SQL Server};SERVER=10.0.0.5,1433;"
                             "DATABASE=QVT;Trusted_Connection=Yes"));
    EXPECT_EQ(dm::odbcConnectString(
                  dm::companyConnectionString(QStringLiteral("tcp:db.example.com, 2000")),
                  QStringLiteral("FreeTDS")),
              QStringLiteral("DRIVER={FreeTDS};SERVER=db.example.com;PORT=2000;DATABASE=QVT;"
                             "Trusted_Connection=Yes"));
    EXPECT_EQ(
        dm::odbcConnectString(dm::companyConnectionString(QStringLiteral("(local)")),
                              QStringLiteral("FreeTDS")),
        QStringLiteral("DRIVER={FreeTDS};SERVER=localhost;DATABASE=QVT;Trusted_Connection=Yes"));
    EXPECT_EQ(
        dm::odbcConnectString(dm::companyConnectionString(QStringLiteral("SRV\\ERP")),
                              QStringLiteral("FreeTDS")),
        QStringLiteral("DRIVER={FreeTDS};SERVER=SRV\\ERP;DATABASE=QVT;Trusted_Connection=Yes"));
}

TEST(ConnectionString, SqlLoginKeywords)
{
    // The second catalog's string names the login but stores no password.
    const QString ds = dm::TFDM::dsConnectionString();
    EXPECT_FALSE(ds.contains(QStringLiteral("Password"), Qt::CaseInsensitive));
    EXPECT_TRUE(ds.contains(QStringLiteral("User ID=sa;")));
    EXPECT_TRUE(ds.contains(QStringLiteral("Initial Catalog=QVTSYS;")));
    EXPECT_EQ(dm::odbcConnectString(
                  QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;"
                                 "Initial Catalog=QVTSYS;Data Source=h"),
                  QStringLiteral("FreeTDS")),
              QStringLiteral("DRIVER={FreeTDS};SERVER=h;DATABASE=QVTSYS;UID=sa"));
    // Keys without regard to case; quoted values and values needing braces.
    EXPECT_EQ(dm::odbcConnectString(QStringLiteral("data source = h ; initial catalog=Q;user id=u;"
                                                   "password=\"p;w}d\""),
                                    QStringLiteral("FreeTDS")),
              QStringLiteral("DRIVER={FreeTDS};SERVER=h;DATABASE=Q;UID=u;PWD={p;w}}d}"));
    EXPECT_EQ(dm::odbcConnectString(QString(), QStringLiteral("FreeTDS")),
              QStringLiteral("DRIVER={FreeTDS};SERVER="));
}

TEST(ConnectionString, CompanyStringAndDataSource)
{
    EXPECT_EQ(dm::companyConnectionString(QStringLiteral("erp01")),
              QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                             "Info=False;User ID=sa;Initial Catalog=QVT;Data Source=erp01"));
    EXPECT_EQ(dm::companyConnectionString(),
              dm::companyConnectionString(dm::configuredDataSource()));
    EXPECT_EQ(dm::dataSourceOf(dm::companyConnectionString(QStringLiteral("/tmp/a b.sqlite"))),
              QStringLiteral("/tmp/a b.sqlite"));
    EXPECT_EQ(dm::dataSourceOf(QStringLiteral("Provider=x;Data Source=")), QString());
    EXPECT_EQ(dm::dataSourceOf(QStringLiteral("Provider=x")), QString());
}

TEST(EmbeddedConnection, MissingFileIsAnErrorNamingItAndIsNotCreated)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QVT.sqlite"));
    Connection connection(Backend::Embedded, 90);
    connection.setConnectionString(dm::companyConnectionString(path));
    EXPECT_EQ(openError(connection),
              QStringLiteral("The database file '%1' does not exist").arg(path));
    EXPECT_FALSE(connection.connected());
    EXPECT_FALSE(QFile::exists(path));

    // Through a query too: setting the text tries silently, running it reports.
    dm::Query query(&connection);
    query.setSQL(QStringLiteral("select 1 as one"));
    EXPECT_FALSE(connection.connected());
    EXPECT_THROW(query.open(), dm::Error);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST(EmbeddedConnection, NoDataSourceAndNotADatabase)
{
    Connection connection(Backend::Embedded, 90);
    EXPECT_EQ(openError(connection),
              QStringLiteral("The connection string names no database file"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes.sqlite"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    connection.setConnectionString(dm::companyConnectionString(path));
    const QString message = openError(connection);
    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot open the database file '%1'").arg(path)))
        << message.toStdString();
    EXPECT_FALSE(connection.connected());

    connection.setConnectionString(dm::companyConnectionString(dir.path()));
    EXPECT_EQ(openError(connection), QStringLiteral("'%1' is not a database file").arg(dir.path()));
}

TEST(EmbeddedConnection, RelativeDataSourceLiesBesideTheExecutable)
{
    const QString name = QStringLiteral("dm-relative-%1.sqlite")
                             .arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
    const QString besideExe = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    EXPECT_EQ(dm::embeddedDatabasePath(name), besideExe);
    EXPECT_EQ(dm::embeddedDatabasePath(QStringLiteral("/srv/db/../QVT.sqlite")),
              QStringLiteral("/srv/QVT.sqlite"));

    TestDatabase db;
    db.exec(QStringLiteral("insert into FCMSFL values ('40', 'A1', 'first')"));
    ASSERT_TRUE(QFile::copy(db.path(), besideExe));
    struct Remove
    {
        QString path;
        ~Remove() { QFile::remove(path); }
    } remove{besideExe};

    Connection connection(Backend::Embedded, 90);
    connection.setConnectionString(dm::companyConnectionString(name));
    connection.open();
    dm::Query query(&connection);
    query.setSQL(QStringLiteral("select FL001 from FCMSFL"));
    query.open();
    EXPECT_EQ(query.fieldByName(QStringLiteral("FL001")).asString(), QStringLiteral("A1"));
}

TEST(EmbeddedConnection, TransactionsCommitAndRollBack)
{
    TestDatabase db;
    TraceLog log;
    Connection &connection = dm::FDM->PUB_DB;
    dm::Query query(&connection);
    query.setSQL(QStringLiteral("insert into FADMXY values ('C_QVT', 'W', :code, '2026', '49')"));

    connection.beginTrans();
    query.paramByName(QStringLiteral("code")).setValue(QStringLiteral("W101"));
    query.execSQL();
    connection.commitTrans();

    connection.beginTrans();
    query.paramByName(QStringLiteral("code")).setValue(QStringLiteral("W102"));
    query.execSQL();
    EXPECT_EQ(query.rowsAffected(), 1);
    connection.rollbackTrans();

    EXPECT_EQ(db.rows(QStringLiteral("select XY001 from FADMXY")),
              QVector<QStringList>{{QStringLiteral("W101")}});
    QVector<dm::TraceEntry::Kind> kinds;
    for (const auto &e : log.entries) {
        kinds.append(e.kind);
        EXPECT_TRUE(e.ok) << e.error.toStdString();
    }
    EXPECT_EQ(kinds,
              (QVector<dm::TraceEntry::Kind>{dm::TraceEntry::Begin, dm::TraceEntry::Execute,
                                             dm::TraceEntry::Commit, dm::TraceEntry::Begin,
                                             dm::TraceEntry::Execute, dm::TraceEntry::Rollback}));

    // Committing without a transaction is the driver's error, and it is reported.
    EXPECT_THROW(connection.commitTrans(), dm::Error);
    EXPECT_FALSE(log.entries.last().ok);
}

// Another run on the same file: it can write while this connection has read the file (and
// mapped it), and this connection then reads what was written, not the pages it had.
TEST(EmbeddedConnection, AnotherConnectionsWritesAreSeen)
{
    TestDatabase db;
    db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n "
                           "where i < 5000) insert into COPTC (TC001, TC002, TC031) "
                           "select '3221', printf('%011d', i), 1 from n"));
    dm::Query query(&dm::FDM->PUB_DB);
    query.setSQL(QStringLiteral("select count(*) as n, sum(TC031) as q from COPTC"));
    query.open();
    EXPECT_EQ(query.fieldByName(QStringLiteral("q")).asString(), QStringLiteral("5000"));
    query.close();

    db.exec(QStringLiteral("update COPTC set TC031 = 2 where TC002 = '00000004321'"));
    db.exec(QStringLiteral("insert into COPTC (TC001, TC002, TC031) values ('3221', 'X', 7)"));
    query.open();
    EXPECT_EQ(query.fieldByName(QStringLiteral("n")).asString(), QStringLiteral("5001"));
    EXPECT_EQ(query.fieldByName(QStringLiteral("q")).asString(), QStringLiteral("5008"));
}

// A real attempt through unixODBC and FreeTDS to a port where nothing listens.
TEST(SqlServerConnection, RefusedConnectionFailsWithTheDriversMessage)
{
    Connection connection(Backend::SqlServer, 5);
    connection.setConnectionString(dm::companyConnectionString(QStringLiteral("127.0.0.1,1")));
    QElapsedTimer timer;
    timer.start();
    const QString message = openError(connection);
    EXPECT_LT(timer.elapsed(), 30000);
    EXPECT_TRUE(message.contains(QStringLiteral("[FreeTDS]"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("Unable to connect"))) << message.toStdString();
    EXPECT_FALSE(connection.connected());

    // The next statement tries again and reports the same failure.
    dm::Query query(&connection);
    query.setSQL(QStringLiteral("select 1"));
    try {
        query.open();
        ADD_FAILURE() << "opened a closed port";
    } catch (const dm::Error &e) {
        EXPECT_EQ(e.message(), message);
    }
    EXPECT_FALSE(query.active());
}
