// The real client stack (QODBC, unixODBC, FreeTDS) against standin.py, a test double for the
// server's side of TDS; run under LANG=C as cron and systemd would.
#include "batch/batch_run.h"
#include "batch/boxes.h"
#include "cli/verify_cli.h"
#include "dm/connection.h"
#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/run_lock.h"
#include "dm/settings.h"
#include "dm/shared_values.h"
#include "fakes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

bool freeTdsInstalled()
{
    QProcess odbcinst;
    odbcinst.start(QStringLiteral("odbcinst"), {QStringLiteral("-q"), QStringLiteral("-d")});
    return odbcinst.waitForFinished() && odbcinst.readAllStandardOutput().contains(
                                             '[' + dm::configuredOdbcDriver().toUtf8() + ']');
}

class StandIn
{
public:
    explicit StandIn(const QString &script, const QStringList &options = {},
                     const QString &python = QStringLiteral("python3"))
    {
        m_log = m_dir.filePath(QStringLiteral("log.jsonl"));
        m_process.start(python, QStringList{QStringLiteral(STANDIN_PY), script, m_log} + options);
        if (m_process.waitForReadyRead(20000))
            m_port = m_process.readLine().trimmed().toInt();
        if (m_port == 0) {
            m_process.waitForFinished(1000);
            m_failure = QString::fromLocal8Bit(m_process.readAllStandardError());
        }
    }
    QString failure() const { return m_failure; } // why it did not start
    ~StandIn()
    {
        // A request the stand-in could not read leaves the case unproven.
        for (const QJsonObject &e : events(QStringLiteral("standin-error")))
            ADD_FAILURE() << "stand-in: " << e[QLatin1String("error")].toString().toStdString();
        // The end of its input ends it, and its KDC with it.
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }
    int port() const { return m_port; }
    // The network breaks under every session; returns once the stand-in has ended them.
    bool drop()
    {
        const qsizetype ended = events(QStringLiteral("session-end")).size();
        m_process.write("drop\n");
        QElapsedTimer timer;
        timer.start();
        while (events(QStringLiteral("session-end")).size() == ended)
            if (!m_process.waitForReadyRead(20) && timer.hasExpired(10000))
                return false;
        return true;
    }
    QString connectionString(const QString &login = QStringLiteral("User ID=st;Password=pw")) const
    {
        return QStringLiteral("Initial Catalog=QVT;%1;Data Source=127.0.0.1,%2")
            .arg(login)
            .arg(m_port);
    }
    QList<QJsonObject> events(const QString &kind = {}) const
    {
        QList<QJsonObject> result;
        QFile file(m_log);
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (const QJsonObject e = QJsonDocument::fromJson(line).object();
                    !e.isEmpty() && (kind.isEmpty() || e[QLatin1String("event")] == kind))
                    result << e;
        return result;
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    QProcess m_process;
    int m_port = 0;
    QString m_failure;
};

// The settings of these cases: FreeTDS, with options that name the test as the application.
class SqlServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dm::Settings s;
        const QString origin = QStringLiteral("test");
        s.set(QStringLiteral("backend"), QStringLiteral("sqlserver"), origin);
        s.set(QStringLiteral("server"), QStringLiteral("127.0.0.1,1"), origin);
        s.set(QStringLiteral("odbc_driver"), QStringLiteral("FreeTDS"), origin);
        s.set(QStringLiteral("odbc_options"),
              QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;APP=salestotals-sqlserver-test"),
              origin);
        dm::useSettings(s);
        if (!freeTdsInstalled())
            GTEST_SKIP() << "the ODBC driver " << dm::configuredOdbcDriver().toStdString()
                         << " is not installed (odbcinst -q -d)";
    }
};

struct Outcomes : BatchListener
{
    void batchDone(const QString &code, int, qint64) override { outcome[code] = "done"; }
    void batchFailed(const QString &code, const QString &message) override
    {
        outcome[code] = "failed";
        messages << message;
    }
    std::map<QString, std::string> outcome;
    QStringList messages;
};

// The committed work, replayed from the stand-in's log: completion rows by batch code at the
// end, and the commits of batch rows made by a session that did not hold the run lock.
struct Committed
{
    explicit Committed(const StandIn &server)
    {
        for (const QJsonObject &commit : server.events(QStringLiteral("commit"))) {
            if (!commit[QLatin1String("deletes")].toArray().isEmpty())
                rows.clear();
            const QJsonArray inserts = commit[QLatin1String("inserts")].toArray();
            for (const QJsonValue &insert : inserts)
                if (insert[QLatin1String("table")] == QLatin1String("fadmxy"))
                    ++rows[insert[QLatin1String("code")].toString()];
            if (!inserts.isEmpty() && !commit[QLatin1String("run_lock")].toBool())
                ++withoutRunLock;
        }
    }
    std::map<QString, int> rows;
    int withoutRunLock = 0;
};

TEST_F(SqlServer, ItemNamesArriveWholeInTheCLocale)
{
    StandIn server(QStringLiteral("items"));
    ASSERT_GT(server.port(), 0);
    dm::Connection db(dm::Backend::SqlServer, 5);
    db.setConnectionString(server.connectionString());
    dm::Query items(&db);
    items.setSQL(QStringLiteral(" Select * from FCMSFL WHERE FL000 IN ('40','41','42','43')"));
    items.open();
    ASSERT_EQ(items.recordCount(), 2);
    EXPECT_EQ(items.fieldByName(QStringLiteral("FL002")).asString(),
              QStringLiteral("營業用高級不鏽鋼雙層保溫便當盒附提袋組合"));
    items.next();
    EXPECT_EQ(items.fieldByName(QStringLiteral("FL002")).asString(),
              QStringLiteral("測試用品項名稱甲乙丙丁戊己庚辛壬癸子丑寅"));
    EXPECT_EQ(items.fieldByName(QStringLiteral("FL001")).asString(), QStringLiteral("A001"));
    EXPECT_EQ(items.fieldByName(QStringLiteral("FL010")).asInteger(), 8);
    EXPECT_EQ(items.fieldByName(QStringLiteral("FL000")).asString(), QStringLiteral("40"));
}

// The data module on the stand-in, and an OK press with its boxes answered and its outcomes
// written down.
struct PressOk
{
    explicit PressOk(const StandIn &server)
    {
        CompanyCode = QStringLiteral("C_QVT");
        dm::FDM = &fdm;
        fdm.PUB_DB.setConnectionString(server.connectionString());
    }
    ~PressOk() { dm::FDM = nullptr; }
    void run(dm::RunLock *lock = nullptr)
    {
        BatchRun(adoInSert, period, boxes, &outcomes, lock).BitBtn1Click();
    }
    // Under the run lock, as the window's OK; emptying the tables first as its start-up does.
    void runLocked(bool emptyFirst = false)
    {
        dm::RunLock lock(fdm.PUB_DB, CompanyCode);
        lock.acquire();
        ASSERT_TRUE(!emptyFirst || ClearSummaryTables(boxes));
        run(&lock);
    }

    dm::TFDM fdm;
    dm::Query adoInSert{&fdm.PUB_DB};
    FakePeriod period;
    RecordingBoxes boxes;
    Outcomes outcomes;
};

// The server ends the first batch's transaction (error 241), so its ROLLBACK finds none.
TEST_F(SqlServer, EachBatchIsAllOrNothingAfterTheServerEndsATransaction)
{
    StandIn server(QStringLiteral("rollback"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    press.run();

    std::map<QString, int> committed; // completion rows by batch code
    for (const QJsonObject &commit : server.events(QStringLiteral("commit"))) {
        const QJsonArray inserts = commit[QLatin1String("inserts")].toArray();
        EXPECT_EQ(commit[QLatin1String("why")].toString(), QStringLiteral("request"))
            << "a statement committed outside a transaction";
        ASSERT_EQ(inserts.size(), 2) << "summary and completion rows apart";
        const QString completion = inserts[1].toObject()[QLatin1String("sql")].toString();
        static const QRegularExpression codeText(QStringLiteral("'([WMY][0-9]{3})'"));
        const QString code = codeText.match(completion).captured(1);
        ++committed[code];
    }
    ASSERT_EQ(press.outcomes.outcome.size(), 12u);
    int failed = 0;
    for (const auto &[code, outcome] : press.outcomes.outcome) {
        failed += outcome == "failed";
        EXPECT_EQ(committed[code], outcome == "done" ? 1 : 0)
            << code.toStdString() << " " << outcome;
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(press.outcomes.outcome[QStringLiteral("W101")], "failed");
    EXPECT_TRUE(press.outcomes.messages.value(0).contains(
        QStringLiteral("從字元字串轉換日期及/或時間時，轉換失敗。")))
        << press.outcomes.messages.join(u'\n').toStdString();
}

// The stand-in records the lock requests, and where each check ran. The server
// ends W101's transaction and the connection is replaced: the run takes its lock again on the
// new session before the next batch.
TEST_F(SqlServer, RunLockPerSessionAndEachCheckInsideItsBatchsLockedTransaction)
{
    StandIn server(QStringLiteral("rollback"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    press.runLocked();
    ASSERT_EQ(press.outcomes.outcome.size(), 12u);

    const QList<QJsonObject> events = server.events();
    const auto field = [](const QJsonObject &e, const char *name) {
        return e[QLatin1String(name)].toVariant().toString();
    };
    const auto find = [&](qsizetype from, auto match) {
        for (qsizetype i = from; i < events.size(); ++i)
            if (match(events[i]))
                return i;
        return qsizetype(-1);
    };
    const auto sessionLock = [&](int session) {
        return find(0, [&](const QJsonObject &e) {
            return field(e, "event") == "applock" && field(e, "owner") == "Session" &&
                   e[QLatin1String("session")].toInt() == session;
        });
    };
    const auto firstCheck = [&](int session) {
        return find(0, [&](const QJsonObject &e) {
            return field(e, "event") == "check" && e[QLatin1String("session")].toInt() == session;
        });
    };
    // Session 1 until the server ends W101's transaction, session 2 afterwards.
    const qsizetype first = sessionLock(1), second = sessionLock(2);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0) << "no lock taken on the new connection";
    EXPECT_LT(first, firstCheck(1));
    EXPECT_LT(second, firstCheck(2));
    EXPECT_EQ(field(events[first], "resource"), QStringLiteral("salestotals run C_QVT"));
    EXPECT_EQ(events[first][QLatin1String("timeout")].toInt(), dm::configuredRunLockWait() * 1000);
    EXPECT_EQ(events[second][QLatin1String("timeout")].toInt(), 0);
    const qsizetype release = find(0, [&](const QJsonObject &e) {
        return field(e, "event") == "release" && e[QLatin1String("session")].toInt() == 2;
    });
    EXPECT_GT(release, second);

    int committed = 0;
    for (qsizetype i = 0; i < events.size(); ++i) {
        if (field(events[i], "event") != "commit")
            continue;
        const QJsonObject summary = events[i][QLatin1String("inserts")].toArray()[0].toObject();
        const int session = summary[QLatin1String("session")].toInt();
        const int tran = summary[QLatin1String("tran")].toInt();
        static const QRegularExpression codeText(QStringLiteral("'([WMY][0-9]{3})'"));
        const QString code = codeText.match(field(summary, "sql")).captured(1);
        const auto inThisTransaction = [&](const QJsonObject &e) {
            return e[QLatin1String("session")].toInt() == session &&
                   e[QLatin1String("tran")].toInt() == tran;
        };
        const qsizetype lock = find(0, [&](const QJsonObject &e) {
            return field(e, "event") == "applock" && field(e, "owner") == "Transaction" &&
                   field(e, "resource") == "salestotals batch C_QVT" && inThisTransaction(e);
        });
        const qsizetype check = find(0, [&](const QJsonObject &e) {
            return field(e, "event") == "check" && inThisTransaction(e) &&
                   field(e, "sql").contains(u'\'' + code + u'\'');
        });
        EXPECT_GE(lock, 0) << code.toStdString() << ": no batch lock in its transaction";
        EXPECT_GT(check, lock) << code.toStdString() << ": no check after the batch lock";
        EXPECT_LT(check, i);
        EXPECT_NE(tran, 0);
        ++committed;
    }
    EXPECT_EQ(committed, 11);
}

// The lock went with the connection that the server's rollback closed, and another run has it
// now: this run stops before its next batch.
TEST_F(SqlServer, RunLockTakenMeanwhileEndsTheRun)
{
    StandIn server(QStringLiteral("taken"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    dm::RunLock lock(press.fdm.PUB_DB, CompanyCode);
    lock.acquire();
    try {
        press.run(&lock);
        ADD_FAILURE() << "the run went on without its lock";
    } catch (const dm::RunBusy &e) {
        EXPECT_TRUE(e.message().endsWith(
            QLatin1String(". This run stops here; start it again when the other has ended")))
            << e.message().toStdString();
    }
    EXPECT_EQ(press.outcomes.outcome.size(), 1u);
    EXPECT_EQ(press.outcomes.outcome[QStringLiteral("W101")], "failed");
    EXPECT_TRUE(server.events(QStringLiteral("commit")).isEmpty());
    EXPECT_EQ(server.events(QStringLiteral("check")).size(), 2) << "W101's two checks only";
}

// A firewall drops the idle link between two presses of OK: the second press opens a new
// session and runs the batch the first one left failed.
TEST_F(SqlServer, LinkDroppedBetweenTwoPressesOfOk)
{
    StandIn server(QStringLiteral("rollback"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    press.runLocked();
    EXPECT_EQ(press.outcomes.outcome[QStringLiteral("W101")], "failed");
    ASSERT_TRUE(server.drop());
    press.outcomes.outcome.clear();
    EXPECT_NO_THROW(press.runLocked());
    EXPECT_EQ(press.outcomes.outcome,
              (std::map<QString, std::string>{{QStringLiteral("W101"), "done"}}));
    const Committed committed(server);
    EXPECT_EQ(committed.rows.size(), 12u);
    EXPECT_EQ(committed.withoutRunLock, 0);
}

// Another session keeps W101's source rows locked: W101 gives up after the session's lock
// timeout with the server's message and keeps nothing, the other batches run, and the run
// lock is let go at the end.
TEST_F(SqlServer, LockedSourceRowsFailTheirBatchAfterTheLockTimeout)
{
    StandIn server(QStringLiteral("locked"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    press.fdm.PUB_DB.setLockTimeout(1);
    QElapsedTimer timer;
    timer.start();
    EXPECT_NO_THROW(press.runLocked());
    EXPECT_GE(timer.elapsed(), 1000);
    const QList<QJsonObject> waits = server.events(QStringLiteral("lock-wait"));
    ASSERT_EQ(waits.size(), 1);
    EXPECT_EQ(waits[0][QLatin1String("timeout")].toInt(), 1000);
    ASSERT_EQ(press.outcomes.outcome.size(), 12u);
    for (const auto &[code, outcome] : press.outcomes.outcome)
        EXPECT_EQ(outcome, code == QLatin1String("W101") ? "failed" : "done") << code.toStdString();
    ASSERT_EQ(press.outcomes.messages.size(), 1);
    EXPECT_TRUE(press.outcomes.messages[0].endsWith(
        QLatin1String("Lock request time out period exceeded.")))
        << press.outcomes.messages[0].toStdString();
    const Committed committed(server);
    EXPECT_EQ(committed.rows.size(), 11u);
    EXPECT_EQ(committed.rows.count(QStringLiteral("W101")), 0u);
    const QList<QJsonObject> releases = server.events(QStringLiteral("release"));
    ASSERT_FALSE(releases.isEmpty());
    EXPECT_EQ(releases.last()[QLatin1String("resource")].toString(),
              QStringLiteral("salestotals run C_QVT"));
}

TEST_F(SqlServer, BusyRunLockNamesTheHolderAndChangesNothing)
{
    StandIn server(QStringLiteral("busy"));
    ASSERT_GT(server.port(), 0);
    dm::Connection db(dm::Backend::SqlServer, 5);
    db.setConnectionString(server.connectionString());
    dm::RunLock lock(db, QStringLiteral("C_QVT"), 7);
    try {
        lock.acquire();
        ADD_FAILURE() << "the lock was taken";
    } catch (const dm::RunBusy &e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("Another run holds the company database C_QVT: salestotals-batch "
                                 "(process 4242 on WS07), login EXAMPLE\\clerk, since 2026-12-08 "
                                 "04:30:12. This run waited 7 s and changed nothing; start it "
                                 "again when the other has ended"));
    }
    lock.release();
    const QList<QJsonObject> requests = server.events(QStringLiteral("applock"));
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0][QLatin1String("timeout")].toInt(), 7000);
    EXPECT_EQ(server.events(QStringLiteral("holder")).size(), 1);
    EXPECT_TRUE(server.events(QStringLiteral("release")).isEmpty());
    for (const QJsonObject &e : server.events())
        EXPECT_FALSE(e[QLatin1String("sql")].toString().contains(QLatin1String("Delete")) ||
                     e[QLatin1String("event")] == QLatin1String("commit"))
            << QJsonDocument(e).toJson().toStdString();
}

// Verify: each batch's own SELECT runs on the server inside a transaction that is rolled back,
// under the run lock; only the totals come back, decimal as text, compared exactly. Where the
// database allows snapshot isolation every read is of one point in time; where it does not,
// M101's first read counts a row that a posting moves, and only a second read tells that
// drift from W101's, which stays.
TEST_F(SqlServer, VerifyRecomputesOnTheServerAndReportsTheDrift)
{
    for (const bool snapshot : {false, true}) {
        SCOPED_TRACE(snapshot ? "snapshot allowed" : "snapshot not allowed");
        StandIn server(snapshot ? QStringLiteral("verify-snapshot") : QStringLiteral("verify"));
        ASSERT_GT(server.port(), 0);
        PressOk press(server);
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        const int status =
            batchcli::verifyTotals(press.period, 30, out, err, QStringLiteral("salestotals-batch"));
        out.flush();
        err.flush();
        EXPECT_EQ(status, 3) << errText.toStdString();
        const QStringList lines = outText.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 13) << outText.toStdString();
        EXPECT_EQ(lines[0], QStringLiteral("W101 differs: 1 total differs, largest 2 in 'S02' "
                                           "(stored 7.25, recomputed 9.25)"));
        for (qsizetype i = 1; i < 12; ++i)
            EXPECT_TRUE(lines[i].endsWith(QLatin1String(" ok 2 groups"))) << lines[i].toStdString();
        EXPECT_TRUE(lines[12].startsWith(QLatin1String("ALL differs 1 of 12 batches ")))
            << lines[12].toStdString();

        const QList<QJsonObject> recomputed = server.events(QStringLiteral("verify-recompute"));
        QStringList codes;
        for (const QJsonObject &e : recomputed) {
            const QString sql = e[QLatin1String("sql")].toString();
            EXPECT_TRUE(sql.startsWith(QLatin1String("SELECT 'C_QVT' COMPANY,")) &&
                        sql.contains(QLatin1String(" GROUP BY ")))
                << sql.toStdString();
            EXPECT_NE(e[QLatin1String("tran")].toInt(), 0) << "outside the transaction";
            EXPECT_EQ(e[QLatin1String("isolation")].toString(),
                      snapshot ? QLatin1String("snapshot") : QLatin1String("read committed"));
            codes << e[QLatin1String("code")].toString();
        }
        // M101's first read also asks which groups have rows after the week: it looks like
        // growth, which the second read then shows to be none.
        EXPECT_EQ(codes.size(), snapshot ? 12 : 15) << codes.join(u' ').toStdString();
        EXPECT_EQ(codes.count(QStringLiteral("W101")), snapshot ? 1 : 2);
        EXPECT_EQ(codes.count(QStringLiteral("M101")), snapshot ? 1 : 3);
        ASSERT_FALSE(recomputed.isEmpty());
        EXPECT_EQ(recomputed[0][QLatin1String("values")].toArray(), QJsonArray{23})
            << "W101's week";
        int lowPriority = 0;
        for (const QJsonObject &e : server.events(QStringLiteral("batch")))
            lowPriority += e[QLatin1String("sql")].toString().contains(
                QLatin1String("SET DEADLOCK_PRIORITY LOW"));
        EXPECT_EQ(lowPriority, 1) << "a posting must win a deadlock against verify";
        const QList<QJsonObject> locks = server.events(QStringLiteral("applock"));
        ASSERT_FALSE(locks.isEmpty());
        EXPECT_EQ(locks[0][QLatin1String("owner")].toString(), QStringLiteral("Session"));
        // Nothing written, and the transaction rolled back (FreeTDS ends the one it begins
        // again when autocommit returns with a rollback of its own).
        EXPECT_TRUE(server.events(QStringLiteral("commit")).isEmpty());
        const QList<QJsonObject> rollbacks = server.events(QStringLiteral("rollback"));
        EXPECT_FALSE(rollbacks.isEmpty());
        for (const QJsonObject &r : rollbacks)
            EXPECT_TRUE(r[QLatin1String("inserts")].toArray().isEmpty());
    }
}

// Week numbers count from Sunday, and a lock is waited for the lock timeout, whatever the
// login's defaults; the configured options reach the driver (the test's name their
// application).
TEST_F(SqlServer, SessionCountsWeeksFromSundayAndUsesTheOptions)
{
    StandIn server(QStringLiteral("items"));
    ASSERT_GT(server.port(), 0);
    dm::Connection db(dm::Backend::SqlServer, 5);
    db.setConnectionString(server.connectionString());
    dm::Query items(&db);
    items.setSQL(QStringLiteral(" Select * from FCMSFL WHERE FL000 IN ('40','41','42','43')"));
    items.open();
    QStringList sent;
    for (const QJsonObject &e : server.events())
        if (e[QLatin1String("event")] == QLatin1String("batch") ||
            e[QLatin1String("event")] == QLatin1String("rpc"))
            sent << QJsonDocument(e).toJson(QJsonDocument::Compact);
    const auto first = [&sent](QLatin1String text) {
        for (qsizetype i = 0; i < sent.size(); ++i)
            if (sent[i].contains(text))
                return i;
        return qsizetype(-1);
    };
    const qsizetype datefirst = first(QLatin1String("SET DATEFIRST 7"));
    const qsizetype items0 = first(QLatin1String("FCMSFL"));
    EXPECT_GE(datefirst, 0) << sent.join(u'\n').toStdString();
    EXPECT_LT(datefirst, items0);
    const QByteArray lockTimeout =
        "SET LOCK_TIMEOUT " + QByteArray::number(dm::configuredLockTimeout() * 1000);
    EXPECT_LT(first(QLatin1String(lockTimeout)), items0) << sent.join(u'\n').toStdString();
    EXPECT_GE(first(QLatin1String(lockTimeout)), 0);

    const QList<QJsonObject> logins = server.events(QStringLiteral("login"));
    ASSERT_EQ(logins.size(), 1);
    EXPECT_EQ(logins[0][QLatin1String("app")].toString(),
              QStringLiteral("salestotals-sqlserver-test"));
    EXPECT_EQ(logins[0][QLatin1String("tds")].toString(), QStringLiteral("0x74000004"));
}

TEST_F(SqlServer, SilentServerFailsOnceWithinTheTimeout)
{
    StandIn server(QStringLiteral("silent"));
    ASSERT_GT(server.port(), 0);
    constexpr int timeout = 2;
    dm::Connection db(dm::Backend::SqlServer, timeout);
    db.setConnectionString(server.connectionString());
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(db.open(), dm::Error);
    EXPECT_LT(timer.elapsed(), timeout * 1000 + 1500);
    EXPECT_EQ(server.events(QStringLiteral("connect")).size(), 1);
}

TEST_F(SqlServer, FailedIntegratedLoginNamesTheServiceAskedFor)
{
    StandIn server(QStringLiteral("items"));
    ASSERT_GT(server.port(), 0);
    dm::Connection db(dm::Backend::SqlServer, 5);
    db.setConnectionString(server.connectionString(QStringLiteral("Integrated Security=SSPI")));
    try {
        db.open();
        FAIL() << "an integrated login without a Kerberos ticket succeeded";
    } catch (const dm::Error &e) {
        const QString hint = e.message().section(u'\n', -1);
        EXPECT_TRUE(hint.contains(QStringLiteral("MSSQLSvc/127.0.0.1:%1").arg(server.port())))
            << e.message().toStdString();
        EXPECT_TRUE(hint.contains(QLatin1String("kinit"))) << e.message().toStdString();
    }
}

// The program as a site runs it: a sqlserver build's salestotals-batch with its own
// integrated connection string, for localhost on a port compiled in, against the stand-in
// with a Kerberos realm of its own on 127.0.0.1.
class SiteLogin : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!freeTdsInstalled())
            GTEST_SKIP() << "the ODBC driver FreeTDS is not installed (odbcinst -q -d)";
        const QStringList sbin{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")};
        for (const char *tool : {"krb5kdc", "kdb5_util", "kadmin.local"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty() &&
                QStandardPaths::findExecutable(QLatin1String(tool), sbin).isEmpty())
                GTEST_SKIP() << tool << " is missing (packages krb5-kdc, krb5-admin-server)";
        QProcess gssapi;
        gssapi.start(QStringLiteral(SYSTEM_PYTHON),
                     {QStringLiteral("-c"), QStringLiteral("import gssapi")});
        if (!gssapi.waitForFinished() || gssapi.exitStatus() != QProcess::NormalExit ||
            gssapi.exitCode() != 0)
            GTEST_SKIP() << "python3-gssapi is missing (" SYSTEM_PYTHON " cannot import gssapi)";
    }

    // The stand-in on the compiled-in port with a realm, and certificates when encrypting.
    void start(const QString &script, QStringList options = {})
    {
        options << QStringLiteral("--port") << QString::number(SITE_PORT)
                << QStringLiteral("--realm") << m_dir.path();
        m_server = std::make_unique<StandIn>(script, options, QStringLiteral(SYSTEM_PYTHON));
        ASSERT_EQ(m_server->port(), SITE_PORT) << m_server->failure().toStdString();
    }

    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    QString spn() const { return QStringLiteral("MSSQLSvc/localhost:%1").arg(SITE_PORT); }

    struct Run
    {
        int status = -1;
        QString out, err;
        int done() const
        {
            return int(out.count(QRegularExpression(QStringLiteral("^[WMY]\\d{3} done "),
                                                    QRegularExpression::MultilineOption)));
        }
        std::string text() const { return (out + err).toStdString(); }
    };

    // How the program is given its configuration: each way a site or a test has.
    enum Configured { ByOption, ByEnvironment, BySiteFile };

    // The one built salestotals-batch, configured for localhost on the stand-in's port, with
    // the options an encrypting site adds when freetds.conf is given. The keytab comes as the
    // services' environment file gives it (KRB5_CLIENT_KTNAME), the ticket cache is the run's
    // own; nothing of the machine's Kerberos or FreeTDS set-up is read.
    Run run(Configured how, const QString &clientKeytab, const QString &freetdsConf = {})
    {
        QString config = QStringLiteral("backend = sqlserver\nserver = localhost,%1\n"
                                        "odbc_driver = FreeTDS\nlock_timeout = 7\n")
                             .arg(SITE_PORT);
        if (!freetdsConf.isEmpty())
            config += QStringLiteral(
                "odbc_options = TDS_Version=7.4;ClientCharset=UTF-8;Servername=localhost\n");
        QFile file(path("site.conf"));
        if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
            ADD_FAILURE() << "cannot write " << path("site.conf").toStdString();
        file.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &key : env.keys())
            if (key.startsWith(QLatin1String("KRB5")) || key.startsWith(QLatin1String("TDS")) ||
                key.startsWith(QLatin1String("FREETDS")))
                env.remove(key);
        env.insert(QStringLiteral("KRB5_CONFIG"), path("krb5.conf"));
        env.insert(QStringLiteral("KRB5CCNAME"), QStringLiteral("FILE:") + path("krb5cc"));
        env.insert(QStringLiteral("KRB5_CLIENT_KTNAME"), clientKeytab);
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        if (!freetdsConf.isEmpty())
            env.insert(QStringLiteral("FREETDSCONF"), freetdsConf);
        if (!m_odbcSysIni.isEmpty())
            env.insert(QStringLiteral("ODBCSYSINI"), m_odbcSysIni);
        env.remove(QStringLiteral("SALESTOTALS_CONFIG"));
        QStringList command{QStringLiteral(BATCH_PROGRAM)};
        if (how == ByOption)
            command << QStringLiteral("--config") << file.fileName();
        else if (how == ByEnvironment)
            env.insert(QStringLiteral("SALESTOTALS_CONFIG"), file.fileName());
        else
            command = siteFileCommand(file.fileName()) + command;
        QProcess batch;
        batch.setProcessEnvironment(env);
        batch.start(command.first(), command.mid(1));
        Run result;
        if (!batch.waitForFinished(40000))
            return result;
        result.status = batch.exitStatus() == QProcess::NormalExit ? batch.exitCode() : -1;
        result.out = QString::fromLocal8Bit(batch.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(batch.readAllStandardError());
        return result;
    }

    // The program in a mount namespace of its own, where the site configuration's folder is
    // an empty file system holding `file` alone: the machine's own is neither read nor changed.
    static QStringList siteFileCommand(const QString &file)
    {
        const QString site = QStringLiteral(SITE_CONFIG);
        const QString folder = QFileInfo(site).absolutePath();
        const QString script = QStringLiteral(
            "made=; [ -d \"$1\" ] || { mkdir \"$1\" && made=1; }; "
            "mount -t tmpfs -o mode=0755 none \"$1\" && cp \"$3\" \"$2\" && \"$4\"; st=$?; "
            "umount \"$1\" 2>/dev/null; [ -z \"$made\" ] || rmdir \"$1\"; exit $st");
        return {QStringLiteral("unshare"),
                QStringLiteral("--mount"),
                QStringLiteral("sh"),
                QStringLiteral("-c"),
                script,
                QStringLiteral("sh"),
                folder,
                site,
                file};
    }

    QString kdcLog() const
    {
        QFile log(path("kdc.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
    }

    // freetds.conf as the README gives it for an encrypted session.
    QString encryptingConf() const
    {
        QFile conf(path("freetds.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write(QStringLiteral("[localhost]\n\thost = localhost\n\tencryption = require\n"
                                      "\tca file = %1\n")
                           .arg(path("ca.pem"))
                           .toLocal8Bit());
        return conf.fileName();
    }

    QTemporaryDir m_dir;
    QString m_odbcSysIni; // a folder whose odbcinst.ini names the driver FreeTDS
    std::unique_ptr<StandIn> m_server;
};

TEST_F(SiteLogin, KeytabOfTheServiceDropInGivesTheTicketForTheTwelveBatches)
{
    start(QStringLiteral("items"));
    const Run r = run(ByOption, path("client.keytab"));
    EXPECT_EQ(r.status, 0) << r.text();
    EXPECT_EQ(r.done(), 12) << r.text();
    const QList<QJsonObject> logins = m_server->events(QStringLiteral("login"));
    ASSERT_FALSE(logins.isEmpty());
    for (const QJsonObject &login : logins)
        EXPECT_EQ(login[QLatin1String("principal")].toString(),
                  QStringLiteral("salestotals@SALESTOTALS.TEST"));
    EXPECT_TRUE(kdcLog().contains(QStringLiteral("for %1@SALESTOTALS.TEST").arg(spn())))
        << kdcLog().toStdString();
    // The configured lock timeout, not the built-in one, reaches each session.
    const QList<QJsonObject> batches = m_server->events(QStringLiteral("batch"));
    EXPECT_TRUE(std::any_of(batches.begin(), batches.end(), [](const QJsonObject &b) {
        return QJsonDocument(b).toJson().contains("SET LOCK_TIMEOUT 7000");
    }));
}

TEST_F(SiteLogin, WithoutATicketTheRunCannotStartAndNamesTheService)
{
    start(QStringLiteral("items"));
    const Run r = run(ByEnvironment, path("no-such.keytab"));
    EXPECT_EQ(r.status, 2) << r.text();
    EXPECT_EQ(r.done(), 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Kerberos was asked for the service %1.").arg(spn())))
        << r.text();
    EXPECT_TRUE(m_server->events(QStringLiteral("login")).isEmpty());
}

// The hint names what the KDC was really asked for, which it does not know.
TEST_F(SiteLogin, ServiceUnknownToTheKdcIsNamedInTheHint)
{
    start(QStringLiteral("items"),
          {QStringLiteral("--service"), QStringLiteral("MSSQLSvc/erp-db.salestotals.test:1433")});
    const Run r = run(ByEnvironment, path("client.keytab"));
    EXPECT_EQ(r.status, 2) << r.text();
    const QString log = kdcLog();
    EXPECT_TRUE(log.contains(QLatin1String("Server not found in Kerberos database")) &&
                log.contains(QStringLiteral("for %1@SALESTOTALS.TEST").arg(spn())))
        << log.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Kerberos was asked for the service %1.").arg(spn())))
        << r.text();
    EXPECT_TRUE(m_server->events(QStringLiteral("login")).isEmpty());
}

// A server that requires encryption, and the CA file of freetds.conf as the README gives it.
TEST_F(SiteLogin, EncryptedSessionChecksTheCertificateWithTheSitesCaFile)
{
    start(QStringLiteral("items"), {QStringLiteral("--tls"), m_dir.path()});
    const Run r = run(ByEnvironment, path("client.keytab"), encryptingConf());
    EXPECT_EQ(r.status, 0) << r.text();
    EXPECT_EQ(r.done(), 12) << r.text();
    const QList<QJsonObject> logins = m_server->events(QStringLiteral("login"));
    ASSERT_FALSE(logins.isEmpty());
    for (const QJsonObject &login : logins) {
        EXPECT_TRUE(login[QLatin1String("encrypted")].toBool()) << "a LOGIN7 in clear";
        EXPECT_EQ(login[QLatin1String("principal")].toString(),
                  QStringLiteral("salestotals@SALESTOTALS.TEST"));
    }
    EXPECT_EQ(m_server->events(QStringLiteral("tls")).size(), logins.size());
}

TEST_F(SiteLogin, CertificateTheCaDidNotSignIsRefusedBeforeTheLogin)
{
    start(QStringLiteral("items"),
          {QStringLiteral("--tls"), m_dir.path(), QStringLiteral("--impostor")});
    const Run r = run(ByOption, path("client.keytab"), encryptingConf());
    EXPECT_EQ(r.status, 2) << r.text();
    EXPECT_TRUE(r.err.contains(QLatin1String("certificate"))) << r.text();
    // The handshake began and ended there: no login reached the impostor.
    EXPECT_FALSE(m_server->events(QStringLiteral("no-handshake")).isEmpty()) << r.text();
    EXPECT_TRUE(m_server->events(QStringLiteral("tls")).isEmpty());
    EXPECT_TRUE(m_server->events(QStringLiteral("login")).isEmpty());
}

// A commit answered with a message beside it (SQL_SUCCESS_WITH_INFO) is a commit. FreeTDS
// 1.3 drops the stand-in's message and says SQL_SUCCESS, so the driver registered as FreeTDS
// here says SQL_SUCCESS_WITH_INFO as Microsoft's does.
TEST_F(SiteLogin, CommitWithAMessageIsADoneBatch)
{
#ifndef COMMIT_INFO_DRIVER
    GTEST_SKIP() << "libtdsodbc.so was not found when configuring";
#else
    QFile ini(path("odbcinst.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[FreeTDS]\nDriver=" COMMIT_INFO_DRIVER "\n");
    ini.close();
    m_odbcSysIni = m_dir.path();
    start(QStringLiteral("commit-info"));
    const Run r = run(ByOption, path("client.keytab"));
    EXPECT_EQ(r.status, 0) << r.text();
    EXPECT_EQ(r.done(), 12) << r.text();
    EXPECT_FALSE(r.out.contains(QLatin1String("failed"))) << r.text();
#endif
}

// The server ends the first batch's transaction: one line says so, nothing else does. The
// program reads its settings from the site configuration here.
TEST_F(SiteLogin, FailedBatchIsReportedOnce)
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        GTEST_SKIP() << "the site configuration is put in place as root, with unshare";
    start(QStringLiteral("rollback"));
    const Run r = run(BySiteFile, path("client.keytab"));
    EXPECT_EQ(r.status, 1) << r.text();
    EXPECT_EQ(r.out.count(QLatin1String("failed:")), 1) << r.text();
    EXPECT_TRUE(r.out.contains(QLatin1String("W101 failed: "))) << r.text();
    EXPECT_EQ(r.done(), 11) << r.text();
    EXPECT_EQ(r.err, QString()) << "said again on standard error";
}

} // namespace

// A second completion row for a batch meets the unique key: the batch fails, says why, and
// keeps nothing.
TEST_F(SqlServer, SecondCompletionRowFailsItsBatch)
{
    StandIn server(QStringLiteral("blind"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    press.run();
    Outcomes again;
    BatchRun(press.adoInSert, press.period, press.boxes, &again).BitBtn1Click();
    ASSERT_EQ(again.outcome.size(), 12u);
    for (const auto &[code, outcome] : again.outcome)
        EXPECT_EQ(outcome, "failed") << code.toStdString();
    EXPECT_TRUE(again.messages.value(0).startsWith(
        QLatin1String("W101 was done meanwhile by another run, which wrote its completion row "
                      "first; nothing of this run's W101 is kept (")))
        << again.messages.value(0).toStdString();
    const Committed committed(server);
    EXPECT_EQ(committed.rows.size(), 12u);
    for (const auto &[code, count] : committed.rows)
        EXPECT_EQ(count, 1) << code.toStdString();
}

namespace {

// The driver registered as FreeTDS is FreeTDS in Microsoft's manual-commit mode.
class ManualCommit : public SqlServer
{
protected:
    void SetUp() override
    {
        SqlServer::SetUp();
#ifndef MANUAL_COMMIT_DRIVER
        GTEST_SKIP() << "libtdsodbc.so was not found when configuring";
#else
        QFile ini(m_dir.filePath(QStringLiteral("odbcinst.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[FreeTDS]\nDriver=" MANUAL_COMMIT_DRIVER "\n");
        ini.close();
        qputenv("ODBCSYSINI", m_dir.path().toLocal8Bit());
#endif
    }
    void TearDown() override
    {
        qunsetenv("ODBCSYSINI");
    }
    QTemporaryDir m_dir;
};

} // namespace

// Implicit transactions only: each batch's lock still comes inside its transaction, and each
// batch commits with its one COMMIT.
TEST_F(ManualCommit, TwelveBatchesDone)
{
    StandIn server(QStringLiteral("items"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    press.runLocked(true);
    for (const auto &[code, outcome] : press.outcomes.outcome)
        EXPECT_EQ(outcome, "done")
            << code.toStdString()
            << ", the first message: " << press.outcomes.messages.value(0).toStdString();
    EXPECT_EQ(press.outcomes.outcome.size(), 12u);
    const Committed committed(server);
    EXPECT_EQ(committed.rows.size(), 12u);
    EXPECT_EQ(committed.withoutRunLock, 0);
    int implicitOn = 0;
    for (const QJsonObject &e : server.events(QStringLiteral("batch")))
        implicitOn +=
            e[QLatin1String("sql")].toString() == QLatin1String("SET IMPLICIT_TRANSACTIONS ON");
    EXPECT_GE(implicitOn, 13) << "not the manual-commit double";
    for (const QJsonObject &commit : server.events(QStringLiteral("commit")))
        EXPECT_EQ(commit[QLatin1String("why")].toString(), QStringLiteral("statement"));
    // The stand-in opens an implicit transaction only where the documentation says: each
    // batch lock came in exactly one, and no commit left one open.
    int batchLocks = 0;
    for (const QJsonObject &lock : server.events(QStringLiteral("applock")))
        if (lock[QLatin1String("owner")] == QLatin1String("Transaction")) {
            ++batchLocks;
            EXPECT_EQ(lock[QLatin1String("trancount")].toInt(), 1);
        }
    EXPECT_EQ(batchLocks, 13) << "the emptying and the twelve batches";
    EXPECT_TRUE(server.events(QStringLiteral("nested-commit")).isEmpty());
}

// The link drops between W102 and M101, while the run holds only its session lock, and again
// in W301's code box, inside its transaction. The driver swaps neither session: the run opens
// a new one and takes its lock again each time, W301 alone has no completion row, and the
// next press runs W301 alone.
TEST_F(ManualCommit, LinkDroppedDuringARunEndsOnlyTheBatchItBroke)
{
    StandIn server(QStringLiteral("items"));
    ASSERT_GT(server.port(), 0);
    PressOk press(server);
    struct Dropping : Outcomes, RecordingBoxes
    {
        explicit Dropping(StandIn &server) : server(server) {}
        void batchDone(const QString &code, int rows, qint64 ms) override
        {
            Outcomes::batchDone(code, rows, ms);
            if (code == QLatin1String("W102")) {
                EXPECT_TRUE(server.drop());
            }
        }
        void code(const QString &batchCode) override
        {
            RecordingBoxes::code(batchCode);
            if (batchCode == QLatin1String("W301") && outcome.count(batchCode) == 0) {
                EXPECT_TRUE(server.drop());
            }
        }
        StandIn &server;
    } dropping(server);
    const auto press_ = [&](Outcomes &outcomes) {
        dm::RunLock lock(press.fdm.PUB_DB, CompanyCode);
        lock.acquire();
        BatchRun(press.adoInSert, press.period, dropping, &outcomes, &lock).BitBtn1Click();
    };
    ASSERT_TRUE(ClearSummaryTables(press.boxes));
    EXPECT_NO_THROW(press_(dropping));
    EXPECT_EQ(dropping.outcome.size(), 12u);
    for (const auto &[code, outcome] : dropping.outcome)
        EXPECT_EQ(outcome, code == QLatin1String("W301") ? "failed" : "done") << code.toStdString();
    EXPECT_EQ(server.events(QStringLiteral("login")).size(), 3) << "a new session per drop";

    Outcomes rerun;
    EXPECT_NO_THROW(press_(rerun));
    EXPECT_EQ(rerun.outcome, (std::map<QString, std::string>{{QStringLiteral("W301"), "done"}}));
    const Committed committed(server);
    EXPECT_EQ(committed.withoutRunLock, 0);
    EXPECT_EQ(committed.rows.size(), 12u);
    for (const auto &[code, count] : committed.rows)
        EXPECT_EQ(count, 1) << code.toStdString() << " counted " << count << " times";
}
