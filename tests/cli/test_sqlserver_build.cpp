// Built as for a SQL Server host: erp01 on port 14330 through FreeTDS.
#include "dm/connection.h"
#include "dm/fdm.h"

#include <gtest/gtest.h>

TEST(SqlServerBuild, ConnectsToTheConfiguredServerWithIntegratedSecurity)
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
