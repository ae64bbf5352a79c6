// The printed lines and the dry run's statements, in-process on a test database.
#include "cli/batch_cli.h"
#include "worked_examples.h"

#include "batch/catalogue.h"
#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/shared_values.h"
#include "testdb.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QStringList linesOf(const QString &text)
{
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

class Lines : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSharedValues();
        CompanyCode = QStringLiteral("C_QVT");
    }
    void TearDown() override { resetSharedValues(); }

    QString text;
    QTextStream out{&text};
};

} // namespace

TEST_F(Lines, OneLinePerEventWithTheDatabasesMessageOnOneLine)
{
    batchcli::LinePrinter printer(out);
    printer.batchDone(QStringLiteral("W101"), 12, 35);
    printer.batchDone(QStringLiteral("W102"), 1, 0);
    printer.batchDone(QStringLiteral("M101"), 0, 7);
    printer.batchSkipped(QStringLiteral("M102"));
    EXPECT_EQ(printer.failures(), 0);
    printer.batchFailed(
        QStringLiteral("W301"),
        QStringLiteral("[FreeTDS][SQL Server]Invalid object name 'COPTG'.\r\n"
                       "[FreeTDS][SQL Server]Statement(s) could not be prepared.\n"));
    printer.batchFailed(QStringLiteral("M301"), QStringLiteral("no such table: COPTG"));
    EXPECT_EQ(printer.failures(), 2);
    EXPECT_EQ(linesOf(text),
              (QStringList{"W101 done 12 rows 35 ms", "W102 done 1 row 0 ms",
                           "M101 done 0 rows 7 ms", "M102 skipped",
                           "W301 failed: [FreeTDS][SQL Server]Invalid object name 'COPTG'. "
                           "[FreeTDS][SQL Server]Statement(s) could not be prepared.",
                           "M301 failed: no such table: COPTG"}));
}

// The executable empties both tables at start, so only a second run in the same process
// meets completion rows: every batch then reports itself skipped.
TEST_F(Lines, SecondRunOfTheSamePeriodSkipsEveryBatch)
{
    TestDatabase db;
    db.exec(QStringLiteral(
        "INSERT INTO COPTC (TC001,TC003,TC006,TC009,TC027,TC029,TC030,TC031) VALUES "
        "('3221','20240605','S01',1,'Y',100,5,2), ('2221','20240605','S02',1,'Y',10,0,1);"
        "INSERT INTO COPTG (TG003,TG004,TG006,TG023,TG045,TG046) VALUES "
        "('20240605','C100','G01','Y',50,2.5)"));
    const batchcli::Period period(QStringLiteral("2024"), 6, 23);
    batchcli::NoBoxes boxes;
    dm::Query adoInSert(&dm::FDM->PUB_DB);

    QString message;
    ASSERT_TRUE(ClearSummaryTables(boxes, &message)) << message.toStdString();
    batchcli::LinePrinter first(out);
    BatchRun(adoInSert, period, boxes, &first).BitBtn1Click();
    const QStringList firstLines = linesOf(text);
    ASSERT_EQ(firstLines.size(), 12);
    for (qsizetype i = 0; i < 12; ++i) {
        const QString code = batchCatalogue()[size_t(i)].code;
        const QRegularExpression done(u'^' + code + QStringLiteral(" done 1 row \\d+ ms$"));
        EXPECT_TRUE(done.match(firstLines[i]).hasMatch()) << firstLines[i].toStdString();
    }

    text.clear();
    batchcli::LinePrinter second(out);
    BatchRun(adoInSert, period, boxes, &second).BitBtn1Click();
    QStringList skipped;
    for (const BatchDef &b : batchCatalogue())
        skipped << b.code + QStringLiteral(" skipped");
    EXPECT_EQ(linesOf(text), skipped);
    EXPECT_EQ(second.failures(), 0);
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX")), QStringLiteral("12"));
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXY")), QStringLiteral("12"));
}

TEST_F(Lines, ClearingTellsTheDatabasesMessage)
{
    TestDatabase db;
    db.exec(QStringLiteral("INSERT INTO FADMXX (COMPANY) VALUES ('C_QVT'); DROP TABLE FADMXY"));
    batchcli::NoBoxes boxes;
    QString message;
    EXPECT_FALSE(ClearSummaryTables(boxes, &message));
    EXPECT_EQ(message, QStringLiteral("no such table: FADMXY"));
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX")), QStringLiteral("1"));
    EXPECT_FALSE(ClearSummaryTables(boxes)) << "no message asked for: still a failure";
}

TEST_F(Lines, DryRunPrintsEachBatchsStatementsWithTheirBindings)
{
    batchcli::printStatements(batchcli::Period(QStringLiteral("2024"), 5, 7), out);
    const QStringList lines = linesOf(text);
    ASSERT_EQ(lines.size(), 1 + 12 * 4);
    EXPECT_EQ(lines[0], QStringLiteral("-- year 2024, month 5, week 7"));

    const auto at = [&](const char *header) {
        const qsizetype i = lines.indexOf(QLatin1String(header));
        return i < 0 || i + 1 >= lines.size() ? QStringLiteral("<missing>") : lines[i + 1];
    };
    EXPECT_EQ(at("-- M101 summary, binds Month = 5"), QLatin1String(M101Summary));
    EXPECT_EQ(at("-- M101 completion, binds Month = 5"), QLatin1String(M101Completion));
    EXPECT_EQ(at("-- Y301 summary, binds nothing"), QLatin1String(Y301Summary));
    EXPECT_EQ(at("-- Y301 completion, binds nothing"), QLatin1String(Y301Completion));
    EXPECT_TRUE(
        at("-- W101 summary, binds Week = 7").endsWith(QLatin1String("='7' GROUP BY TC006")));

    // In the order of the run, summary before completion.
    QStringList headers;
    for (const QString &line : lines.mid(1))
        if (line.startsWith(QLatin1String("-- ")))
            headers << line.section(u' ', 1, 2);
    QStringList expected;
    for (const BatchDef &b : batchCatalogue())
        expected << b.code + QStringLiteral(" summary,") << b.code + QStringLiteral(" completion,");
    EXPECT_EQ(headers, expected);
}

// Bad options and help never reach the data module: there is none here.
TEST_F(Lines, ProgramAnswersOptionsWithoutTheDatabase)
{
    ASSERT_EQ(dm::FDM, nullptr);
    QString err;
    QTextStream errStream(&err);
    const QString program = QStringLiteral("salestotals-batch");
    const QDate today(2026, 12, 8);

    EXPECT_EQ(batchcli::runProgram(program, {"--week", "54"}, today, out, errStream), 2);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(linesOf(err),
              (QStringList{"salestotals-batch: --week needs a whole number from 1 to 53, not '54'",
                           "Try 'salestotals-batch --help'."}));

    err.clear();
    EXPECT_EQ(batchcli::runProgram(program, {"--help"}, today, out, errStream), 0);
    EXPECT_EQ(text, batchcli::usageText(program));
    EXPECT_TRUE(err.isEmpty());

    // A whole period given: the dry run needs no database at all.
    text.clear();
    EXPECT_EQ(batchcli::runProgram(program, {"--dry-run", "--year=2024", "--month=5", "--week=1"},
                                   today, out, errStream),
              0);
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(linesOf(text).size(), 1 + 12 * 4);

    // Anything less needs today's week, and without a data module that fails.
    text.clear();
    EXPECT_EQ(batchcli::runProgram(program, {"--dry-run", "--year=2024"}, today, out, errStream),
              2);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(err, QStringLiteral("salestotals-batch: The data module does not exist\n"));
}
