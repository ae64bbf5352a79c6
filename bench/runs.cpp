#include "bench/runs.h"

#include "batch/batch_run.h"
#include "batch/startup.h"
#include "batch/verify.h"
#include "dm/error.h"
#include "dm/fdm.h"
#include "dm/run_lock.h"
#include "dm/shared_values.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <ctime>
#include <sqlite3.h>
#include <sys/resource.h>
#include <thread>

namespace bench {

namespace {

qint64 microseconds(const timeval &t)
{
    return qint64(t.tv_sec) * 1000000 + t.tv_usec;
}

// CPU time of the calling thread: a batch's own, without the memory sampler's.
qint64 threadCpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// Wall and CPU time of one batch.
class Lap
{
public:
    void start()
    {
        m_wall.start();
        m_cpuUs = threadCpuUs();
    }
    void record(RunCost &cost)
    {
        cost.batchUs << m_wall.nsecsElapsed() / 1000;
        cost.batchCpuUs << threadCpuUs() - m_cpuUs;
        start();
    }

private:
    QElapsedTimer m_wall;
    qint64 m_cpuUs = 0;
};

// The process's anonymous resident memory now (kB): its heap and stacks, not the pages of
// mapped files such as the database.
qint64 anonymousKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// The largest anonymous resident memory seen; the kernel keeps no peak of it.
class AnonymousPeak
{
public:
    AnonymousPeak()
        : m_thread([this] {
              while (!m_stop.load()) {
                  sample();
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          })
    {
    }
    ~AnonymousPeak() { stop(); }
    qint64 stop()
    {
        if (m_thread.joinable()) {
            m_stop.store(true);
            m_thread.join();
            sample();
        }
        return m_peak.load();
    }

private:
    void sample()
    {
        const qint64 now = anonymousKb();
        if (now > m_peak.load())
            m_peak.store(now);
    }

    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_peak{0};
    std::thread m_thread;
};

// Wall and CPU time from construction to stop().
class Meter
{
public:
    Meter()
    {
        getrusage(RUSAGE_SELF, &m_start);
        m_wall.start();
    }
    void stop(RunCost &cost)
    {
        cost.wallUs = m_wall.nsecsElapsed() / 1000;
        rusage end{};
        getrusage(RUSAGE_SELF, &end);
        cost.userUs = microseconds(end.ru_utime) - microseconds(m_start.ru_utime);
        cost.systemUs = microseconds(end.ru_stime) - microseconds(m_start.ru_stime);
        cost.maxRssKb = end.ru_maxrss;
        cost.maxAnonKb = m_anonymous.stop();
    }

private:
    rusage m_start{};
    QElapsedTimer m_wall;
    AnonymousPeak m_anonymous;
};

class FixedPeriod : public PeriodSource
{
public:
    explicit FixedPeriod(const Period &p) : m_period(p) {}
    QString yearText() const override { return QString::number(m_period.year); }
    int month() const override { return m_period.month; }
    int week() const override { return m_period.week; }

private:
    Period m_period;
};

// Every box answered at once; an error box is a failed run.
class AnsweringBoxes : public Boxes
{
public:
    void error(const QString &message) override { errors << message; }
    void batchError() override { ++batchErrors; }
    void code(const QString &) override { ++codes; }

    QStringList errors;
    int batchErrors = 0;
    int codes = 0;
};

class Counter : public BatchListener
{
public:
    explicit Counter(RunCost &cost) : m_cost(cost) {}
    void batchDone(const QString &, int rowsInserted, qint64) override
    {
        ++m_cost.batches;
        m_cost.rows += rowsInserted;
        lap();
    }
    void batchFailed(const QString &code, const QString &databaseMessage) override
    {
        ++m_cost.failures;
        qWarning("%s failed: %s", qPrintable(code), qPrintable(databaseMessage));
        lap();
    }
    void batchSkipped(const QString &) override { lap(); }
    void start() { m_lap.start(); }

private:
    // From the end of one batch to the end of the next: its completion check included.
    void lap() { m_lap.record(m_cost); }

    RunCost &m_cost;
    Lap m_lap;
};

class Sqlite
{
public:
    explicit Sqlite(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK)
            fail(QStringLiteral("Cannot open ") + path);
    }
    ~Sqlite() { sqlite3_close(m_db); }
    Sqlite(const Sqlite &) = delete;
    Sqlite &operator=(const Sqlite &) = delete;

    // Runs a statement; the rows it changed.
    qint64 exec(const QString &sql)
    {
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(sql);
        return sqlite3_changes(m_db);
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw dm::Error(what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db)));
    }

private:
    sqlite3 *m_db = nullptr;
};

QString times(const QVector<qint64> &us)
{
    QStringList parts;
    for (const qint64 t : us)
        parts << QString::number(t);
    return parts.join(u',');
}

} // namespace

QString costLine(const RunCost &c)
{
    return QStringLiteral("run-cost wall_us=%1 user_us=%2 sys_us=%3 maxrss_kb=%4 maxanon_kb=%9 "
                          "batches=%5 failures=%6 rows=%7 batches_us=%8 batches_cpu_us=%10")
        .arg(c.wallUs)
        .arg(c.userUs)
        .arg(c.systemUs)
        .arg(c.maxRssKb)
        .arg(c.batches)
        .arg(c.failures)
        .arg(c.rows)
        .arg(times(c.batchUs))
        .arg(c.maxAnonKb)
        .arg(times(c.batchCpuUs));
}

bool parseCostLine(const QString &output, RunCost &c)
{
    static const QRegularExpression line(
        QStringLiteral("run-cost wall_us=(\\d+) user_us=(\\d+) sys_us=(\\d+) maxrss_kb=(\\d+) "
                       "maxanon_kb=(\\d+) batches=(\\d+) failures=(\\d+) rows=(\\d+) "
                       "batches_us=([\\d,]*) batches_cpu_us=([\\d,]*)"));
    const auto m = line.match(output);
    if (!m.hasMatch())
        return false;
    c = RunCost{m.captured(1).toLongLong(),
                m.captured(2).toLongLong(),
                m.captured(3).toLongLong(),
                m.captured(4).toLongLong(),
                m.captured(5).toLongLong(),
                m.captured(6).toInt(),
                m.captured(7).toInt(),
                m.captured(8).toLongLong(),
                {},
                {}};
    for (const QString &t : m.captured(9).split(u',', Qt::SkipEmptyParts))
        c.batchUs << t.toLongLong();
    for (const QString &t : m.captured(10).split(u',', Qt::SkipEmptyParts))
        c.batchCpuUs << t.toLongLong();
    return true;
}

RunCost runProgram(const QString &databaseFile, const Period &period)
{
    dm::FDM = new dm::TFDM;
    RunCost cost;
    {
        // The start-up the window and salestotals-batch run, on the benchmark's file; the run
        // goes on under its lock, as salestotals-batch's does.
        AnsweringBoxes boxes;
        StartUp steps;
        steps.today = QDate::currentDate();
        steps.dataSource = databaseFile;
        const std::unique_ptr<dm::RunLock> lock = runStartUp(steps, boxes);
        if (!lock)
            throw dm::Error(QStringLiteral("the summary tables were not emptied"));
        dm::Query adoInSert(&dm::FDM->PUB_DB);
        const FixedPeriod source(period);
        Counter counter(cost);

        Meter meter;
        counter.start();
        {
            BatchRun run(adoInSert, source, boxes, &counter, lock.get());
            run.BitBtn1Click();
        }
        meter.stop(cost);

        if (!boxes.errors.isEmpty())
            throw dm::Error(boxes.errors.join(u'\n'));
        if (boxes.codes != 12 || boxes.batchErrors != cost.failures)
            qWarning("%d code boxes and %d batch error boxes", boxes.codes, boxes.batchErrors);
    }
    delete dm::FDM;
    dm::FDM = nullptr;
    return cost;
}

RunCost runVerify(const QString &databaseFile, const Period &period)
{
    setCompanyCode();
    dm::FDM = new dm::TFDM;
    RunCost cost;
    {
        dm::FDM->PUB_DB.setConnectionString(dm::companyConnectionString(databaseFile));
        dm::FDM->PUB_DB.open();
        const FixedPeriod source(period);
        Meter meter;
        QVector<verify::BatchVerdict> verdicts;
        {
            dm::RunLock lock(dm::FDM->PUB_DB, CompanyCode);
            lock.acquire();
            verdicts = verify::verifyBatches(dm::FDM->PUB_DB, source, &lock);
        }
        meter.stop(cost);
        for (const verify::BatchVerdict &v : std::as_const(verdicts)) {
            if (v.status == verify::Status::Ok) {
                ++cost.batches;
                cost.rows += v.groups;
            } else {
                ++cost.failures;
                qWarning("%s does not verify: %s%s", qPrintable(v.code),
                         qPrintable(v.differences.join(QLatin1String("; "))),
                         qPrintable(v.failure));
            }
        }
    }
    delete dm::FDM;
    dm::FDM = nullptr;
    return cost;
}

RunCost runHandSql(const QString &databaseFile, const Period &period)
{
    const std::vector<HandBatch> batches = handBatches(period);
    Sqlite db(databaseFile);
    // Read as the program's connection reads: the same file mapping.
    for (const QString &pragma : dm::embeddedPragmas())
        db.exec(pragma);
    RunCost cost;
    Meter meter;
    Lap lap;
    lap.start();
    for (const HandBatch &b : batches) {
        db.exec(QStringLiteral("BEGIN"));
        cost.rows += db.exec(b.summary);
        db.exec(b.completion);
        db.exec(QStringLiteral("COMMIT"));
        ++cost.batches;
        lap.record(cost);
    }
    meter.stop(cost);
    return cost;
}

} // namespace bench
