#include "batch/batch_run.h"

#include "batch/statements.h"
#include "dm/fdm.h"
#include "dm/shared_values.h"
#include "dm/text.h"

#include <QElapsedTimer>
#include <array>
#include <utility>

void BatchError(Boxes &boxes)
{
    boxes.batchError();
}

bool ClearSummaryTables(Boxes &boxes, QString *databaseMessage)
{
    dm::Connection &db = dm::FDM->PUB_DB;
    dm::Query query(&db);
    bool begun = false;
    try {
        db.beginTrans();
        begun = true;
        // Not under a batch of a run that lost its run lock unseen: its rows would go, and
        // its batch would be counted again.
        dm::lockBatch(db, CompanyCode);
        query.setSQL(QStringLiteral("Delete from FADMXX"));
        query.execSQL();
        query.setSQL(QStringLiteral("Delete from FADMXY"));
        query.execSQL();
        db.commitTrans();
    } catch (const dm::RunBusy &) {
        db.rollbackTrans();
        throw;
    } catch (const dm::Error &e) {
        if (begun)
            db.rollbackTrans();
        BatchError(boxes);
        if (databaseMessage)
            *databaseMessage = e.message();
        return false;
    }
    return true;
}

BatchRun::BatchRun(dm::Query &adoInSert, const PeriodSource &period, Boxes &boxes,
                   BatchListener *listener, dm::RunLock *runLock)
    : m_adoInSert(adoInSert), m_period(period), m_boxes(boxes), m_listener(listener),
      m_runLock(runLock)
{
}

bool BatchRun::Qry_Batch(const QString &code)
{
    dm::Query query(&dm::FDM->PUB_DB);
    query.setSQL(QLatin1String("Select XY001 FROM FADMXY Where COMPANY = '") + CompanyCode + u'\'' +
                 QLatin1String(" AND XY001 = '") + code + u'\'' +
                 QLatin1String(" AND XY002 = :XY002") + QLatin1String(" AND XY003 = :XY003"));
    query.setPrepared(true);
    const QString year = dm::trimText(m_period.yearText());
    const QChar kind = code.isEmpty() ? QChar() : code.at(0);
    if (kind == u'Y') {
        query.paramByName(QStringLiteral("XY002")).setValue(year);
        query.paramByName(QStringLiteral("XY003")).setValue(rocYearOf(year));
    } else if (kind == u'M') {
        query.paramByName(QStringLiteral("XY002")).setValue(year);
        query.paramByName(QStringLiteral("XY003")).setValue(qint32(m_period.month()));
    } else if (kind == u'W') {
        query.paramByName(QStringLiteral("XY002")).setValue(year);
        query.paramByName(QStringLiteral("XY003")).setValue(qint32(m_period.week()));
    } else if (kind == u'A') {
        query.paramByName(QStringLiteral("XY002")).setValue(QStringLiteral("0"));
        query.paramByName(QStringLiteral("XY003")).setValue(QStringLiteral("0"));
    }
    query.open();
    return query.recordCount() == 0;
}

void BatchRun::execute(const QString &sql, const QString &parameterName, qint32 value)
{
    m_adoInSert.setSQL(sql);
    if (!parameterName.isEmpty())
        m_adoInSert.paramByName(parameterName).setValue(value);
    m_adoInSert.execSQL();
}

// The completion rows' unique key stops a second row, e.g. from a copy of the program that
// takes no lock: the database's own words for that are obscure.
void BatchRun::executeCompletion(const QString &code, const BatchStatements &s)
{
    try {
        execute(s.completion, s.parameterName, s.period);
    } catch (const dm::Error &e) {
        const QString message = e.message();
        if (!message.contains(QLatin1String("UNIQUE"), Qt::CaseInsensitive) &&
            !message.contains(QLatin1String("duplicate key"), Qt::CaseInsensitive))
            throw;
        throw dm::Error(QStringLiteral("%1 was done meanwhile by another run, which wrote its "
                                       "completion row first; nothing of this run's %1 is "
                                       "kept (%2)")
                            .arg(code, message));
    }
}

void BatchRun::RunBatch(const BatchDef &batch)
{
    QElapsedTimer timer;
    timer.start();
    if (!batch.codeBoxAfterSummary)
        m_boxes.code(batch.code);
    dm::Connection &db = *m_adoInSert.connection();
    bool begun = false;
    int rowsInserted = 0;
    try {
        const BatchStatements s = statementsFor(batch, m_period);
        // Summary rows without their completion row would be inserted again at the next
        // press: both statements take effect together.
        db.beginTrans();
        begun = true;
        // Checked again where no other run can insert the same rows before this commit.
        dm::lockBatch(db, CompanyCode);
        if (!Qry_Batch(batch.code)) {
            db.rollbackTrans();
            if (m_listener)
                m_listener->batchSkipped(batch.code);
            return;
        }
        execute(s.summary, s.parameterName, s.period);
        rowsInserted = m_adoInSert.rowsAffected();
        if (batch.codeBoxAfterSummary)
            m_boxes.code(batch.code);
        executeCompletion(batch.code, s);
        db.commitTrans();
    } catch (const dm::RunBusy &) {
        db.rollbackTrans();
        throw;
    } catch (const dm::Error &e) {
        if (begun)
            db.rollbackTrans();
        BatchError(m_boxes);
        if (m_listener)
            m_listener->batchFailed(batch.code, e.message());
        return;
    }
    if (m_listener)
        m_listener->batchDone(batch.code, rowsInserted, timer.elapsed());
}

void BatchRun::W101()
{
    RunBatch(batchByCode(QStringLiteral("W101")));
}
void BatchRun::W102()
{
    RunBatch(batchByCode(QStringLiteral("W102")));
}
void BatchRun::M101()
{
    RunBatch(batchByCode(QStringLiteral("M101")));
}
void BatchRun::M102()
{
    RunBatch(batchByCode(QStringLiteral("M102")));
}
void BatchRun::Y101()
{
    RunBatch(batchByCode(QStringLiteral("Y101")));
}
void BatchRun::Y102()
{
    RunBatch(batchByCode(QStringLiteral("Y102")));
}
void BatchRun::W103()
{
    RunBatch(batchByCode(QStringLiteral("W103")));
}
void BatchRun::M103()
{
    RunBatch(batchByCode(QStringLiteral("M103")));
}
void BatchRun::Y103()
{
    RunBatch(batchByCode(QStringLiteral("Y103")));
}
void BatchRun::W301()
{
    RunBatch(batchByCode(QStringLiteral("W301")));
}
void BatchRun::M301()
{
    RunBatch(batchByCode(QStringLiteral("M301")));
}
void BatchRun::Y301()
{
    RunBatch(batchByCode(QStringLiteral("Y301")));
}

void BatchRun::BitBtn1Click()
{
    using Operation = void (BatchRun::*)();
    static const std::array<std::pair<const char *, Operation>, 12> steps{{
        {"W101", &BatchRun::W101},
        {"W102", &BatchRun::W102},
        {"M101", &BatchRun::M101},
        {"M102", &BatchRun::M102},
        {"Y101", &BatchRun::Y101},
        {"Y102", &BatchRun::Y102},
        {"W103", &BatchRun::W103},
        {"M103", &BatchRun::M103},
        {"Y103", &BatchRun::Y103},
        {"W301", &BatchRun::W301},
        {"M301", &BatchRun::M301},
        {"Y301", &BatchRun::Y301},
    }};
    for (const auto &[code, operation] : steps) {
        const QString batchCode = QLatin1String(code);
        if (m_runLock)
            m_runLock->keep();
        if (Qry_Batch(batchCode))
            (this->*operation)();
        else if (m_listener)
            m_listener->batchSkipped(batchCode);
    }
}
