#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/trace.h"
#include "testdb.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using dm::Query;
using dm::Variant;

namespace {

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const dm::Error &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

class QueryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("insert into FCMSDT values ('2026', '49', '20261206', '20261212');"
                               "insert into FCMSDT values ('2026', '50', '20261213', '20261219');"
                               "insert into FCMSFL values ('40', 'A1', '品名一');"
                               "insert into FCMSFL values ('41', NULL, 'no code');"));
    }

    TestDatabase db;
    Query query{&dm::FDM->PUB_DB};
};

} // namespace

TEST_F(QueryTest, MarkersBecomeBoundParameters)
{
    query.setSQL(
        QStringLiteral("select DT002 from FCMSDT where DT001 = :Year and (DT002 = :Week)"));
    ASSERT_EQ(query.paramCount(), 2);
    EXPECT_EQ(query.param(0).name(), QStringLiteral("Year"));
    EXPECT_EQ(query.param(1).name(), QStringLiteral("Week"));
    query.paramByName(QStringLiteral("YEAR")).setValue(QStringLiteral("2026"));
    query.paramByName(QStringLiteral("week")).setValue(QStringLiteral("50"));
    query.setPrepared(true);
    query.open();
    EXPECT_EQ(query.recordCount(), 1);
    EXPECT_EQ(query.fieldByName(QStringLiteral("dt002")).asInteger(), 50);
}

TEST_F(QueryTest, BoundValuesAreNeverSplicedIntoTheText)
{
    dm::TraceEntry last;
    dm::setTraceSink([&](const dm::TraceEntry &e) { last = e; });
    const QString hostile = QStringLiteral("x'); delete from FCMSFL; --");
    query.setSQL(
        QStringLiteral("insert into FADMXY values ('C_QVT', 'W', 'W101', :XY002, :XY003)"));
    query.paramByName(QStringLiteral("XY002")).setValue(hostile);
    query.paramByName(QStringLiteral("XY003")).setValue(qint32(7));
    query.execSQL();
    dm::setTraceSink({});

    EXPECT_EQ(query.rowsAffected(), 1);
    EXPECT_EQ(db.value(QStringLiteral("select count(*) from FCMSFL")), QStringLiteral("2"));
    // An integer bound into a text column is stored as its decimal text.
    EXPECT_EQ(db.rows(QStringLiteral("select XY002, XY003, typeof(XY003) from FADMXY")),
              (QVector<QStringList>{{hostile, QStringLiteral("7"), QStringLiteral("text")}}));
    EXPECT_EQ(last.kind, dm::TraceEntry::Execute);
    EXPECT_EQ(last.sql, query.sql());
    EXPECT_EQ(last.values, (QVector<Variant>{Variant(hostile), Variant(qint32(7))}));
}

TEST_F(QueryTest, UnicodeTextRoundTrips)
{
    query.setSQL(QStringLiteral("select FL002 from FCMSFL where FL002 = :name"));
    query.paramByName(QStringLiteral("name")).setValue(QStringLiteral("品名一"));
    query.open();
    ASSERT_EQ(query.recordCount(), 1);
    EXPECT_EQ(query.fieldByName(QStringLiteral("FL002")).asString(), QStringLiteral("品名一"));
}

TEST_F(QueryTest, NewTextCarriesValuesByNameAndDropsTheRest)
{
    query.setSQL(QStringLiteral("insert into FADMXY values ('C', 'W', 'W101', :XY002, :XY003)"));
    query.paramByName(QStringLiteral("XY002")).setValue(QStringLiteral("2026"));
    query.paramByName(QStringLiteral("XY003")).setValue(QStringLiteral("49"));

    query.setSQL(QStringLiteral("insert into FADMXY values ('C', 'M', 'M101', :xy002, :Month)"));
    ASSERT_EQ(query.paramCount(), 2);
    EXPECT_EQ(query.param(0).name(), QStringLiteral("xy002"));
    EXPECT_EQ(query.param(0).value(), Variant(QStringLiteral("2026")));
    EXPECT_TRUE(query.param(1).value().isNull());
    EXPECT_EQ(errorOf([&] { query.paramByName(QStringLiteral("XY003")); }),
              QStringLiteral("Parameter 'XY003' not found"));

    // The same text again changes nothing: values stay bound.
    query.paramByName(QStringLiteral("Month")).setValue(qint32(12));
    query.setSQL(query.sql());
    EXPECT_EQ(query.paramByName(QStringLiteral("MONTH")).value(), Variant(qint32(12)));
    query.execSQL();
    EXPECT_EQ(db.rows(QStringLiteral("select XY002, XY003 from FADMXY")),
              (QVector<QStringList>{{QStringLiteral("2026"), QStringLiteral("12")}}));
}

TEST_F(QueryTest, UnboundParameterIsNull)
{
    query.setSQL(QStringLiteral("insert into FADMXY values ('C', 'W', 'W101', '2026', :XY003)"));
    query.execSQL();
    EXPECT_EQ(db.value(QStringLiteral("select XY003 is null from FADMXY")), QStringLiteral("1"));
}

TEST_F(QueryTest, ReadsEveryRowWithAnExactCount)
{
    query.setSQL(QStringLiteral("select FL000, FL001 from FCMSFL order by FL000"));
    query.setPrepared(true);
    query.open();
    EXPECT_TRUE(query.active());
    EXPECT_EQ(query.recordCount(), 2);
    QStringList seen;
    while (!query.eof()) {
        seen << query.fieldByName(QStringLiteral("FL000")).asString();
        query.next();
    }
    EXPECT_EQ(seen, (QStringList{"40", "41"}));
    query.next(); // past the end stays there
    EXPECT_TRUE(query.eof());
    EXPECT_TRUE(query.fieldByName(QStringLiteral("FL000")).isNull());
    query.close();
    EXPECT_FALSE(query.active());
}

TEST_F(QueryTest, NullFieldAndEmptyResult)
{
    query.setSQL(QStringLiteral("select FL001 from FCMSFL where FL000 = '41'"));
    query.open();
    EXPECT_EQ(errorOf([&] { query.fieldByName(QStringLiteral("FL001")).asString(); }),
              QStringLiteral("Invalid variant type conversion"));

    query.setSQL(QStringLiteral("select DT002 from FCMSDT WHERE DT003 <='20300101' AND DT004 "
                                ">='20300101'"));
    query.setPrepared(true);
    query.open();
    EXPECT_EQ(query.recordCount(), 0);
    EXPECT_TRUE(query.eof());
    EXPECT_TRUE(query.fieldByName(QStringLiteral("DT002")).isNull());
    EXPECT_EQ(errorOf([&] { query.fieldByName(QStringLiteral("DT002")).asInteger(); }),
              QStringLiteral("Invalid variant type conversion"));
    EXPECT_EQ(errorOf([&] { query.fieldByName(QStringLiteral("DT009")); }),
              QStringLiteral("Field 'DT009' not found"));
}

TEST_F(QueryTest, FailedStatementLeavesTheQueryClosedWithTextAndParameters)
{
    query.setSQL(QStringLiteral("select FL001 from FCMSFL"));
    query.open();
    ASSERT_TRUE(query.active());

    const QString text = QStringLiteral("insert into NOSUCH values (:XY002)");
    query.setSQL(text);
    query.paramByName(QStringLiteral("XY002")).setValue(QStringLiteral("2026"));
    const QString message = errorOf([&] { query.execSQL(); });
    EXPECT_TRUE(message.contains(QStringLiteral("NOSUCH"))) << message.toStdString();
    EXPECT_FALSE(query.active());
    EXPECT_EQ(query.sql(), text);
    ASSERT_EQ(query.paramCount(), 1);
    EXPECT_EQ(query.param(0).value(), Variant(QStringLiteral("2026")));

    // Opening a statement that fails leaves no result behind either.
    query.setSQL(QStringLiteral("select nosuchcolumn from FCMSFL"));
    EXPECT_NE(errorOf([&] { query.open(); }), QStringLiteral("<no error>"));
    EXPECT_FALSE(query.active());
    EXPECT_EQ(errorOf([&] { query.fieldByName(QStringLiteral("FL001")); }),
              QStringLiteral("Field 'FL001' not found"));
    // The connection stays usable.
    query.setSQL(QStringLiteral("select count(*) as n from FCMSFL"));
    query.open();
    EXPECT_EQ(query.fieldByName(QStringLiteral("n")).asInteger(), 2);
}

TEST_F(QueryTest, OpenOfAStatementWithoutRowsFails)
{
    query.setSQL(QStringLiteral("delete from FCMSFL where FL000 = '99'"));
    EXPECT_EQ(errorOf([&] { query.open(); }),
              QStringLiteral("The statement returns no result set"));
    EXPECT_FALSE(query.active());
}

TEST_F(QueryTest, SettingTextOpensAClosedConnectionSilently)
{
    dm::Connection &connection = dm::FDM->PUB_DB;
    EXPECT_FALSE(connection.connected());
    Query other(&connection);
    other.setSQL(QString());
    EXPECT_FALSE(connection.connected()) << "an empty text asks nothing";
    query.setSQL(QStringLiteral("select DT002 from FCMSDT"));
    EXPECT_TRUE(connection.connected());

    // A failure there is ignored; running the statement reports it.
    connection.close();
    const QString missing = db.path() + QStringLiteral(".missing");
    connection.setConnectionString(dm::companyConnectionString(missing));
    EXPECT_NO_THROW(other.setSQL(QStringLiteral("select 1 as one")));
    EXPECT_FALSE(connection.connected());
    EXPECT_EQ(errorOf([&] { other.open(); }),
              QStringLiteral("The database file '%1' does not exist").arg(missing));
}

TEST_F(QueryTest, OpenCompanyConnectionClosesAndTheNextStatementReopens)
{
    dm::Connection &connection = dm::FDM->PUB_DB;
    query.setSQL(QStringLiteral("select DT002 from FCMSDT"));
    query.open();
    ASSERT_TRUE(connection.connected());
    EXPECT_FALSE(dm::FDM->PUB_DS.connected());

    connection.setLoginPrompt(true);
    dm::OpenCompanyConnection();
    EXPECT_FALSE(connection.connected());
    EXPECT_FALSE(connection.loginPrompt());
    EXPECT_EQ(connection.connectionString(), dm::companyConnectionString());
    if (dm::configuredBackend() != dm::Backend::Embedded)
        GTEST_SKIP() << "the configured data source is a server";

    // The compiled-in data source is relative: the file beside the test executable.
    const QString target = dm::embeddedDatabasePath(dm::configuredDataSource());
    if (QFile::exists(target))
        GTEST_SKIP() << "will not overwrite " << target.toStdString();
    ASSERT_TRUE(QFile::copy(db.path(), target));
    struct Remove
    {
        QString path;
        ~Remove() { QFile::remove(path); }
    } remove{target};

    Query next(&connection);
    next.setSQL(QStringLiteral("select count(*) as n from FCMSDT"));
    next.open();
    EXPECT_TRUE(connection.connected());
    EXPECT_EQ(next.fieldByName(QStringLiteral("n")).asInteger(), 2);
    next.close();
    connection.close();
}
