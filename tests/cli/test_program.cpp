// The program itself, run as an operator's scheduler runs it, on databases the tests prepare.
#include "program.h"
#include "worked_examples.h"

#include "testdb.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <tuple>

namespace {

QString directoryOf(const TestDatabase &db)
{
    return QFileInfo(db.path()).absolutePath();
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

const char *const WholePeriod[] = {"--year", "2024", "--month", "6", "--week", "23"};

QStringList wholePeriod()
{
    QStringList args;
    for (const char *a : WholePeriod)
        args << QString::fromLatin1(a);
    return args;
}

// Sales of week 23 / June 2024 for every figure, one more order in March for the yearly
// totals, a week for today (whatever day the test runs), and rows of an earlier run.
void fill(TestDatabase &db)
{
    db.exec(QStringLiteral(
        "INSERT INTO COPTC (TC001,TC003,TC006,TC009,TC027,TC029,TC030,TC031) VALUES "
        "('3221','20240605','S01',1,'Y',100,5,2), ('5221','20240301','S03',1,'Y',10,0,4),"
        "('2221','20240605','S02',1,'Y',10,0,1);"
        "INSERT INTO COPTG (TG003,TG004,TG006,TG023,TG045,TG046) VALUES "
        "('20240605','C100','G01','Y',50,2.5), ('20240605','A100','G02','Y',7,0);"));
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    db.exec(QStringLiteral("INSERT INTO FCMSDT VALUES ('%1','50','%2','%2')")
                .arg(today.left(4), today));
    db.exec(QStringLiteral("INSERT INTO FADMXX VALUES ('OTHER','1','M101','2023','5',9,'S9','');"
                           "INSERT INTO FADMXY VALUES ('C_QVT','1','W101','2024','23')"));
}

// "W101 done 1 row 3 ms" -> "W101 done 1"; the time varies.
QStringList withoutTimes(const QStringList &lines)
{
    static const QRegularExpression time(QStringLiteral(" rows? \\d+ ms$"));
    QStringList result;
    for (QString line : lines) {
        if (line.contains(time))
            line.remove(time);
        else if (line.contains(QLatin1String(" done ")))
            line += QLatin1String(" <no time>");
        result << line;
    }
    return result;
}

bool haveFaketime()
{
    return !QStandardPaths::findExecutable(QStringLiteral("faketime")).isEmpty();
}

} // namespace

TEST(Program, FullRunEmptiesTheTablesAndDoesEveryBatch)
{
    TestDatabase db;
    fill(db);
    const Outcome o = Program(Embedded, directoryOf(db)).run(wholePeriod());
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.err, QString());
    EXPECT_EQ(withoutTimes(o.lines),
              (QStringList{"W101 done 1", "W102 done 1", "M101 done 1", "M102 done 1",
                           "Y101 done 2", "Y102 done 2", "W103 done 1", "M103 done 1",
                           "Y103 done 1", "W301 done 1", "M301 done 1", "Y301 done 1"}));

    // The earlier run's rows are gone, also the completion row that would have skipped W101.
    EXPECT_EQ(db.rows(QStringLiteral("SELECT XX001, XX002, XX003, XX005, XX004 + 0, XX006 FROM "
                                     "FADMXX WHERE COMPANY = 'C_QVT' AND XX000 = '1' "
                                     "ORDER BY XX001, XX005")),
              (QVector<QStringList>{
                  {"M101", "2024", "6", "S01", "2", ""},
                  {"M102", "2024", "6", "S01", "105", ""},
                  {"M103", "2024", "6", "S02", "10", ""},
                  {"M301", "2024", "6", "G01", "52.5", ""},
                  {"W101", "2024", "23", "S01", "2", ""},
                  {"W102", "2024", "23", "S01", "105", ""},
                  {"W103", "2024", "23", "S02", "10", ""},
                  {"W301", "2024", "23", "G01", "52.5", ""},
                  {"Y101", "2024", "113", "S01", "2", ""},
                  {"Y101", "2024", "113", "S03", "4", ""},
                  {"Y102", "2024", "113", "S01", "105", ""},
                  {"Y102", "2024", "113", "S03", "10", ""},
                  {"Y103", "2024", "113", "S02", "10", ""},
                  {"Y301", "2024", "113", "G01", "52.5", ""},
              }));
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX")), QStringLiteral("14"));
    EXPECT_EQ(db.value(QStringLiteral("SELECT group_concat(XY001 || ' ' || XY003, ',') FROM "
                                      "(SELECT * FROM FADMXY ORDER BY rowid)")),
              QStringLiteral("W101 23,W102 23,M101 6,M102 6,Y101 113,Y102 113,W103 23,M103 6,"
                             "Y103 113,W301 23,M301 6,Y301 113"));
}

TEST(Program, FailingBatchesAreReportedWithTheDatabasesMessage)
{
    TestDatabase db;
    fill(db);
    db.exec(QStringLiteral("DROP TABLE COPTG"));
    const Outcome o = Program(Embedded, directoryOf(db)).run(wholePeriod());
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(
        withoutTimes(o.lines),
        (QStringList{"W101 done 1", "W102 done 1", "M101 done 1", "M102 done 1", "Y101 done 2",
                     "Y102 done 2", "W103 done 1", "M103 done 1", "Y103 done 1",
                     "W301 failed: no such table: COPTG", "M301 failed: no such table: COPTG",
                     "Y301 failed: no such table: COPTG"}));
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXY")), QStringLiteral("9"));
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX WHERE XX001 LIKE '%301'")),
              QStringLiteral("0"));
}

// Without options the program runs the period that the window proposes for today.
TEST(Program, ProposedPeriodOfTheDay)
{
    if (!haveFaketime())
        GTEST_SKIP() << "faketime is not installed";
    TestDatabase db;
    db.exec(QStringLiteral(
        "INSERT INTO FCMSDT VALUES ('2026','50','20261206','20261212');"
        "INSERT INTO COPTC (TC001,TC003,TC006,TC009,TC027,TC029,TC030,TC031) VALUES "
        "('3221','20261201','S01',1,'Y',1,0,1), ('3221','20261208','S02',1,'Y',1,0,1);"));
    const Outcome o =
        Program(Embedded, directoryOf(db))
            .run({}, {QStringLiteral("faketime"), QStringLiteral("2026-12-08 10:00:00")});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    // Week 49 (29 Nov - 5 Dec) holds the first order only; December and 2026 both.
    EXPECT_EQ(withoutTimes(o.lines),
              (QStringList{"W101 done 1", "W102 done 1", "M101 done 2", "M102 done 2",
                           "Y101 done 2", "Y102 done 2", "W103 done 0", "M103 done 0",
                           "Y103 done 0", "W301 done 0", "M301 done 0", "Y301 done 0"}));
    EXPECT_EQ(db.value(QStringLiteral("SELECT group_concat(XY001 || ' ' || XY002 || ' ' || XY003, "
                                      "',') FROM (SELECT * FROM FADMXY ORDER BY rowid LIMIT 5)")),
              QStringLiteral("W101 2026 49,W102 2026 49,M101 2026 12,M102 2026 12,Y101 2026 115"));
}

TEST(Program, CannotStart)
{
    {
        QTemporaryDir dir;
        const Outcome o = Program(Embedded, dir.path()).run({});
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(o.lines.isEmpty());
        EXPECT_EQ(o.err,
                  QStringLiteral("salestotals-batch: The database file '%1' does not exist\n")
                      .arg(QDir(dir.path()).filePath(QStringLiteral("QVT.sqlite"))));
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("QVT.sqlite"))));
    }
    {
        // No week for today in the calendar: the start-up ends before emptying anything.
        TestDatabase db;
        fill(db);
        db.exec(QStringLiteral("DELETE FROM FCMSDT"));
        const Outcome o = Program(Embedded, directoryOf(db)).run(wholePeriod());
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(o.lines.isEmpty());
        EXPECT_EQ(o.err, QStringLiteral("salestotals-batch: Invalid variant type conversion\n"));
        EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX")), QStringLiteral("1"));
        EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXY")), QStringLiteral("1"));
    }
    {
        // Old completion rows would skip batches that never ran: no run on top of them.
        TestDatabase db;
        fill(db);
        db.exec(QStringLiteral("CREATE TRIGGER keep_xy BEFORE DELETE ON FADMXY "
                               "BEGIN SELECT RAISE(ABORT, 'FADMXY is locked'); END"));
        const Outcome o = Program(Embedded, directoryOf(db)).run(wholePeriod());
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(o.lines.isEmpty());
        EXPECT_EQ(o.err, QStringLiteral("salestotals-batch: the summary tables were not emptied: "
                                        "FADMXY is locked\n"));
        EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX")), QStringLiteral("1"));
    }
    {
        // A completion check that fails ends the run.
        TestDatabase db;
        fill(db);
        db.exec(QStringLiteral("DROP TABLE FADMXY; CREATE TABLE FADMXY (COMPANY, XY000, XY001)"));
        const Outcome o = Program(Embedded, directoryOf(db)).run(wholePeriod());
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(o.lines.isEmpty());
        EXPECT_EQ(o.err, QStringLiteral("salestotals-batch: the completion check failed, the run "
                                        "ends: no such column: XY002\n"));
        EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX")), QStringLiteral("0"));
    }
}

// Each run is appended: header, the printed lines, exit status. A log that cannot be written
// costs one line on standard error and nothing else.
TEST(Program, LogAppendsEachRunAndNeverFailsIt)
{
    TestDatabase db;
    fill(db);
    const Program program(Embedded, directoryOf(db));
    const QString log = QDir(directoryOf(db)).filePath(QStringLiteral("logs/batch.log"));
    // A path below a file: no folder can be made there, not even by root.
    const QString unwritable = db.path() + QStringLiteral("/batch.log");
    const Outcome unlogged = program.run(wholePeriod() + QStringList{"--log", unwritable});
    EXPECT_EQ(unlogged.status, 0);
    EXPECT_EQ(unlogged.lines.size(), 12);
    EXPECT_EQ(unlogged.err.count(u'\n'), 1) << unlogged.err.toStdString();
    EXPECT_TRUE(unlogged.err.startsWith(
        QStringLiteral("salestotals-batch: the log %1 cannot be written").arg(unwritable)))
        << unlogged.err.toStdString();

    const Outcome first = program.run(wholePeriod() + QStringList{"--log", log});
    EXPECT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_EQ(first.lines.size(), 12);
    db.exec(QStringLiteral("DROP TABLE COPTG"));
    const Outcome second = program.run(wholePeriod() + QStringList{"--log=" + log});
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(first.err.isEmpty() && second.err.isEmpty()) << second.err.toStdString();

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList logged = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    const QRegularExpression header(
        QStringLiteral("^== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d on .+: "
                       "year 2024, month 6, week 23$"));
    ASSERT_EQ(logged.size(), 2 * 14) << logged.join(u'\n').toStdString();
    for (const auto &[at, outcome, status] : {std::tuple{0, first, 0}, std::tuple{14, second, 1}}) {
        EXPECT_TRUE(header.match(logged[at]).hasMatch()) << logged[at].toStdString();
        EXPECT_EQ(logged.mid(at + 1, 12), outcome.lines);
        EXPECT_EQ(logged[at + 13], QStringLiteral("== exit status %1").arg(status));
    }
}

TEST(Program, UnreachableSqlServerCannotStart)
{
    QTemporaryDir dir;
    const Outcome o = Program(SqlServerNobodyListens, dir.path()).run(wholePeriod());
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.lines.isEmpty());
    EXPECT_TRUE(o.err.startsWith(QLatin1String("salestotals-batch: "))) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains(QLatin1String("[FreeTDS]"))) << o.err.toStdString();
    EXPECT_EQ(o.err.count(u'\n'), 1) << "one line: " << o.err.toStdString();
}

// Checked before anything else: a database that is missing or full of old rows is never
// looked at.
TEST(Program, BadOptionsAreUsageErrors)
{
    TestDatabase db;
    fill(db);
    const QByteArray before = digest(db.path());
    QTemporaryDir empty;
    const Program withDatabase(Embedded, directoryOf(db));
    const Program withoutDatabase(Embedded, empty.path());
    const QList<QStringList> bad{
        {"--year", "24"}, {"--month", "13"}, {"--week", "0"}, {"--week", "54"},
        {"--year"},       {"--verbose"},     {"2024"},        {"--dry-run", "--month", "May"},
        {"--log"},        {"--log="}};
    for (const QStringList &args : bad) {
        for (const Program *program : {&withDatabase, &withoutDatabase}) {
            const Outcome o = program->run(args);
            EXPECT_EQ(o.status, 2) << args.join(u' ').toStdString();
            EXPECT_TRUE(o.lines.isEmpty());
            EXPECT_TRUE(o.err.endsWith(QLatin1String("\nTry 'salestotals-batch --help'.\n")))
                << o.err.toStdString();
            EXPECT_FALSE(o.err.contains(QLatin1String("database"))) << o.err.toStdString();
        }
    }
    EXPECT_EQ(digest(db.path()), before);
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXY")), QStringLiteral("1"));

    const Outcome help = withoutDatabase.run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.err.isEmpty());
    ASSERT_FALSE(help.lines.isEmpty());
    EXPECT_TRUE(help.lines.first().startsWith(QLatin1String("Usage: salestotals-batch ")));
}

// The statements as texts for a year of digits, from both kinds of build: with the whole
// period given neither opens a database, not even the SQL Server build whose server is
// unreachable.
TEST(Program, DryRunPrintsTheExactStatementsWithoutADatabase)
{
    for (const char *built : {Embedded, SqlServerNobodyListens}) {
        QTemporaryDir dir;
        const Outcome o = Program(built, dir.path())
                              .run({"--dry-run", "--year", "2024", "--month", "5", "--week", "20"});
        EXPECT_EQ(o.status, 0) << built << ": " << o.err.toStdString();
        EXPECT_TRUE(o.err.isEmpty());
        ASSERT_EQ(o.lines.size(), 1 + 12 * 4) << built;
        EXPECT_EQ(o.lines.first(), QStringLiteral("-- year 2024, month 5, week 20"));
        const auto after = [&](const char *header) {
            const qsizetype i = o.lines.indexOf(QLatin1String(header));
            return i < 0 || i + 1 >= o.lines.size() ? QStringLiteral("<missing>") : o.lines[i + 1];
        };
        EXPECT_EQ(after("-- M101 summary, binds Month = 5"), QLatin1String(M101Summary));
        EXPECT_EQ(after("-- M101 completion, binds Month = 5"), QLatin1String(M101Completion));
        EXPECT_EQ(after("-- Y301 summary, binds nothing"), QLatin1String(Y301Summary));
        EXPECT_EQ(after("-- Y301 completion, binds nothing"), QLatin1String(Y301Completion));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"salestotals-batch"});
    }
}

TEST(Program, DryRunReadsOnlyTodaysWeekAndChangesNothing)
{
    TestDatabase db;
    fill(db);
    const QByteArray before = digest(db.path());
    const Outcome o =
        Program(Embedded, directoryOf(db)).run({"--dry-run", "--year", "2024", "--month", "5"});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    ASSERT_EQ(o.lines.size(), 1 + 12 * 4);
    // Calendar week 50 today: last week, 49, as proposed.
    EXPECT_EQ(o.lines.first(), QStringLiteral("-- year 2024, month 5, week 49"));
    EXPECT_EQ(o.lines[1], QStringLiteral("-- W101 summary, binds Week = 49"));
    EXPECT_TRUE(o.lines[2].endsWith(QLatin1String("='49' GROUP BY TC006")));
    EXPECT_EQ(digest(db.path()), before);
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXX")), QStringLiteral("1"));
    EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM FADMXY")), QStringLiteral("1"));
}

// A scheduler's bare environment (LC_ALL=C) and a log path outside ASCII: the name on disk is
// the path as given, in UTF-8, and the run is in it.
TEST(Program, LogPathOutsideAsciiIsTakenWhole)
{
    TestDatabase db;
    fill(db);
    const Program program(Embedded, directoryOf(db));
    const QString log = QDir(directoryOf(db)).filePath(QString::fromUtf8("報表 日誌/週報 ü–ß.log"));
    const bool localeSet = qEnvironmentVariableIsSet("LC_ALL");
    const QByteArray locale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    const Outcome outcome = program.run(wholePeriod() + QStringList{"--log", log});
    if (localeSet)
        qputenv("LC_ALL", locale);
    else
        qunsetenv("LC_ALL");
    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    EXPECT_TRUE(outcome.err.isEmpty()) << outcome.err.toStdString();

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text))
        << QDir(directoryOf(db)).entryList().join(u' ').toStdString();
    const QStringList logged = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(logged.size(), 14) << logged.join(u'\n').toStdString();
    EXPECT_EQ(logged.mid(1, 12), outcome.lines);
    EXPECT_EQ(logged.last(), QStringLiteral("== exit status 0"));
}

namespace {

// Each line of a --json run as an object; a line that is no JSON object fails the test.
QList<QJsonObject> objects(const QStringList &lines)
{
    QList<QJsonObject> result;
    for (const QString &line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_TRUE(error.error == QJsonParseError::NoError && doc.isObject())
            << error.errorString().toStdString() << " in " << line.toStdString();
        result << doc.object();
    }
    return result;
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The value of a sample in a metrics file; "" when absent.
QString sample(const QString &metrics, const QString &name)
{
    const QRegularExpression line(u'^' + QRegularExpression::escape(name) +
                                      QStringLiteral(" (.+)$"),
                                  QRegularExpression::MultilineOption);
    return line.match(metrics).captured(1);
}

} // namespace

// A run with failed batches, as JSON Lines and in the metrics file: the last success is the
// run before, which this one keeps.
TEST(Program, FailedBatchesAsJsonLinesAndMetrics)
{
    TestDatabase db;
    fill(db);
    const Program program(Embedded, directoryOf(db));
    const QString metrics = QDir(directoryOf(db)).filePath(QStringLiteral("salestotals.prom"));
    const Outcome first = program.run(wholePeriod() + QStringList{"--metrics", metrics});
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    const QString succeeded =
        sample(readAll(metrics), QStringLiteral("salestotals_run_last_success_timestamp_seconds"));
    ASSERT_FALSE(succeeded.isEmpty()) << readAll(metrics).toStdString();

    db.exec(QStringLiteral("DROP TABLE COPTG"));
    const Outcome o = program.run(wholePeriod() + QStringList{"--json", "--metrics", metrics});
    EXPECT_EQ(o.status, 1) << o.err.toStdString();
    const QList<QJsonObject> lines = objects(o.lines);
    ASSERT_EQ(lines.size(), 13);
    EXPECT_EQ(lines[0]["code"], "W101");
    EXPECT_EQ(lines[0]["status"], "done");
    EXPECT_EQ(lines[0]["rows"], 1);
    EXPECT_TRUE(lines[0]["ms"].isDouble());
    EXPECT_EQ(lines[0]["period"].toObject(), (QJsonObject{{"year", "2024"}, {"week", 23}}));
    EXPECT_EQ(lines[4]["period"].toObject(), (QJsonObject{{"year", "2024"}, {"roc_year", "113"}}));
    EXPECT_EQ(lines[10]["code"], "M301");
    EXPECT_EQ(lines[10]["status"], "failed");
    EXPECT_EQ(lines[10]["message"], "no such table: COPTG");
    EXPECT_EQ(lines[10]["period"].toObject(), (QJsonObject{{"year", "2024"}, {"month", 6}}));
    const QJsonObject all = lines.last();
    EXPECT_EQ(all["code"], "ALL");
    EXPECT_EQ(all["status"], "failed");
    EXPECT_EQ(all["exit_status"], 1);
    EXPECT_EQ(all["done"], 9);
    EXPECT_EQ(all["skipped"], 0);
    EXPECT_EQ(all["failed"], 3);
    EXPECT_EQ(all["period"].toObject(),
              (QJsonObject{{"year", "2024"}, {"month", 6}, {"week", 23}}));

    const QString text = readAll(metrics);
    EXPECT_EQ(sample(text, QStringLiteral("salestotals_run_last_success_timestamp_seconds")),
              succeeded);
    EXPECT_EQ(sample(text, QStringLiteral("salestotals_run_exit_status")), "1");
    EXPECT_EQ(sample(text, QStringLiteral("salestotals_run_success")), "0");
    EXPECT_EQ(sample(text, QStringLiteral("salestotals_run_batches{outcome=\"failed\"}")), "3");
    EXPECT_EQ(sample(text, QStringLiteral("salestotals_run_batches{outcome=\"done\"}")), "9");
    EXPECT_GE(sample(text, QStringLiteral("salestotals_run_last_timestamp_seconds")).toDouble(),
              succeeded.toDouble());
    EXPECT_TRUE(text.contains(QLatin1String("# TYPE salestotals_run_duration_seconds gauge\n")));
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (!promtool.isEmpty()) {
        QProcess check;
        check.setStandardInputFile(metrics);
        check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
        ASSERT_TRUE(check.waitForFinished());
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardError().toStdString();
    }
}

// A metrics file that cannot be written costs one line on standard error, like the log.
TEST(Program, MetricsFileInAMissingFolderLeavesTheRunAlone)
{
    TestDatabase db;
    fill(db);
    const QString metrics = QDir(directoryOf(db)).filePath(QStringLiteral("no-such/run.prom"));
    const Outcome o =
        Program(Embedded, directoryOf(db)).run(wholePeriod() + QStringList{"--metrics", metrics});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.lines.size(), 12);
    EXPECT_EQ(o.err, QStringLiteral("salestotals-batch: the metrics file %1 cannot be written (its "
                                    "folder does not exist); the run goes on without it\n")
                         .arg(metrics));
    EXPECT_FALSE(QFile::exists(metrics));
}

// Under systemd standard output and error are one stream that JOURNAL_STREAM names: failures
// carry error priority there, and nowhere else; the log never has the prefix.
TEST(Program, FailedBatchHasErrorPriorityInTheJournalOnly)
{
    TestDatabase db;
    fill(db);
    db.exec(QStringLiteral("DROP TABLE COPTG"));
    const Program program(Embedded, directoryOf(db));
    const QString log = QDir(directoryOf(db)).filePath(QStringLiteral("batch.log"));
    const QStringList journal{
        QStringLiteral("sh"), QStringLiteral("-c"),
        QStringLiteral("exec 2>&1; JOURNAL_STREAM=$(stat -L -c %d:%i /dev/stderr); "
                       "export JOURNAL_STREAM; exec \"$0\" \"$@\"")};
    const Outcome o = program.run(wholePeriod() + QStringList{"--log", log}, journal);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(withoutTimes(o.lines).mid(8),
              (QStringList{"Y103 done 1", "<3>W301 failed: no such table: COPTG",
                           "<3>M301 failed: no such table: COPTG",
                           "<3>Y301 failed: no such table: COPTG"}));
    EXPECT_FALSE(readAll(log).contains(QLatin1String("<3>"))) << readAll(log).toStdString();

    const Outcome elsewhere =
        program.run(wholePeriod(), {QStringLiteral("env"), QStringLiteral("JOURNAL_STREAM=1:1")});
    EXPECT_EQ(elsewhere.lines.last(), QStringLiteral("Y301 failed: no such table: COPTG"));
}
