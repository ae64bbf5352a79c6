#include "batch/statements.h"
#include "batch_db.h"
#include "dm/error.h"

namespace {

const char *const runOrder[] = {"W101", "W102", "M101", "M102", "Y101", "Y102",
                                "W103", "M103", "Y103", "W301", "M301", "Y301"};

// What one batch sends when all goes well, for year 2024, month 6, week 23.
QStringList sentFor(const QString &code)
{
    const QString value = code.startsWith(u'W')   ? QStringLiteral(" 23")
                          : code.startsWith(u'M') ? QStringLiteral(" 6")
                                                  : QString();
    const QString checkValue = code.startsWith(u'Y') ? QStringLiteral(" '113'") : value;
    const QString check = QStringLiteral("check %1 '2024'%2").arg(code, checkValue);
    const QString summary = QStringLiteral("summary ") + code + value;
    const QString completion = QStringLiteral("completion ") + code + value;
    const QString box = QStringLiteral("box ") + code;
    // Checked again inside the transaction, which holds the write lock from its begin.
    if (code == QLatin1String("W301"))
        return {check,      QStringLiteral("begin"), check, summary, box,
                completion, QStringLiteral("commit")};
    return {check,   box,        QStringLiteral("begin"), check,
            summary, completion, QStringLiteral("commit")};
}

class BatchRunTest : public BatchDatabase
{
protected:
    void addOneRowForEveryBatch()
    {
        add(Order{.type = "3221", .group = "S01", .amount = "10", .quantity = "1"});
        add(Order{.type = "2221", .group = "S02", .amount = "20", .quantity = "2"});
        add(Invoice{.group = "G01", .amount = "30"});
    }

    QStringList completionCodes()
    {
        QStringList codes;
        for (const QStringList &row :
             db->rows(QStringLiteral("SELECT XY001 FROM FADMXY ORDER BY XY001")))
            codes << row.first();
        return codes;
    }
};

} // namespace

TEST_F(BatchRunTest, FirstPressRunsTwelveBatchesInOrderSecondPressOnlyChecks)
{
    addOneRowForEveryBatch();
    run->BitBtn1Click();

    QStringList expected;
    for (const char *code : runOrder)
        expected << sentFor(QLatin1String(code));
    EXPECT_EQ(log, expected);
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 12);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT DISTINCT COMPANY, XY000, XY002 FROM FADMXY")),
              (QVector<QStringList>{{"C_QVT", "1", "2024"}}));
    EXPECT_EQ(db->rows(QStringLiteral("SELECT XY003 FROM FADMXY WHERE XY001 IN "
                                      "('W101','M101','Y101') ORDER BY XY001")),
              (QVector<QStringList>{{"6"}, {"23"}, {"113"}}));
    // One summary row per batch: every batch found its source row.
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 12);
    EXPECT_EQ(listener.events.filter(QStringLiteral("done")).size(), 12);
    EXPECT_TRUE(listener.events.contains(QStringLiteral("done W301 1")));

    log.clear();
    boxes.shown.clear();
    listener.events.clear();
    run->BitBtn1Click();
    QStringList checksOnly;
    for (const char *code : runOrder)
        checksOnly << sentFor(QLatin1String(code)).first();
    EXPECT_EQ(log, checksOnly);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(listener.events.size(), 12);
    EXPECT_EQ(listener.events.filter(QStringLiteral("skipped")).size(), 12);
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 12);
}

TEST_F(BatchRunTest, BatchWithoutSourceRowsWritesOnlyItsCompletionRow)
{
    add(Order{.date = "20240705", .quantity = "1"}); // July, week 27
    run->M101();
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 0);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COMPANY,XY000,XY001,XY002,XY003 FROM FADMXY")),
              (QVector<QStringList>{{"C_QVT", "1", "M101", "2024", "6"}}));
    EXPECT_EQ(listener.events, QStringList{"done M101 0"});
    EXPECT_EQ(boxes.shown, QStringList{"box M101"});
}

TEST_F(BatchRunTest, FailingSummaryOfW102ShowsBoxThenBatchErrorAndRunGoesOn)
{
    addOneRowForEveryBatch();
    db->exec(
        QStringLiteral("CREATE TRIGGER refuse_w102 BEFORE INSERT ON FADMXX "
                       "WHEN NEW.XX001 = 'W102' BEGIN SELECT RAISE(ABORT, 'W102 refused'); END"));
    run->BitBtn1Click();

    EXPECT_EQ(boxes.shown.mid(0, 4),
              (QStringList{"box W101", "box W102", "batchError", "box M101"}));
    EXPECT_EQ(boxes.shown.count(QStringLiteral("batchError")), 1);
    EXPECT_EQ(log.mid(7, 7),
              (QStringList{"check W102 '2024' 23", "box W102", "begin", "check W102 '2024' 23",
                           "summary W102 23 failed", "rollback", "batchError"}));
    EXPECT_TRUE(listener.events.contains(QStringLiteral("failed W102")));
    ASSERT_EQ(listener.messages.size(), 1);
    EXPECT_TRUE(listener.messages.first().contains(QLatin1String("W102 refused")));
    EXPECT_EQ(completionCodes().size(), 11);
    EXPECT_FALSE(completionCodes().contains(QStringLiteral("W102")));
    EXPECT_EQ(db->value(QStringLiteral("SELECT count(*) FROM FADMXX WHERE XX001='W102'")), "0");

    db->exec(QStringLiteral("DROP TRIGGER refuse_w102"));
    boxes.shown.clear();
    run->BitBtn1Click();
    EXPECT_EQ(boxes.shown, QStringList{"box W102"});
    EXPECT_EQ(completionCodes().size(), 12);
    EXPECT_EQ(db->value(QStringLiteral("SELECT count(*) FROM FADMXX WHERE XX001='W102'")), "1");
}

TEST_F(BatchRunTest, FailingSummaryOfW301ShowsBatchErrorWithoutItsBox)
{
    addOneRowForEveryBatch();
    db->exec(QStringLiteral("ALTER TABLE COPTG RENAME TO COPTG_AWAY"));
    run->BitBtn1Click();

    // The 301 batches all fail; only W301 has no box of its own.
    EXPECT_EQ(boxes.shown.mid(9),
              (QStringList{"batchError", "box M301", "batchError", "box Y301", "batchError"}));
    EXPECT_EQ(boxes.shown.count(QStringLiteral("box W301")), 0);
    EXPECT_EQ(listener.events.filter(QStringLiteral("failed")),
              (QStringList{"failed W301", "failed M301", "failed Y301"}));
    for (const QString &message : listener.messages)
        EXPECT_TRUE(message.contains(QLatin1String("COPTG"))) << message.toStdString();
    EXPECT_EQ(completionCodes().size(), 9);
}

TEST_F(BatchRunTest, FailingCompletionLeavesNoSummaryRowsAndNextPressInsertsThemOnce)
{
    add(Order{.group = "S01", .quantity = "1.5"});
    add(Order{.group = "S02", .quantity = "2.5"});
    db->exec(
        QStringLiteral("CREATE TRIGGER refuse_m101 BEFORE INSERT ON FADMXY "
                       "WHEN NEW.XY001 = 'M101' BEGIN SELECT RAISE(ABORT, 'M101 refused'); END"));
    run->M101();
    EXPECT_EQ(log, (QStringList{"box M101", "begin", "check M101 '2024' 6", "summary M101 6",
                                "completion M101 6 failed", "rollback", "batchError"}));
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 0);
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 0);
    EXPECT_EQ(listener.events, QStringList{"failed M101"});
    EXPECT_TRUE(listener.messages.value(0).contains(QLatin1String("M101 refused")));

    db->exec(QStringLiteral("DROP TRIGGER refuse_m101"));
    EXPECT_TRUE(run->Qry_Batch(QStringLiteral("M101")));
    run->M101();
    EXPECT_EQ(totals("M101"), (QStringList{"S01=1.5", "S02=2.5"}));
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 1);
    EXPECT_FALSE(run->Qry_Batch(QStringLiteral("M101")));
}

TEST_F(BatchRunTest, W301BoxComesInsideItsTransaction)
{
    add(Invoice{.amount = "5"});
    db->exec(QStringLiteral("CREATE TRIGGER refuse_w301 BEFORE INSERT ON FADMXY "
                            "WHEN NEW.XY001 = 'W301' BEGIN SELECT RAISE(ABORT, 'no'); END"));
    run->W301();
    EXPECT_EQ(log, (QStringList{"begin", "check W301 '2024' 23", "summary W301 23", "box W301",
                                "completion W301 23 failed", "rollback", "batchError"}));
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 0);
}

// Another run finishes W101 while its code box is shown, after this run's first check: the
// check inside the transaction finds it done, and W101 is not counted twice.
TEST_F(BatchRunTest, BatchDoneMeanwhileByAnotherRunIsSkippedInsideItsTransaction)
{
    addOneRowForEveryBatch();
    class OtherRunFinishes : public RecordingBoxes
    {
    public:
        OtherRunFinishes(QStringList *log, TestDatabase &db) : RecordingBoxes(log), m_db(db) {}
        void code(const QString &batchCode) override
        {
            RecordingBoxes::code(batchCode);
            if (batchCode == QLatin1String("W101"))
                m_db.exec(QStringLiteral(
                    "INSERT INTO FADMXX VALUES ('C_QVT','1','W101','2024','23',1,'S01','');"
                    "INSERT INTO FADMXY VALUES ('C_QVT','1','W101','2024','23')"));
        }

    private:
        TestDatabase &m_db;
    } otherRun(&log, *db);
    BatchRun(*adoInSert, period, otherRun, &listener).BitBtn1Click();

    EXPECT_EQ(log.mid(0, 6),
              (QStringList{"check W101 '2024' 23", "box W101", "begin", "check W101 '2024' 23",
                           "rollback", "check W102 '2024' 23"}));
    EXPECT_EQ(listener.events.first(), QStringLiteral("skipped W101"));
    EXPECT_EQ(listener.events.filter(QStringLiteral("done")).size(), 11);
    EXPECT_EQ(db->value(QStringLiteral("SELECT count(*) FROM FADMXX WHERE XX001='W101'")), "1");
    EXPECT_EQ(db->value(QStringLiteral("SELECT count(*) FROM FADMXY WHERE XY001='W101'")), "1");
}

TEST_F(BatchRunTest, YearNotANumberEndsTheRunAtStepFive)
{
    period.year = QStringLiteral("abc");
    addOneRowForEveryBatch();
    try {
        run->BitBtn1Click();
        ADD_FAILURE() << "the run did not fail";
    } catch (const dm::Error &e) {
        EXPECT_EQ(e.message(), QLatin1String("'abc' is not a valid integer value"));
    }
    // The weekly and monthly batches before it fail in the database's year comparison.
    EXPECT_EQ(boxes.shown, (QStringList{"box W101", "batchError", "box W102", "batchError",
                                        "box M101", "batchError", "box M102", "batchError"}));
    EXPECT_EQ(log.filter(QStringLiteral("check")).size(), 8); // each also in its transaction
    EXPECT_EQ(log.filter(QStringLiteral("Y101")).size(), 0);
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 0);
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 0);
}

TEST_F(BatchRunTest, HostileYearTextIsRejectedAsAYearAndChangesNothing)
{
    addOneRowForEveryBatch();
    db->exec(QStringLiteral("INSERT INTO FADMXY VALUES ('OTHER','1','W101','2023','1')"));
    db->exec(
        QStringLiteral("INSERT INTO FADMXX VALUES ('OTHER','1','W101','2023','1',5,'S01','')"));
    const char *hostile[] = {
        "2024'; DELETE FROM FADMXY; --",
        "2024' OR '1'='1",
        "2024' --",
        "2024 /* */",
        "2024;",
        "'",
        "2024') GROUP BY TC006; DROP TABLE FADMXX; --",
        "2024:Month",
        "':Week",
    };
    for (const char *text : hostile) {
        SCOPED_TRACE(text);
        period.year = QString::fromUtf8(text);
        for (const char *code : {"W101", "M102", "W103", "W301", "M301"}) {
            SCOPED_TRACE(code);
            boxes.shown.clear();
            listener.messages.clear();
            EXPECT_TRUE(run->Qry_Batch(QLatin1String(code)));
            run->RunBatch(batchByCode(QLatin1String(code)));
            EXPECT_EQ(boxes.shown.count(QStringLiteral("batchError")), 1);
            EXPECT_EQ(listener.messages.size(), 1);
        }
        // Yearly batches do not get past their check.
        EXPECT_THROW(run->Qry_Batch(QStringLiteral("Y101")), dm::Error);
        EXPECT_EQ(db->rows(QStringLiteral("SELECT COMPANY FROM FADMXY")),
                  (QVector<QStringList>{{"OTHER"}}));
        EXPECT_EQ(db->rows(QStringLiteral("SELECT COMPANY FROM FADMXX")),
                  (QVector<QStringList>{{"OTHER"}}));
    }
    // The text went out whole, inside one literal, and made no parameter of its own.
    const QString sent = sqlTextLiteral(QStringLiteral("2024'; DELETE FROM FADMXY; --"));
    bool seen = false;
    for (const dm::TraceEntry &e : entries) {
        seen = seen || (e.kind == dm::TraceEntry::Execute && e.sql.count(sent) == 2);
        if (e.kind == dm::TraceEntry::Execute) {
            EXPECT_EQ(e.values.size(), 1) << e.sql.toStdString();
        }
    }
    EXPECT_TRUE(seen);
}

TEST_F(BatchRunTest, YearlyBatchesAgreeWithTheirCheckAfterTheYearChanged)
{
    RocYearText = QStringLiteral("113"); // start-up proposed 2024
    period.year = QStringLiteral(" 2025 ");
    add(Order{.date = "20250301", .quantity = "4"});
    run->BitBtn1Click();
    EXPECT_EQ(
        db->rows(QStringLiteral("SELECT XX002, XX003, XX004 FROM FADMXX WHERE XX001 = 'Y101'")),
        (QVector<QStringList>{{"2025", "114", "4"}}));
    EXPECT_EQ(db->rows(QStringLiteral("SELECT XY002, XY003 FROM FADMXY WHERE XY001 = 'Y101'")),
              (QVector<QStringList>{{"2025", "114"}}));

    // Done for 2025: a second press runs nothing.
    boxes.shown.clear();
    run->BitBtn1Click();
    EXPECT_TRUE(boxes.shown.isEmpty());

    // Another year is another period.
    period.year = QStringLiteral("2023");
    run->Y101();
    EXPECT_EQ(db->value(QStringLiteral("SELECT XY003 FROM FADMXY WHERE XY002 = '2023'")), "112");
}

TEST_F(BatchRunTest, WeekAndMonthBoundAsIntegersInBothStatements)
{
    period.weekValue = 7;
    add(Order{.date = "20240214", .quantity = "1"}); // week 7
    run->W101();
    QVector<dm::TraceEntry> statements;
    for (const dm::TraceEntry &e : entries)
        if (e.kind == dm::TraceEntry::Execute)
            statements << e;
    ASSERT_EQ(statements.size(), 2);
    for (const dm::TraceEntry &e : statements) {
        ASSERT_EQ(e.values.size(), 1);
        EXPECT_EQ(e.values.first(), dm::Variant(qint32(7)));
    }
    EXPECT_TRUE(statements.first().sql.contains(QLatin1String(",112)) ='7' GROUP BY")));
    EXPECT_EQ(db->rows(QStringLiteral("SELECT XX003, XX004 FROM FADMXX")),
              (QVector<QStringList>{{"7", "1"}}));
    EXPECT_EQ(db->value(QStringLiteral("SELECT XY003 FROM FADMXY")), "7");
    EXPECT_FALSE(run->Qry_Batch(QStringLiteral("W101")));
}
