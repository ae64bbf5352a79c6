// Several salestotals-batch runs on one demo database at once, and runs that are killed or
// stopped while they hold the company database: every batch is counted once.
#include "program.h"

#include "dm/fdm.h"
#include "dm/run_lock.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that runs started within half a second overlap; a sanitizer build, several
// times slower, keeps the case within its time with fewer rows.
#if defined(__SANITIZE_ADDRESS__)
constexpr int DemoRows = 8000;
#else
constexpr int DemoRows = 40000;
#endif
constexpr int Tries = 20;
constexpr int RunsPerTry = 4;
constexpr int SpreadMs = 500;

const QStringList Period{"--year", "2026", "--month", "6", "--week", "24"};

// Both summary tables, each row as text, sorted: equal tables give equal snapshots.
struct Tables
{
    QStringList xx, xy;
    bool operator==(const Tables &) const = default;
};

QStringList sortedRows(sqlite3 *db, const char *sql)
{
    QStringList rows;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db);
        return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            row << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
        rows << row.join(u'|');
    }
    sqlite3_finalize(stmt);
    rows.sort();
    return rows;
}

Tables tables(const QString &path)
{
    sqlite3 *db = nullptr;
    Tables t;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, 10000);
        t.xx = sortedRows(db, "SELECT * FROM FADMXX");
        t.xy = sortedRows(db, "SELECT * FROM FADMXY");
    } else {
        ADD_FAILURE() << "cannot open " << path.toStdString();
    }
    sqlite3_close(db);
    return t;
}

std::string describe(const Tables &t)
{
    return QStringLiteral("%1 summary rows, %2 completion rows (%3 distinct)")
        .arg(t.xx.size())
        .arg(t.xy.size())
        .arg(QSet<QString>(t.xy.begin(), t.xy.end()).size())
        .toStdString();
}

QProcess *start(const Program &program)
{
    auto *process = new QProcess;
    process->start(program.path(), Period);
    return process;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

// One demo database for every case, and the tables that a single run leaves in it.
class Concurrency : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        const QString demo = s_dir->filePath(QStringLiteral("demo.sqlite"));
        QProcess tool;
        tool.start(QStringLiteral(DEMO_DB_TOOL),
                   {demo, QStringLiteral("--rows"), QString::number(DemoRows),
                    QStringLiteral("--seed"), QStringLiteral("7")});
        if (!tool.waitForFinished(120000) || tool.exitCode() != 0)
            return;
        QTemporaryDir single;
        QFile::copy(demo, QDir(single.path()).filePath(QStringLiteral("QVT.sqlite")));
        const Outcome o = Program(Embedded, single.path()).run(Period);
        if (o.status == 0 && o.lines.size() == 12)
            s_single =
                new Tables(tables(QDir(single.path()).filePath(QStringLiteral("QVT.sqlite"))));
    }
    static void TearDownTestSuite()
    {
        delete s_single;
        delete s_dir;
    }

    void SetUp() override
    {
        ASSERT_NE(s_single, nullptr) << "no demo database, or its single run failed";
        ASSERT_EQ(s_single->xy.size(), 12);
        database = dir.filePath(QStringLiteral("QVT.sqlite"));
    }

    // A fresh copy of the demo database for the copy of the program in dir.
    void freshDatabase()
    {
        QFile::remove(database);
        ASSERT_TRUE(QFile::copy(s_dir->filePath(QStringLiteral("demo.sqlite")), database));
    }

    QString lockFile() const { return dm::RunLock::lockFilePath(database); }

    static QTemporaryDir *s_dir;
    static Tables *s_single;
    QTemporaryDir dir;
    QString database;
};

QTemporaryDir *Concurrency::s_dir = nullptr;
Tables *Concurrency::s_single = nullptr;

} // namespace

TEST_F(Concurrency, RunsStartedTogetherLeaveTheTablesOfASingleRun)
{
    const Program program(Embedded, dir.path());
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    SCOPED_TRACE("random seed " + std::to_string(seed));
    int failed = 0;
    QElapsedTimer timer;
    timer.start();
    for (int attempt = 1; attempt <= Tries; ++attempt) {
        freshDatabase();
        QList<int> offsets;
        for (int i = 0; i < RunsPerTry; ++i)
            offsets << int(random.bounded(SpreadMs));
        std::sort(offsets.begin(), offsets.end());
        std::vector<std::unique_ptr<QProcess>> runs;
        QElapsedTimer since;
        since.start();
        for (const int offset : offsets) {
            QThread::msleep(std::max<qint64>(0, offset - since.elapsed()));
            runs.emplace_back(start(program));
        }
        QStringList statuses;
        for (auto &run : runs) {
            run->waitForFinished(60000);
            statuses << QString::number(run->exitCode());
            EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
        }
        const Tables got = tables(database);
        if (got != *s_single) {
            ++failed;
            ADD_FAILURE() << "try " << attempt << " (runs at " << offsets[0] << ", " << offsets[1]
                          << ", " << offsets[2] << ", " << offsets[3] << " ms, exit statuses "
                          << statuses.join(u' ').toStdString() << "): " << describe(got)
                          << ", a single run leaves " << describe(*s_single);
        }
    }
    std::cout << Tries << " tries of " << RunsPerTry << " runs on " << DemoRows
              << " rows: " << failed << " with other tables than a single run's, in "
              << timer.elapsed() / 1000 << " s" << std::endl;
    EXPECT_EQ(failed, 0);
}

// Killed while it holds the lock, maybe inside a transaction: its lock file stays, and the next
// run takes it over at once and totals everything exactly once.
TEST_F(Concurrency, RunKilledHoldingTheLockLeavesNothingBehind)
{
    const Program program(Embedded, dir.path());
    int killed = 0;
    for (int attempt = 0; attempt < 20 && killed == 0; ++attempt) {
        freshDatabase();
        std::unique_ptr<QProcess> run(start(program));
        ASSERT_TRUE(waitFor([&] { return QFile::exists(lockFile()); }, 30000));
        // Somewhere between taking the lock and its last commit; on an idle machine the whole
        // run takes only tens of milliseconds.
        QThread::msleep(QRandomGenerator::global()->bounded(0, 40));
        run->kill(); // SIGKILL
        run->waitForFinished();
        killed = run->exitStatus() == QProcess::CrashExit && QFile::exists(lockFile());
    }
    ASSERT_TRUE(killed) << "every run ended before it could be killed";

    QElapsedTimer timer;
    timer.start();
    const Outcome next = program.run(Period);
    EXPECT_EQ(next.status, 0) << next.err.toStdString();
    EXPECT_LT(timer.elapsed(), dm::configuredRunLockWait() * 1000) << "the lock was waited for";
    EXPECT_EQ(next.lines.size(), 12);
    EXPECT_TRUE(tables(database) == *s_single) << describe(tables(database));
    EXPECT_FALSE(QFile::exists(lockFile()));
}

// Another process holds the lock: a run with a short wait gives up with status 75 and one line
// naming the holder, and leaves the database as it was.
TEST_F(Concurrency, BusyRunNamesTheHolderAndChangesNothing)
{
    freshDatabase();
    const Program impatient(ShortWait, dir.path());
    const auto digest = [this] {
        QFile file(database);
        return file.open(QIODevice::ReadOnly)
                   ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                   : QByteArray();
    };
    {
        dm::Connection connection(dm::Backend::Embedded, 5);
        connection.setConnectionString(dm::companyConnectionString(database));
        dm::RunLock lock(connection, QStringLiteral("C_QVT"));
        lock.acquire();
        const QByteArray before = digest();
        const Outcome busy = impatient.run(Period);
        EXPECT_EQ(busy.status, 75);
        EXPECT_TRUE(busy.lines.isEmpty());
        EXPECT_EQ(busy.err.count(u'\n'), 1) << busy.err.toStdString();
        EXPECT_TRUE(busy.err.startsWith(
            QStringLiteral("salestotals-batch: Another run holds the company database C_QVT: %1 "
                           "(process %2 on ")
                .arg(QCoreApplication::applicationName())
                .arg(QCoreApplication::applicationPid())))
            << busy.err.toStdString();
        EXPECT_TRUE(busy.err.contains(QLatin1String(", since 20"))) << busy.err.toStdString();
        EXPECT_TRUE(busy.err.contains(QLatin1String("waited 2 s and changed nothing")))
            << busy.err.toStdString();
        EXPECT_EQ(digest(), before) << "the busy run changed the database";
        const Outcome shorter = impatient.run(Period + QStringList{"--wait", "1"});
        EXPECT_EQ(shorter.status, 75);
        EXPECT_TRUE(shorter.err.contains(QLatin1String("waited 1 s and changed nothing")))
            << shorter.err.toStdString();
    }
    const Outcome after = impatient.run(Period);
    EXPECT_EQ(after.status, 0) << after.err.toStdString();
    EXPECT_TRUE(tables(database) == *s_single) << describe(tables(database));
}

// `sudo salestotals-batch`, killed, left a lock file that the service's user may not write.
// The run takes it over through the folder; with the folder read-only it names the file.
// The case needs root, to run the program as another user (nobody, through setpriv).
TEST_F(Concurrency, StaleLockFileOfAnotherUserIsTakenOver)
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        GTEST_SKIP() << "needs root and setpriv (util-linux) to run as another user";
    freshDatabase();
    const Program program(Embedded, dir.path());
    const QStringList asNobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(database).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(program.path()).constData(), 0755), 0);
    QProcess gone; // a process of this host that has ended
    gone.start(QStringLiteral("true"));
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 pid = gone.processId();
    gone.waitForFinished();
    const auto leaveLockFile = [&] {
        QFile file(lockFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("%1\nsalestotals-batch\n%2\n")
                       .arg(pid)
                       .arg(QSysInfo::machineHostName())
                       .toUtf8() +
                   QSysInfo::machineUniqueId() + '\n');
        file.close();
        ASSERT_EQ(::chmod(QFile::encodeName(lockFile()).constData(), 0644), 0);
    };

    leaveLockFile();
    const Outcome run = program.run(Period, asNobody);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.lines.size(), 12);
    EXPECT_TRUE(tables(database) == *s_single) << describe(tables(database));
    EXPECT_FALSE(QFile::exists(lockFile()));

    leaveLockFile();
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const Outcome stuck = program.run(Period, asNobody);
    EXPECT_EQ(stuck.status, 2) << stuck.err.toStdString();
    EXPECT_TRUE(stuck.err.contains(QStringLiteral("'%1'").arg(lockFile())) &&
                stuck.err.contains(QLatin1String("delete that file")))
        << stuck.err.toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0700), 0);
}
