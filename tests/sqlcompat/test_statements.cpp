// The twelve summary statements and the completion statements, exactly as the batches
// send them (markers already '?'), run end to end on orders and invoices made here.
#include "test_db.h"

#include "sqlcompat/functions.h"

#include <gtest/gtest.h>

namespace {

// The summary statement of a batch code, built from the same pieces as the batches do.
QString summaryStatement(const QString &code, const QString &year, int period, const QString &roc)
{
    const QChar kind = code.front();
    const QString figure = code.mid(1);
    const bool invoices = figure == QLatin1String("301");
    const QString dateColumn = invoices ? QStringLiteral("TG003") : QStringLiteral("TC003");
    const QString group = invoices ? QStringLiteral("TG006") : QStringLiteral("TC006");
    QString measure = QStringLiteral("ROUND(SUM((TC029+TC030)*TC009),2)");
    if (figure == QLatin1String("101"))
        measure = QStringLiteral("SUM(TC031)");
    else if (invoices)
        measure = QStringLiteral("ROUND(SUM(TG045+TG046),2)");
    QString filter = QStringLiteral(" WHERE TC027='Y' AND TC001 IN ('3221','5221')");
    if (figure == QLatin1String("103"))
        filter = QStringLiteral(" WHERE TC027='Y' AND TC001 IN ('2221','222U')");
    else if (invoices)
        filter = QStringLiteral(
            " WHERE TG023 = 'Y' AND TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015',"
            "'C016','C037' ,'C059' ,'C108' ,'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,"
            "'C997' ,'C998') AND TG004 NOT LIKE 'A%'");
    QString sql = QStringLiteral("Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'") + code +
                  QStringLiteral("' XX001,'") + year;
    if (kind == u'Y')
        sql += QStringLiteral("' XX002,'") + roc + QStringLiteral("' XX003,");
    else
        sql += QStringLiteral("' XX002,?") + QStringLiteral(" XX003,");
    sql += measure + QStringLiteral(" XX004,") + group + QStringLiteral(" XX005,'' XX006") +
           QStringLiteral(" FROM ") +
           (invoices ? QStringLiteral("COPTG") : QStringLiteral("COPTC")) + filter +
           QStringLiteral(" AND DATEPART ( YEAR , convert(datetime,") + dateColumn +
           QStringLiteral(",112)) ='") + year + u'\'';
    if (kind != u'Y')
        sql += (kind == u'W' ? QStringLiteral(" AND DATEPART ( Week , convert(datetime,")
                             : QStringLiteral(" AND DATEPART ( Month , convert(datetime,")) +
               dateColumn + QStringLiteral(",112)) ='") + QString::number(period) + u'\'';
    return sql + QStringLiteral(" GROUP BY ") + group;
}

QString completionStatement(const QString &code, const QString &year, const QString &roc)
{
    QString sql = QStringLiteral("Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
                                 "('C_QVT','1','") +
                  code + QStringLiteral("','") + year;
    return sql + (code.front() == u'Y' ? QStringLiteral("','") + roc + QStringLiteral("')")
                                       : QStringLiteral("',?)"));
}

class Statements : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Week 20 of 2024 runs from Sunday 12 to Saturday 18 May.
        db.exec(QStringLiteral(
            "INSERT INTO COPTC(TC001, TC003, TC006, TC009, TC027, TC029, TC030, TC031) VALUES "
            "('3221', '20240512', 'G1', 1, 'Y', 100.05, 5.00, 3),"
            "('5221 ', '20240518', 'g1 ', 0.5, 'y', 10.01, 0, 2.5),"
            "('3221', '20240519', 'G1', 1, 'Y', 1, 0, 1),"
            "('3221', '20240430', 'G2', 1, 'Y', 7, 0, 4),"
            "('2221', '20240513', 'G3', 2, 'Y', 1.25, 0.1, 6),"
            "('222u', '20240514', 'G3', 1, 'Y', 1, 1, 1),"
            "('3221', '20240515', 'G1', 1, 'N', 999, 0, 99),"
            "('3221', '20230515', 'G1', 1, 'Y', 50, 0, 5),"
            "('3221', NULL, 'G1', 1, 'Y', 60, 0, 6),"
            "('3221', '', 'G4', 1, 'Y', 3, 0, 1),"
            "('3222', '20240512', 'G1', 1, 'Y', 70, 0, 7),"
            "(NULL, '20240512', 'G1', 1, 'Y', 80, 0, 8)"));
        db.exec(QStringLiteral("INSERT INTO COPTG(TG003, TG004, TG006, TG023, TG045, TG046) VALUES "
                               "('20240512', 'C001', 'S01', 'Y', 0.10, 0.20),"
                               "('20240513', 'c001 ', 's01', 'Y', 1.00, 0.05),"
                               "('20240514', 'C0005', 'S01', 'Y', 5, 5),"
                               "('20240514', 'C0006', 'S02', 'Y', 2, 0),"
                               "('20240515', 'a99', 'S03', 'Y', 9, 9),"
                               "('20240515', NULL, 'S04', 'Y', 1, 1),"
                               "('20240516', 'C001', 'S01', 'N', 1, 1),"
                               "('20240517', 'C998 ', 'S02', 'Y', 3, 3),"
                               "('20240518', 'C001', 'S05', 'Y', NULL, 1),"
                               "('20240601', 'C001', 'S01', 'Y', 10, 0)"));
    }

    // Runs a batch's two statements; its summary rows as "code period total group".
    QStringList runBatch(const QString &code, int period)
    {
        db.exec(QStringLiteral("DELETE FROM FADMXX"));
        const QVariantList values = code.front() == u'Y' ? QVariantList() : QVariantList{period};
        const QString summary =
            summaryStatement(code, QStringLiteral("2024"), period, QStringLiteral("113"));
        const auto result = db.run(summary, values);
        EXPECT_TRUE(result.ok()) << code.toStdString() << ": " << result.error.toStdString();
        const auto done = db.run(
            completionStatement(code, QStringLiteral("2024"), QStringLiteral("113")), values);
        EXPECT_TRUE(done.ok()) << done.error.toStdString();
        QStringList rows;
        const auto written = db.runPlain(QStringLiteral(
            "SELECT COMPANY, XX000, XX001, XX002, XX003, XX004, XX005, XX006 FROM FADMXX "
            "ORDER BY UPPER(RTRIM(XX005))"));
        for (const QStringList &row : written.rows) {
            EXPECT_EQ(row.mid(0, 4), (QStringList{"C_QVT", "1", code, "2024"}));
            EXPECT_EQ(row[7], "");
            rows << QStringList{row[2], row[4], row[5], row[6].trimmed().toUpper()}.join(u' ');
        }
        return rows;
    }

    CompatDb db;
};

} // namespace

TEST_F(Statements, TheWorkedExamplesAreBuiltAsSent)
{
    EXPECT_EQ(summaryStatement("M101", "2024", 5, "113"),
              "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M101' XX001,'2024' XX002,? "
              "XX003,SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y' AND TC001 "
              "IN ('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) ='2024' AND "
              "DATEPART ( Month , convert(datetime,TC003,112)) ='5' GROUP BY TC006");
    EXPECT_EQ(summaryStatement("Y301", "2024", 0, "113"),
              "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y301' XX001,'2024' XX002,'113' "
              "XX003,ROUND(SUM(TG045+TG046),2) XX004,TG006 XX005,'' XX006 FROM COPTG WHERE TG023 = "
              "'Y' AND TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' "
              ",'C059' ,'C108' ,'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998') AND "
              "TG004 NOT LIKE 'A%' AND DATEPART ( YEAR , convert(datetime,TG003,112)) ='2024' "
              "GROUP BY TG006");
}

TEST_F(Statements, WeeklyBatches)
{
    EXPECT_EQ(runBatch("W101", 20), QStringList{"W101 20 5.5 G1"});
    // 105.05 + 5.005 is 110.055: half a cent, rounded up.
    EXPECT_EQ(runBatch("W102", 20), QStringList{"W102 20 110.06 G1"});
    EXPECT_EQ(runBatch("W103", 20), QStringList{"W103 20 4.7 G3"});
    EXPECT_EQ(runBatch("W301", 20),
              (QStringList{"W301 20 1.35 S01", "W301 20 2 S02", "W301 20 <null> S05"}));
    EXPECT_EQ(runBatch("W101", 21), QStringList{"W101 21 1 G1"});
    EXPECT_TRUE(runBatch("W101", 30).isEmpty());
}

TEST_F(Statements, MonthlyBatches)
{
    EXPECT_EQ(runBatch("M101", 5), QStringList{"M101 5 6.5 G1"});
    EXPECT_EQ(runBatch("M102", 5), QStringList{"M102 5 111.06 G1"});
    EXPECT_EQ(runBatch("M103", 5), QStringList{"M103 5 4.7 G3"});
    EXPECT_EQ(runBatch("M301", 5),
              (QStringList{"M301 5 1.35 S01", "M301 5 2 S02", "M301 5 <null> S05"}));
    EXPECT_EQ(runBatch("M101", 4), QStringList{"M101 4 4 G2"});
}

TEST_F(Statements, YearlyBatches)
{
    EXPECT_EQ(runBatch("Y101", 0), (QStringList{"Y101 113 6.5 G1", "Y101 113 4 G2"}));
    EXPECT_EQ(runBatch("Y102", 0), (QStringList{"Y102 113 111.06 G1", "Y102 113 7 G2"}));
    EXPECT_EQ(runBatch("Y103", 0), QStringList{"Y103 113 4.7 G3"});
    EXPECT_EQ(runBatch("Y301", 0),
              (QStringList{"Y301 113 11.35 S01", "Y301 113 2 S02", "Y301 113 <null> S05"}));
}

TEST_F(Statements, CompletionRowsAreWrittenAndFound)
{
    runBatch("M101", 5);
    runBatch("W101", 23);
    runBatch("Y101", 0);
    EXPECT_EQ(db.runPlain("SELECT * FROM FADMXY ORDER BY XY001").rows,
              (QVector<QStringList>{{"C_QVT", "1", "M101", "2024", "5"},
                                    {"C_QVT", "1", "W101", "2024", "23"},
                                    {"C_QVT", "1", "Y101", "2024", "113"}}));
    EXPECT_EQ(db.typeOf("(SELECT XY003 FROM FADMXY WHERE XY001 = 'M101')"), "text");
    const QString check = QStringLiteral("Select XY001 FROM FADMXY Where COMPANY = 'C_QVT' AND "
                                         "XY001 = '%1' AND XY002 = ? AND XY003 = ?");
    auto found = [&](const char *code, const QVariant &year, const QVariant &period) {
        const auto result = db.run(check.arg(QLatin1String(code)), {year, period});
        EXPECT_TRUE(result.ok()) << result.error.toStdString();
        return result.rows.size();
    };
    EXPECT_EQ(found("M101", "2024", 5), 1);
    EXPECT_EQ(found("M101", "2024", 6), 0);
    EXPECT_EQ(found("M101", "2023", 5), 0);
    EXPECT_EQ(found("M102", "2024", 5), 0);
    EXPECT_EQ(found("W101", "2024", 23), 1);
    EXPECT_EQ(found("W101", "2024", 22), 0);
    EXPECT_EQ(found("Y101", "2024", "113"), 1);
    EXPECT_EQ(found("Y101", "2024", "112"), 0);
}

TEST_F(Statements, DeletionsEmptyTheSummaryTables)
{
    runBatch("M101", 5);
    EXPECT_TRUE(db.run("Delete from FADMXX").ok());
    EXPECT_TRUE(db.run("Delete from FADMXY").ok());
    EXPECT_EQ(db.value("SELECT (SELECT COUNT(*) FROM FADMXX) + (SELECT COUNT(*) FROM FADMXY)"),
              "0");
}

TEST_F(Statements, AYearTextThatIsNoNumberFailsTheBatch)
{
    const auto result = db.run(summaryStatement("M101", "20x4", 5, "113"), {5});
    EXPECT_EQ(result.error, "Conversion failed when converting the varchar value '20x4' to data "
                            "type int.");
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM FADMXX"), "0");
    // Blanks around the year convert.
    EXPECT_TRUE(db.run(summaryStatement("M101", " 2024 ", 5, "113"), {5}).ok());
    EXPECT_EQ(db.value("SELECT XX004 FROM FADMXX"), "6.5");
}
