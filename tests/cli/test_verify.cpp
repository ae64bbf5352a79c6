// salestotals-batch --verify on a demo database after a run, with the tables changed behind
// the program's back: what each line says and the exit status.
#include "program.h"

#include "batch/verify.h"
#include "dm/run_lock.h"
#include "sqlcompat/sqlcompat.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sqlite3.h>

namespace {

const QStringList Period{"--year", "2026", "--month", "12", "--week", "49"};
const QStringList Codes{"W101", "W102", "M101", "M102", "Y101", "Y102",
                        "W103", "M103", "Y103", "W301", "M301", "Y301"};

// One value of a plain SQLite connection of the test's own, as SQLite prints it; "" for none.
QString value(const QString &path, const QString &sql)
{
    sqlite3 *db = nullptr;
    QString result;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK) {
        if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL)
            result =
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        else if (sqlite3_errcode(db) != SQLITE_OK && sqlite3_errcode(db) != SQLITE_DONE &&
                 sqlite3_errcode(db) != SQLITE_ROW)
            ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql.toStdString();
    } else {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql.toStdString();
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

sqlcompat::Decimal decimal(const QString &text)
{
    const auto d = sqlcompat::Decimal::parse(text.toStdString());
    EXPECT_TRUE(d.has_value()) << text.toStdString();
    return d.value_or(sqlcompat::Decimal());
}

class Verify : public ::testing::Test
{
protected:
    // The demo database once, and the twelve batches run on it once.
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        const QString demo = s_dir->filePath(QStringLiteral("QVT.sqlite"));
        QProcess tool;
        tool.start(QStringLiteral(DEMO_DB_TOOL), {demo});
        if (!tool.waitForFinished(120000) || tool.exitCode() != 0)
            return;
        s_ran = Program(Embedded, s_dir->path()).run(Period).status == 0;
    }
    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override
    {
        ASSERT_TRUE(s_ran) << "no demo database, or its run failed";
        ASSERT_TRUE(QFile::copy(s_dir->filePath(QStringLiteral("QVT.sqlite")), database));
        ASSERT_EQ(value(database, QStringLiteral("SELECT count(*) FROM FADMXY")), "12");
    }

    void exec(const QString &sql) const
    {
        sqlite3 *db = nullptr;
        char *error = nullptr;
        if (sqlite3_open(database.toUtf8().constData(), &db) != SQLITE_OK ||
            sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK)
            ADD_FAILURE() << (error ? error : sqlite3_errmsg(db)) << " in " << sql.toStdString();
        sqlite3_free(error);
        sqlite3_close(db);
    }

    QString stored(const QString &sql) const { return value(database, sql); }

    // Every batch ok with the groups the run wrote, but for the lines given.
    QStringList expected(const QMap<QString, QString> &differing) const
    {
        QStringList lines;
        for (const QString &code : Codes) {
            const QString groups =
                stored(QStringLiteral("SELECT count(*) FROM FADMXX WHERE XX001 = '%1'").arg(code));
            lines << differing.value(code, QStringLiteral("%1 ok %2 groups").arg(code, groups));
        }
        return lines;
    }

    // A group of invoices in week 49 and in December.
    QString invoiceGroup() const
    {
        const QString group = stored(QStringLiteral(
            "SELECT XX005 FROM FADMXX WHERE XX001 = 'W301' AND XX004 IS NOT NULL AND XX005 IN "
            "(SELECT XX005 FROM FADMXX WHERE XX001 = 'M301') ORDER BY XX005 LIMIT 1"));
        EXPECT_FALSE(group.isEmpty()) << "no group of week 49 in December";
        return group;
    }

    QMap<QString, QString> invoiceTotals(const QString &group) const
    {
        QMap<QString, QString> totals;
        for (const QString code : {"W301", "M301", "Y301"})
            totals[code] = stored(QStringLiteral("SELECT XX004 FROM FADMXX WHERE XX001 = '%1' "
                                                 "AND XX005 = '%2'")
                                      .arg(code, group));
        return totals;
    }

    // A confirmed invoice of 152.5 in the group, posted now.
    void addInvoice(const QString &day, const QString &group) const
    {
        exec(QStringLiteral("INSERT INTO COPTG (TG001,TG002,TG003,TG004,TG006,TG023,TG045,TG046) "
                            "VALUES ('2301','LATE000001','%1','C100','%2','Y',150,2.5)")
                 .arg(day, group));
    }

    // The lines of batches moved by that invoice, from their totals before it.
    static QMap<QString, QString> grownBy152_5(const QMap<QString, QString> &before,
                                               const QString &group)
    {
        QMap<QString, QString> lines;
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            lines[it.key()] =
                QStringLiteral("%1 moved since the run: 1 total differs, largest 152.5 in '%2' "
                               "(stored %3, recomputed %4)")
                    .arg(it.key(), group, verify::totalText(decimal(it.value())),
                         verify::totalText(*decimal(it.value()).plus(decimal("152.5"))));
        return lines;
    }

    Outcome verify(const QStringList &more = {}) const
    {
        Outcome o = Program(Embedded, dir.path()).run(Period + QStringList{"--verify"} + more);
        // The time varies; the rest of the closing line is asserted.
        if (!o.lines.isEmpty())
            o.lines.last().remove(QRegularExpression(QStringLiteral(" \\d+ ms$")));
        return o;
    }

    QTemporaryDir dir;
    QString database = dir.filePath(QStringLiteral("QVT.sqlite"));
    static inline QTemporaryDir *s_dir = nullptr;
    static inline bool s_ran = false;
};

QJsonObject object(const QString &line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    EXPECT_TRUE(error.error == QJsonParseError::NoError && doc.isObject())
        << error.errorString().toStdString() << " in " << line.toStdString();
    return doc.object();
}

QString lastSuccess(const QString &metrics)
{
    static const QRegularExpression line(
        QStringLiteral("^salestotals_run_last_success_timestamp_seconds (.+)$"),
        QRegularExpression::MultilineOption);
    return line.match(metrics).captured(1);
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
               : QByteArray();
}

TEST_F(Verify, UntouchedTotalsAreAllOkAndNothingIsWritten)
{
    const QByteArray before = digest(database);
    const QString log = dir.filePath(QStringLiteral("verify.log"));
    const Outcome o = verify({QStringLiteral("--log"), log});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.lines, expected({}) << "ALL ok 12 of 12 batches");
    EXPECT_EQ(o.err, QString());
    EXPECT_EQ(digest(database), before);

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList logged = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(logged.size(), 15);
    EXPECT_TRUE(logged.first().endsWith(QLatin1String(": year 2026, month 12, week 49, verify")))
        << logged.first().toStdString();
    EXPECT_EQ(logged.mid(1, 12), o.lines.mid(0, 12));
    EXPECT_EQ(logged.last(), QStringLiteral("== exit status 0"));
}

// Verify never compares a half-done run: it waits for the run lock, and gives up as a run does.
TEST_F(Verify, RunLockHeldIsBusy)
{
    QLockFile held(dm::RunLock::lockFilePath(database));
    ASSERT_TRUE(held.tryLock(0));
    const Outcome o = Program(ShortWait, dir.path()).run(Period + QStringList{"--verify"});
    EXPECT_EQ(o.status, 75);
    EXPECT_TRUE(o.lines.isEmpty()) << o.lines.join(u'\n').toStdString();
    EXPECT_TRUE(o.err.contains(QLatin1String("Another run holds the company database C_QVT")))
        << o.err.toStdString();
}

// An invoice of the week posted after the run: the three invoice batches of its week, month
// and year differ by its amount in its group; the order batches do not. The week was over at
// the run, so it is drift; December and 2026 were still running, so their lines say moved.
TEST_F(Verify, InvoiceAddedAfterTheRunShowsInExactlyTheBatchesThatSumIt)
{
    const QString group = invoiceGroup();
    const QMap<QString, QString> before = invoiceTotals(group);
    addInvoice(QStringLiteral("20261203"), group);

    const Outcome o = verify();
    QMap<QString, QString> differing = grownBy152_5(before, group);
    differing["W301"].replace(QLatin1String("moved since the run"), QLatin1String("differs"));
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    EXPECT_EQ(o.lines, expected(differing)
                           << "ALL differs 1 of 12 batches (2 moved since the run)");
}

// An invoice posted after the run for a day after the run's week, in a month and year still
// running: growth that the next run picks up, not drift.
TEST_F(Verify, InvoiceOfALaterDayInTheRunningMonthIsGrowth)
{
    const QString group = invoiceGroup();
    QMap<QString, QString> before = invoiceTotals(group);
    before.remove(QStringLiteral("W301"));
    addInvoice(QStringLiteral("20261215"), group);

    const Outcome o = verify();
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.lines, expected(grownBy152_5(before, group))
                           << "ALL ok 10 of 12 batches (2 moved since the run)");
}

TEST_F(Verify, SummaryRowPresentTwiceIsABatchCountedTwice)
{
    const QString firstRow = QStringLiteral("(SELECT min(rowid) FROM FADMXX WHERE XX001 = 'M101')");
    const QString group =
        stored(QStringLiteral("SELECT XX005 FROM FADMXX WHERE rowid = ") + firstRow);
    exec(QStringLiteral("INSERT INTO FADMXX SELECT * FROM FADMXX WHERE rowid = ") + firstRow);

    const Outcome o = verify();
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    EXPECT_EQ(o.lines,
              expected({{"M101",
                         QStringLiteral("M101 differs: 1 group present twice (counted twice): '%1'")
                             .arg(group)}})
                  << "ALL differs 1 of 12 batches");
}

TEST_F(Verify, DeletedCompletionRowAndEditedSummaryRow)
{
    const QString row = QStringLiteral(
        "(SELECT min(rowid) FROM FADMXX WHERE XX001 = 'Y101' AND XX004 IS NOT NULL)");
    const QString group = stored(QStringLiteral("SELECT XX005 FROM FADMXX WHERE rowid = ") + row);
    const sqlcompat::Decimal total =
        decimal(stored(QStringLiteral("SELECT XX004 FROM FADMXX WHERE rowid = ") + row));
    const QString w102Rows =
        stored(QStringLiteral("SELECT count(*) FROM FADMXX WHERE XX001 = 'W102'"));
    exec(QStringLiteral("DELETE FROM FADMXY WHERE XY001 = 'W102';"
                        "UPDATE FADMXX SET XX004 = XX004 + 1000 WHERE rowid = ") +
         row);

    const Outcome o = verify();
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    QStringList lines = expected(
        {{"W102", QStringLiteral("W102 differs: summary rows without completion row (%1 rows)")
                      .arg(w102Rows)},
         // A running year's changed total in a group with rows after the week: verify cannot
         // tell an edit from orders posted since the run.
         {"Y101",
          QStringLiteral("Y101 moved since the run: 1 total differs, largest 1000 in '%1' (stored "
                         "%2, recomputed %3)")
              .arg(group, verify::totalText(*total.plus(sqlcompat::Decimal::fromInt64(1000))),
                   verify::totalText(total))}});
    EXPECT_EQ(o.lines, lines << "ALL differs 1 of 12 batches (1 moved since the run)");
}

// The summary rows of a batch deleted, its completion row kept; and a batch never done.
TEST_F(Verify, CompletionRowWithoutSummaryRowsAndABatchNotDone)
{
    const QString m103Groups =
        stored(QStringLiteral("SELECT count(*) FROM FADMXX WHERE XX001 = 'M103'"));
    exec(QStringLiteral("DELETE FROM FADMXX WHERE XX001 IN ('M103', 'Y301');"
                        "DELETE FROM FADMXY WHERE XY001 = 'Y301'"));

    const Outcome o = verify();
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    EXPECT_EQ(o.lines, expected({{"M103", QStringLiteral("M103 differs: completion row without "
                                                         "summary rows (%1 groups recomputed)")
                                              .arg(m103Groups)},
                                 {"Y301", QStringLiteral("Y301 not done")}})
                           << "ALL differs 1 of 11 batches");
}

// A busy run as JSON, and its metrics file: replaced whole (a reader holding the old file
// reads it to its end), with the last success of the run before.
TEST_F(Verify, BusyRunAsJsonKeepsTheLastSuccessInItsMetrics)
{
    const QString metrics = dir.filePath(QStringLiteral("salestotals-batch.prom"));
    const Program program(ShortWait, dir.path());
    ASSERT_EQ(program.run(Period + QStringList{"--metrics", metrics}).status, 0);
    QFile copy(metrics);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    const QByteArray old = copy.readAll();
    const QString succeeded = lastSuccess(QString::fromUtf8(old));
    ASSERT_FALSE(succeeded.isEmpty());
    // Open, unread, while the next run writes.
    QFile before(metrics);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly | QIODevice::Unbuffered));

    QLockFile held(dm::RunLock::lockFilePath(database));
    ASSERT_TRUE(held.tryLock(0));
    const Outcome o = program.run(Period + QStringList{"--json", "--metrics", metrics});
    EXPECT_EQ(o.status, 75);
    ASSERT_EQ(o.lines.size(), 1) << o.lines.join(u'\n').toStdString();
    const QJsonObject all = object(o.lines.first());
    EXPECT_EQ(all["code"], "ALL");
    EXPECT_EQ(all["status"], "busy");
    EXPECT_EQ(all["exit_status"], 75);
    EXPECT_EQ(all["done"], 0);
    EXPECT_TRUE(all["message"].toString().contains(
        QLatin1String("Another run holds the company database C_QVT")))
        << all["message"].toString().toStdString();

    EXPECT_EQ(before.readAll(), old) << "the file was rewritten in place";
    QFile after(metrics);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(after.readAll());
    EXPECT_TRUE(text.contains(QLatin1String("\nsalestotals_run_exit_status 75\n")))
        << text.toStdString();
    EXPECT_EQ(lastSuccess(text), succeeded);
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("salestotals-batch.prom*")}, QDir::Files),
              QStringList{"salestotals-batch.prom"});
}

// Drift and growth as JSON Lines: the largest difference with its group, its totals exact.
TEST_F(Verify, DriftAsJsonLines)
{
    const QString group = invoiceGroup();
    const QMap<QString, QString> before = invoiceTotals(group);
    addInvoice(QStringLiteral("20261203"), group);

    const Outcome o = verify({QStringLiteral("--json")});
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    ASSERT_EQ(o.lines.size(), 13);
    const QJsonObject w301 = object(o.lines[9]);
    EXPECT_EQ(w301["code"], "W301");
    EXPECT_EQ(w301["status"], "differs");
    EXPECT_EQ(w301["period"].toObject(), (QJsonObject{{"year", "2026"}, {"week", 49}}));
    const QString stored = verify::totalText(decimal(before["W301"]));
    EXPECT_EQ(
        w301["largest"].toObject(),
        (QJsonObject{{"group", group},
                     {"stored", stored},
                     {"recomputed", verify::totalText(*decimal(stored).plus(decimal("152.5")))},
                     {"difference", "152.5"}}));
    EXPECT_EQ(w301["differences"].toArray().size(), 1);
    EXPECT_EQ(object(o.lines[10])["status"], "moved");
    EXPECT_EQ(object(o.lines[0])["status"], "ok");
    EXPECT_GT(object(o.lines[0])["groups"].toInt(), 0);
    const QJsonObject all = object(o.lines.last());
    EXPECT_EQ(all["status"], "differs");
    EXPECT_EQ(all["exit_status"], 3);
    EXPECT_EQ(all["ok"], 9);
    EXPECT_EQ(all["differs"], 1);
    EXPECT_EQ(all["moved"], 2);
    EXPECT_EQ(all["failed"], 0);
}

} // namespace
