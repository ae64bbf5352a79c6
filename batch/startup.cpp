#include "batch/startup.h"

#include "batch/batch_run.h"
#include "calendar/default_period.h"
#include "dm/fdm.h"
#include "dm/shared_values.h"

namespace {

// Shows nothing: the box of a failed emptying comes once the lock is freed.
class Silent : public Boxes
{
public:
    void error(const QString &) override {}
    void batchError() override {}
    void code(const QString &) override {}
};

} // namespace

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
    auto lock = std::make_unique<dm::RunLock>(dm::FDM->PUB_DB, CompanyCode, steps.waitSeconds);
    lock->acquire();
    Silent silent;
    if (ClearSummaryTables(silent, databaseMessage))
        return lock;
    // The box waits for the operator with the lock freed.
    lock.reset();
    BatchError(boxes);
    return nullptr;
}
