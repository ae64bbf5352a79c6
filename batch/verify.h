#pragma once

#include "batch/catalogue.h"
#include "batch/period_source.h"
#include "dm/connection.h"
#include "dm/variant.h"
#include "sqlcompat/sqlcompat.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace dm {
class RunLock;
}

// Verify: whether the totals in FADMXX still match their sources, batch by batch.
namespace verify {

// One summary row, or one group of a recomputation. A null group key is a group of its own,
// as GROUP BY makes it; a null total is what SUM gives over nulls.
struct GroupTotal
{
    std::optional<QString> group;
    std::optional<sqlcompat::Decimal> total;
};

// Moved: differs only as rows posted since the run can make it, in a month or year that was
// still running then; not drift.
enum class Status { Ok, Differs, Moved, NotDone, Failed };

// The group whose totals differ the most. A null total or group stays null; a null against a
// number has no size.
struct LargestDifference
{
    std::optional<QString> group;
    std::optional<sqlcompat::Decimal> stored;
    std::optional<sqlcompat::Decimal> recomputed;
    std::optional<sqlcompat::Decimal> size;
};

struct BatchVerdict
{
    QString code;
    Status status = Status::NotDone;
    int groups = 0;          // groups recomputed
    QStringList differences; // what differs, in the order of the checks; empty unless it does
    QString failure;         // the database's message, for Failed
    // Every difference is one that new source rows make: totals changed, groups appeared.
    bool onlyGrowth = false;
    QVector<std::optional<QString>> changedGroups; // their groups, when onlyGrowth
    std::optional<LargestDifference> largest;
};

// A total as the database hands it back: a decimal text (SQL Server's decimal, read exactly),
// a whole number, or a double (the embedded database's, which stands for the decimal of at
// most 15 digits nearest to it). Throws dm::Error for anything else.
std::optional<sqlcompat::Decimal> totalOf(const dm::Variant &value);

// The server's grouping: letter case and trailing blanks do not make another group.
QString groupKey(const std::optional<QString> &group);

// A total as the lines show it: exact, without the zeros that only the column's scale adds.
QString totalText(const sqlcompat::Decimal &total);

// Compares what a batch would write now with what FADMXX and FADMXY hold for it. Groups are
// matched as the server groups them: letter case and trailing blanks aside. Totals must be
// equal as decimals.
BatchVerdict compareBatch(const QString &code, int completionRows,
                          const QVector<GroupTotal> &recomputed, const QVector<GroupTotal> &stored);

// Reads the batch's completion rows and summary rows for the period, runs the batch's own
// SELECT (the database aggregates; only totals come back), and compares; a month or year still
// running at the run may come back Moved. Throws dm::Error.
BatchVerdict verifyBatch(dm::Connection &connection, const BatchDef &batch,
                         const PeriodSource &period);

// Every batch of the catalogue, in the order of the run, inside one transaction that writes
// nothing and is rolled back: under SQL Server's snapshot isolation where the database allows
// it, else a batch that differs is read a second time before it is called a drift. With a run lock,
// keeps it before each batch (a session's lock goes with a connection the server closed). A batch
// whose statements fail is Failed and the others go on; the lock lost to another run throws
// dm::RunBusy, and a transaction that cannot begin throws dm::Error.
QVector<BatchVerdict> verifyBatches(dm::Connection &connection, const PeriodSource &period,
                                    dm::RunLock *lock = nullptr);

} // namespace verify
