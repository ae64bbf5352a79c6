#pragma once

#include "batch/batch_run.h"
#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/shared_values.h"
#include "dm/trace.h"
#include "fakes.h"
#include "testdb.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <memory>

// A source row of COPTC; nullptr stands for NULL.
struct Order
{
    const char *type = "3221";
    const char *date = "20240605"; // Wednesday of week 23, June 2024
    const char *group = "S01";
    const char *amount = "0";
    const char *tax = "0";
    const char *rate = "1";
    const char *quantity = "0";
    const char *flag = "Y";
};

// A source row of COPTG.
struct Invoice
{
    const char *date = "20240605";
    const char *customer = "C100";
    const char *group = "G01";
    const char *amount = "0";
    const char *tax = "0";
    const char *flag = "Y";
};

class RecordingListener : public BatchListener
{
public:
    void batchSkipped(const QString &code) override { events << QStringLiteral("skipped ") + code; }
    void batchDone(const QString &code, int rowsInserted, qint64 elapsedMs) override
    {
        events << QStringLiteral("done %1 %2").arg(code).arg(rowsInserted);
        if (elapsedMs < 0)
            ADD_FAILURE() << "negative elapsed time for " << code.toStdString();
    }
    void batchFailed(const QString &code, const QString &databaseMessage) override
    {
        events << QStringLiteral("failed ") + code;
        messages << databaseMessage;
    }

    QStringList events;
    QStringList messages;
};

// A company database of its own per test, the window's adoInSert on it, and one log of
// boxes and statements in the order they happened.
class BatchDatabase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSharedValues();
        CompanyCode = QStringLiteral("C_QVT");
        db = std::make_unique<TestDatabase>();
        adoInSert = std::make_unique<dm::Query>(&dm::FDM->PUB_DB);
        run = std::make_unique<BatchRun>(*adoInSert, period, boxes, &listener);
        dm::setTraceSink([this](const dm::TraceEntry &entry) {
            entries << entry;
            log << label(entry);
        });
    }

    void TearDown() override
    {
        dm::setTraceSink({});
        run.reset();
        adoInSert.reset();
        db.reset();
        resetSharedValues();
    }

    static QString literal(const char *text)
    {
        return text ? u'\'' + QString::fromUtf8(text).replace(u'\'', QLatin1String("''")) + u'\''
                    : QStringLiteral("NULL");
    }
    static QString number(const char *text)
    {
        return text ? QString::fromLatin1(text) : QStringLiteral("NULL");
    }

    void add(const Order &o)
    {
        db->exec(QStringLiteral("INSERT INTO COPTC (TC001,TC003,TC006,TC009,TC027,TC029,TC030,"
                                "TC031) VALUES (%1,%2,%3,%4,%5,%6,%7,%8)")
                     .arg(literal(o.type), literal(o.date), literal(o.group), number(o.rate),
                          literal(o.flag), number(o.amount), number(o.tax), number(o.quantity)));
    }

    void add(const Invoice &i)
    {
        db->exec(QStringLiteral("INSERT INTO COPTG (TG003,TG004,TG006,TG023,TG045,TG046) VALUES "
                                "(%1,%2,%3,%4,%5,%6)")
                     .arg(literal(i.date), literal(i.customer), literal(i.group), literal(i.flag),
                          number(i.amount), number(i.tax)));
    }

    // "group=total" for every summary row of a batch, sorted as plain text.
    QStringList totals(const char *code)
    {
        QStringList result;
        for (const QStringList &row :
             db->rows(QStringLiteral("SELECT XX005, XX004 FROM FADMXX WHERE XX001 = '%1'")
                          .arg(QLatin1String(code))))
            result << row.join(u'=');
        result.sort();
        return result;
    }

    int count(const QString &table) { return db->value("SELECT count(*) FROM " + table).toInt(); }

    // A statement reduced to what it is for: "check W101 '2024' 23", "summary Y101",
    // "begin"...; " failed" when the database refused it.
    static QString label(const dm::TraceEntry &e)
    {
        QString text;
        switch (e.kind) {
        case dm::TraceEntry::Begin:
            text = QStringLiteral("begin");
            break;
        case dm::TraceEntry::Commit:
            text = QStringLiteral("commit");
            break;
        case dm::TraceEntry::Rollback:
            text = QStringLiteral("rollback");
            break;
        case dm::TraceEntry::DriverWarning:
            text = QStringLiteral("warning ") + e.error;
            break;
        case dm::TraceEntry::Open:
        case dm::TraceEntry::Execute: {
            static const QRegularExpression code(QStringLiteral("'([A-Za-z][0-9]{3})'"));
            const QString batch = code.match(e.sql).captured(1);
            if (e.sql.startsWith(QLatin1String("Select XY001 FROM FADMXY")))
                text = QStringLiteral("check ") + batch;
            else if (e.sql.startsWith(QLatin1String("Insert into FADMXX")))
                text = QStringLiteral("summary ") + batch;
            else if (e.sql.startsWith(QLatin1String("Insert into FADMXY")))
                text = QStringLiteral("completion ") + batch;
            else
                text = e.sql;
            for (const dm::Variant &v : e.values) {
                const QVariant &q = v.toQVariant();
                text += u' ';
                if (v.isNull())
                    text += QLatin1String("null");
                else if (q.typeId() == QMetaType::Int)
                    text += QString::number(q.toInt());
                else
                    text += u'\'' + q.toString() + u'\'';
            }
            break;
        }
        }
        return e.ok ? text : text + QLatin1String(" failed");
    }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<dm::Query> adoInSert;
    FakePeriod period;
    QStringList log;
    RecordingBoxes boxes{&log};
    RecordingListener listener;
    std::unique_ptr<BatchRun> run;
    QVector<dm::TraceEntry> entries;
};
