#include "batch_db.h"

class ClearTables : public BatchDatabase
{
protected:
    void fillBoth()
    {
        db->exec(
            QStringLiteral("INSERT INTO FADMXX VALUES ('C_QVT','1','W101','2024','23',1,'S',''),"
                           "('OTHER','1','M101','2023','5',2,'S','')"));
        db->exec(QStringLiteral("INSERT INTO FADMXY VALUES ('C_QVT','1','W101','2024','23'),"
                                "('OTHER','1','M101','2023','5')"));
    }
};

TEST_F(ClearTables, EmptiesBothTablesOfEveryCompanyTogether)
{
    fillBoth();
    ClearSummaryTables(boxes);
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 0);
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 0);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(log, (QStringList{"begin", "Delete from FADMXX", "Delete from FADMXY", "commit"}));
}

TEST_F(ClearTables, FailingSecondDeletionLeavesBothTablesAsTheyWere)
{
    fillBoth();
    db->exec(QStringLiteral("CREATE TRIGGER keep_xy BEFORE DELETE ON FADMXY "
                            "BEGIN SELECT RAISE(ABORT, 'kept'); END"));
    EXPECT_NO_THROW(ClearSummaryTables(boxes));
    EXPECT_EQ(boxes.shown, QStringList{"batchError"});
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 2);
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 2);
    EXPECT_EQ(log, (QStringList{"begin", "Delete from FADMXX", "Delete from FADMXY failed",
                                "rollback", "batchError"}));
}

TEST_F(ClearTables, FailingFirstDeletionStopsThere)
{
    fillBoth();
    db->exec(QStringLiteral("DROP TABLE FADMXX"));
    EXPECT_NO_THROW(ClearSummaryTables(boxes));
    EXPECT_EQ(boxes.shown, QStringList{"batchError"});
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 2);
    EXPECT_EQ(log, (QStringList{"begin", "Delete from FADMXX failed", "rollback", "batchError"}));
}

TEST_F(ClearTables, UnreachableDatabaseShowsBatchErrorOnce)
{
    dm::FDM->PUB_DB.setConnectionString(dm::companyConnectionString(db->path() + ".missing"));
    EXPECT_NO_THROW(ClearSummaryTables(boxes));
    EXPECT_EQ(boxes.shown, QStringList{"batchError"});
    EXPECT_EQ(log, (QStringList{"begin failed", "batchError"}));
}
