#pragma once

#include "dm/connection.h"
#include "dm/query.h"

namespace dm {

// The data module: the company connection and the components that sit beside it.
class TFDM
{
public:
    TFDM();
    ~TFDM();

    Connection PUB_DB; // the company database; every statement of the system
    Query adoQryGen;   // on PUB_DB; unused
    Connection PUB_DS; // a second catalog; never opened
    Query adoQLogin;   // on PUB_DS; unused
    Query dsQryGen;    // on PUB_DS; unused

    // Fixed connection string of PUB_DS; it holds no password.
    static QString dsConnectionString();
};

extern TFDM *FDM;

// "Provider=SQLOLEDB.1;...;Data Source=" followed by the configured data source.
QString companyConnectionString(const QString &dataSource = configuredDataSource());

// Start-up step: login prompt off, disconnect if connected, set the connection string.
void OpenCompanyConnection(const QString &dataSource = configuredDataSource());

} // namespace dm
