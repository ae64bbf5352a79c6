#include "batch/startup.h"

#include "batch/batch_run.h"
#include "calendar/default_period.h"
#include "dm/fdm.h"
#include "dm/shared_values.h"

void setCompanyCode()
{
    CompanyCode = QStringLiteral("C_QVT");
}

std::unique_ptr<dm::RunLock> runStartUp(const StartUp &steps, Boxes &boxes,
                                        QString *databaseMessage)
{
    setCompanyCode();
    dm::OpenCompanyConnection(steps.dataSource.value_or(dm::configuredDataSource()));
    InitToday(steps.today);
    if (steps.proposed)
        steps.proposed();
    if (!steps.emptySummaryTables)
        return nullptr;
    // Not while another run is going: its finished batches would be lost under it.
    auto lock = std::make_unique<dm::RunLock>(dm::FDM->PUB_DB, CompanyCode);
    lock->acquire();
    if (!ClearSummaryTables(boxes, databaseMessage))
        return nullptr;
    return lock;
}
