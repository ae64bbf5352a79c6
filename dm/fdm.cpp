#include "dm/fdm.h"

#include "dm/settings.h"

namespace dm {

TFDM *FDM = nullptr;

TFDM::TFDM()
    : PUB_DB(configuredBackend(), 90), adoQryGen(&PUB_DB), PUB_DS(configuredBackend(), 60),
      adoQLogin(&PUB_DS), dsQryGen(&PUB_DS)
{
    PUB_DB.setLoginPrompt(false);
    PUB_DS.setLoginPrompt(false);
    PUB_DS.setConnectionString(dsConnectionString());
}

// Members are destroyed in reverse order: the queries before their connections.
TFDM::~TFDM() = default;

QString TFDM::dsConnectionString()
{
    // The login is named, its password is not stored: nothing opens this connection.
    return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;"
                          "Initial Catalog=QVTSYS;Data Source=") +
           configuredDataSource();
}

QString companyConnectionString(const QString &dataSource)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                          "Info=False;User ID=sa;Initial Catalog=QVT;Data Source=") +
           dataSource;
}

void OpenCompanyConnection(const QString &dataSource)
{
    if (!FDM)
        throw Error(QStringLiteral("The data module does not exist"));
    // A wrong site configuration is reported where the connection would take its settings.
    if (!loadError().isEmpty())
        throw Error(loadError());
    FDM->PUB_DB.setLoginPrompt(false);
    if (FDM->PUB_DB.connected())
        FDM->PUB_DB.close();
    FDM->PUB_DB.setBackend(configuredBackend());
    FDM->PUB_DB.setLockTimeout(configuredLockTimeout());
    FDM->PUB_DB.setQueryTimeout(configuredQueryTimeout());
    FDM->PUB_DB.setConnectionString(companyConnectionString(dataSource));
}

} // namespace dm
