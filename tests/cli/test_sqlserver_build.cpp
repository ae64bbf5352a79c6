// Configured for a SQL Server host: erp01 on port 14330 through FreeTDS.
#include "dm/connection.h"
#include "dm/fdm.h"
#include "dm/settings.h"

#include <gtest/gtest.h>

namespace {

class SqlServerBuild : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dm::Settings s;
        s.set(QStringLiteral("backend"), QStringLiteral("sqlserver"), QStringLiteral("test"));
        s.set(QStringLiteral("server"), QStringLiteral("erp01,14330"), QStringLiteral("test"));
        s.set(QStringLiteral("odbc_driver"), QStringLiteral("FreeTDS"), QStringLiteral("test"));
        s.set(QStringLiteral("odbc_options"), QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8"),
              QStringLiteral("test"));
        dm::useSettings(s);
    }
    void TearDown() override { dm::useSettings(dm::Settings()); }
};

} // namespace

TEST_F(SqlServerBuild, ConnectsToTheConfiguredServerWithIntegratedSecurity)
{
    EXPECT_EQ(dm::configuredBackend(), dm::Backend::SqlServer);
    EXPECT_EQ(dm::configuredDataSource(), QStringLiteral("erp01,14330"));
    EXPECT_EQ(dm::configuredOdbcDriver(), QStringLiteral("FreeTDS"));

    dm::FDM = new dm::TFDM;
    dm::OpenCompanyConnection();
    const QString companyString = dm::FDM->PUB_DB.connectionString();
    EXPECT_EQ(dm::FDM->PUB_DB.backend(), dm::Backend::SqlServer);
    EXPECT_FALSE(dm::FDM->PUB_DB.connected());
    delete dm::FDM;
    dm::FDM = nullptr;

    EXPECT_EQ(companyString,
              QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                             "Info=False;User ID=sa;Initial Catalog=QVT;Data Source=erp01,14330"));
    // What the ODBC driver manager receives: the user name beside integrated security is
    // dropped, the port goes on its own.
    EXPECT_EQ(dm::odbcConnectString(companyString, dm::configuredOdbcDriver()),
              QStringLiteral(
                  "DRIVER={FreeTDS};SERVER=erp01;PORT=14330;DATABASE=QVT;Trusted_Connection=Yes"));
}

// Given, the options come through unchanged and end the connection string, where the driver
// takes them.
TEST_F(SqlServerBuild, DriverOptionsFollowTheDriverAndEndTheConnectString)
{
    EXPECT_EQ(dm::configuredOdbcOptions(), QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8"));
    const QString options = QStringLiteral(";Encrypt=yes;ServerSPN={MSSQLSvc/erp01.corp:1433};");
    const QString company = dm::companyConnectionString(QStringLiteral("erp01,14330"));
    EXPECT_EQ(
        dm::odbcConnectString(company, QStringLiteral("ODBC Driver 18 for SQL Server"), options),
        QStringLiteral("DRIVER={ODBC Driver 18 for SQL Server};SERVER=erp01,14330;"
                       "DATABASE=QVT;Trusted_Connection=Yes;Encrypt=yes;"
                       "ServerSPN={MSSQLSvc/erp01.corp:1433}"));
    // The hint names the SPN the driver asks for: the one given, else host and port.
    EXPECT_TRUE(dm::integratedLoginHint(company).contains(QLatin1String("MSSQLSvc/erp01:14330")));
    EXPECT_TRUE(dm::integratedLoginHint(dm::companyConnectionString(QStringLiteral("erp01")))
                    .contains(QLatin1String("MSSQLSvc/erp01:1433.")));
    EXPECT_TRUE(dm::integratedLoginHint(company, options)
                    .contains(QLatin1String("MSSQLSvc/erp01.corp:1433")));
    EXPECT_TRUE(dm::integratedLoginHint(QStringLiteral("Data Source=erp01;User ID=u")).isEmpty());

    // FreeTDS reads freetds.conf for a SERVERNAME only, and refuses SERVER beside it.
    const QString section = QStringLiteral("TDS_Version=7.4;Servername=erp01.corp");
    EXPECT_EQ(dm::odbcConnectString(company, QStringLiteral("FreeTDS"), section),
              QStringLiteral("DRIVER={FreeTDS};PORT=14330;DATABASE=QVT;Trusted_Connection=Yes;"
                             "TDS_Version=7.4;Servername=erp01.corp"));
    EXPECT_TRUE(dm::integratedLoginHint(company, section).contains(QLatin1String("[erp01.corp]")));
    EXPECT_FALSE(dm::integratedLoginHint(company).contains(QLatin1String("certificate")));
}
