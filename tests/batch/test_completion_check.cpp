#include "batch_db.h"
#include "dm/error.h"

using CompletionCheck = BatchDatabase;

namespace {

const QString checkOfM101 = QStringLiteral(
    "Select XY001 FROM FADMXY Where COMPANY = 'C_QVT' AND XY001 = 'M101' AND XY002 = :XY002 "
    "AND XY003 = :XY003");

} // namespace

TEST_F(CompletionCheck, BindsByFirstCharacterOfTheCode)
{
    period.year = QStringLiteral(" 2024 ");
    period.monthValue = 5;
    period.weekValue = 22;
    for (const char *code : {"M101", "W101", "Y101", "A101", "X101", "y101", "m101"})
        EXPECT_TRUE(run->Qry_Batch(QLatin1String(code))) << code;
    EXPECT_EQ(log,
              (QStringList{"check M101 '2024' 5", "check W101 '2024' 22", "check Y101 '2024' '113'",
                           "check A101 '0' '0'", "check X101 null null", "check y101 null null",
                           "check m101 null null"}));
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_EQ(entries.first().kind, dm::TraceEntry::Open);
    EXPECT_EQ(entries.first().sql, checkOfM101);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(CompletionCheck, FindsOnlyTheRowOfItsOwnCodeYearAndPeriod)
{
    period.monthValue = 5;
    run->M101();
    EXPECT_FALSE(run->Qry_Batch(QStringLiteral("M101")));
    EXPECT_TRUE(run->Qry_Batch(QStringLiteral("M102")));
    period.monthValue = 6;
    EXPECT_TRUE(run->Qry_Batch(QStringLiteral("M101")));
    period.monthValue = 5;
    period.year = QStringLiteral("2023");
    EXPECT_TRUE(run->Qry_Batch(QStringLiteral("M101")));

    db->exec(QStringLiteral("INSERT INTO FADMXY VALUES ('C_QVT','1','W101','2024','22')"));
    period.year = QStringLiteral("2024");
    period.weekValue = 23;
    EXPECT_TRUE(run->Qry_Batch(QStringLiteral("W101")));
    period.weekValue = 22;
    EXPECT_FALSE(run->Qry_Batch(QStringLiteral("W101")));

    // Another company's row does not count; a code beginning with "A" looks for "0", "0".
    db->exec(QStringLiteral("INSERT INTO FADMXY VALUES ('OTHER','1','Y101','2024','113')"));
    EXPECT_TRUE(run->Qry_Batch(QStringLiteral("Y101")));
    db->exec(QStringLiteral("INSERT INTO FADMXY VALUES ('C_QVT','1','A101','0','0')"));
    EXPECT_FALSE(run->Qry_Batch(QStringLiteral("A101")));
}

TEST_F(CompletionCheck, Failures)
{
    period.year = QStringLiteral(" abc ");
    try {
        run->Qry_Batch(QStringLiteral("Y101"));
        ADD_FAILURE() << "no failure";
    } catch (const dm::Error &e) {
        EXPECT_EQ(e.message(), QLatin1String("'abc' is not a valid integer value"));
    }
    // Only yearly codes convert the year.
    EXPECT_TRUE(run->Qry_Batch(QStringLiteral("M101")));

    db->exec(QStringLiteral("DROP TABLE FADMXY"));
    try {
        run->Qry_Batch(QStringLiteral("M101"));
        ADD_FAILURE() << "no failure";
    } catch (const dm::Error &e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("FADMXY"))) << e.message().toStdString();
    }
    EXPECT_THROW(run->BitBtn1Click(), dm::Error);
    EXPECT_TRUE(boxes.shown.isEmpty());
}
