// salestotals-bench: the twelve batches through the program's own code against the same
// aggregations written by hand in plain SQLite, on a demo database, and the window's
// start-up. Run by hand; see bench/README.md.
#include "bench/hand_sql.h"
#include "bench/runs.h"
#include "bench/totals.h"
#include "dm/error.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sqlite3.h>
#include <unistd.h>

namespace {

using namespace bench;

constexpr const char *StartupLinkName = "salestotals-bench.sqlite"; // see CMakeLists.txt

struct Options
{
    qint64 rows = 1000000;
    QString keep;
    int repeat = 3;
    int startupRuns = 9;
    bool help = false;
    QString childMode; // "program" or "hand": one measured run in this process
    QString childFile;
};

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "salestotals-bench: %s\n", qPrintable(message));
    std::exit(1);
}

QString usage()
{
    return QStringLiteral(
        "Usage: salestotals-bench [--rows N] [--keep DIR] [--repeat R] [--startup-runs S]\n"
        "Creates a demo database with N sales orders and N sales invoices (default 1000000),\n"
        "runs the twelve batches through the program's code and, on a fresh copy, the same\n"
        "aggregations as hand-written plain SQLite, R times each (default 3), checks that both\n"
        "give the same totals, and times the window's start-up S times (default 9).\n"
        "--keep DIR works in DIR and leaves the databases there; a demo database already in\n"
        "DIR with N rows is used again.\n");
}

qint64 number(const QStringList &args, int &i, qint64 min, qint64 max)
{
    if (i + 1 >= args.size())
        fail(args[i] + QStringLiteral(" needs a value"));
    bool ok = false;
    const qint64 value = args[++i].toLongLong(&ok);
    if (!ok || value < min || value > max)
        fail(QStringLiteral("%1 needs a whole number from %2 to %3")
                 .arg(args[i - 1])
                 .arg(min)
                 .arg(max));
    return value;
}

Options parseOptions(const QStringList &args)
{
    Options o;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--rows")) {
            o.rows = number(args, i, 1, 100000000);
        } else if (a == QLatin1String("--repeat")) {
            o.repeat = int(number(args, i, 1, 100));
        } else if (a == QLatin1String("--startup-runs")) {
            o.startupRuns = int(number(args, i, 0, 100));
        } else if (a == QLatin1String("--keep") && i + 1 < args.size()) {
            o.keep = args[++i];
        } else if (a == QLatin1String("--run") && i + 2 < args.size()) {
            o.childMode = args[++i];
            o.childFile = args[++i];
        } else {
            fail(QStringLiteral("unknown argument '%1'\n").arg(a) + usage());
        }
    }
    return o;
}

// ---- one measured run, in a process of its own so that its peak memory is its own ----

int childRun(const Options &o)
{
    try {
        const Period period;
        const RunCost cost =
            o.childMode == QLatin1String("program")  ? runProgram(o.childFile, period)
            : o.childMode == QLatin1String("verify") ? runVerify(o.childFile, period)
                                                     : runHandSql(o.childFile, period);
        say(costLine(cost));
        return 0;
    } catch (const dm::Error &e) {
        std::fprintf(stderr, "%s run failed: %s\n", qPrintable(o.childMode),
                     qPrintable(e.message()));
        return 1;
    }
}

QString runProcess(const QString &program, const QStringList &args, int timeoutMs,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        fail(QStringLiteral("%1 did not finish in time").arg(program));
    }
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        fail(QStringLiteral("%1 %2 failed (exit %3): %4")
                 .arg(program, args.join(u' '))
                 .arg(p.exitCode())
                 .arg(out));
    return out;
}

void freshCopy(const QString &from, const QString &to)
{
    QFile::remove(to + QStringLiteral("-journal"));
    if (QFile::exists(to) && !QFile::remove(to))
        fail(QStringLiteral("cannot remove ") + to);
    if (!QFile::copy(from, to))
        fail(QStringLiteral("cannot copy %1 to %2").arg(from, to));
    // On disk before the run: otherwise its first commit waits for the whole copy to be written.
    QFile copy(to);
    if (!copy.open(QIODevice::ReadWrite) || ::fsync(copy.handle()) != 0)
        fail(QStringLiteral("cannot write %1 to disk").arg(to));
}

// demo empty: the run works on the file as it is (verify after the program's run).
RunCost measuredRun(const QString &mode, const QString &demo, const QString &file)
{
    if (!demo.isEmpty())
        freshCopy(demo, file);
    const QString out = runProcess(QCoreApplication::applicationFilePath(),
                                   {QStringLiteral("--run"), mode, file}, 3600 * 1000);
    RunCost cost;
    if (!parseCostLine(out, cost))
        fail(QStringLiteral("no result from the %1 run: %2").arg(mode, out));
    if (cost.failures != 0 || cost.batches != 12)
        fail(QStringLiteral("the %1 run finished %2 batches, %3 failed")
                 .arg(mode)
                 .arg(cost.batches)
                 .arg(cost.failures));
    return cost;
}

// ---- figures ----

QString ms(qint64 us)
{
    return QString::number(double(us) / 1000.0, 'f', 0) + QStringLiteral(" ms");
}

QString mb(qint64 kb)
{
    return QString::number(double(kb) / 1024.0, 'f', 1) + QStringLiteral(" MB");
}

QString costText(const RunCost &c)
{
    return QStringLiteral("wall %1, CPU user %2 + sys %3, peak RSS %4, peak anonymous %5, %6 "
                          "summary rows")
        .arg(ms(c.wallUs), ms(c.userUs), ms(c.systemUs), mb(c.maxRssKb), mb(c.maxAnonKb))
        .arg(c.rows);
}

qint64 cpuUs(const RunCost &c)
{
    return c.userUs + c.systemUs;
}

using Figure = qint64 (*)(const RunCost &);

// The ratios of runs taken in turns, a's to b's, sorted.
QVector<double> ratios(const QVector<RunCost> &a, const QVector<RunCost> &b, Figure of)
{
    QVector<double> result;
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i)
        result << double(of(a[i])) / double(std::max<qint64>(1, of(b[i])));
    std::sort(result.begin(), result.end());
    return result;
}

double medianRatio(const QVector<RunCost> &a, const QVector<RunCost> &b, Figure of)
{
    const QVector<double> r = ratios(a, b, of);
    const qsizetype n = r.size();
    if (n == 0)
        return 0;
    return n % 2 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
}

// The median of the ratios, with the least and the largest.
QString ratioText(const QVector<RunCost> &a, const QVector<RunCost> &b, Figure of)
{
    const QVector<double> r = ratios(a, b, of);
    if (r.isEmpty())
        return QStringLiteral("none");
    const qsizetype n = r.size();
    return QStringLiteral("%1 (median of %2, spread %3 to %4)")
        .arg(medianRatio(a, b, of), 0, 'f', 2)
        .arg(n)
        .arg(r.front(), 0, 'f', 2)
        .arg(r.back(), 0, 'f', 2);
}

qint64 wallUs(const RunCost &c)
{
    return c.wallUs;
}

qint64 medianOf(const QVector<RunCost> &runs, Figure of)
{
    QVector<qint64> values;
    for (const RunCost &c : runs)
        values << of(c);
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(f.readAll()).section(u' ', 0, 2);
}

struct Best
{
    RunCost wall; // the run with the least wall time
    qint64 cpuUs = 0;
    qint64 maxRssKb = 0;
    void add(const RunCost &c, bool first)
    {
        if (first || c.wallUs < wall.wallUs)
            wall = c;
        const qint64 cpu = c.userUs + c.systemUs;
        cpuUs = first ? cpu : std::min(cpuUs, cpu);
        maxRssKb = std::max(maxRssKb, c.maxRssKb);
    }
};

double medianOf(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    if (n == 0)
        return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Each batch's CPU time (the thread's, completion check included) over the runs: the median
// of each side, and the median of the ratios of the runs taken in turns with the least and
// the largest. Returns the largest of those medians.
double batchTable(const QVector<RunCost> &program, const QVector<RunCost> &hand,
                  const std::vector<HandBatch> &codes)
{
    say(QStringLiteral("per batch, CPU time, medians of the %1 pairs (program / hand SQL):")
            .arg(std::min(program.size(), hand.size())));
    double worst = 0;
    for (size_t b = 0; b < codes.size(); ++b) {
        const auto at = qsizetype(b);
        QVector<double> p, h, r;
        for (qsizetype i = 0; i < std::min(program.size(), hand.size()); ++i) {
            const qint64 pu = program[i].batchCpuUs.value(at);
            const qint64 hu = hand[i].batchCpuUs.value(at);
            p << double(pu);
            h << double(hu);
            r << double(pu) / double(std::max<qint64>(1, hu));
        }
        std::sort(r.begin(), r.end());
        const double ratio = medianOf(r);
        worst = std::max(worst, ratio);
        say(QStringLiteral("  %1  program %2  hand SQL %3  ratio %4 (spread %5 to %6)")
                .arg(codes[b].code, ms(qint64(medianOf(p))).rightJustified(8),
                     ms(qint64(medianOf(h))).rightJustified(8))
                .arg(ratio, 0, 'f', 2)
                .arg(r.value(0), 0, 'f', 2)
                .arg(r.value(r.size() - 1), 0, 'f', 2));
    }
    return worst;
}

// ---- demo database ----

qint64 tableRows(const QString &path, const char *table)
{
    sqlite3 *db = nullptr;
    qint64 rows = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        const QByteArray sql = QByteArray("SELECT count(*) FROM ") + table;
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            rows = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

void prepareDemo(const QString &demo, qint64 rows)
{
    if (QFile::exists(demo)) {
        if (tableRows(demo, "COPTC") != rows || tableRows(demo, "COPTG") != rows)
            fail(QStringLiteral("%1 exists with another number of rows; remove it").arg(demo));
        say(QStringLiteral("demo database: %1, used again").arg(demo));
        return;
    }
    const QString tool = QStringLiteral(SALESTOTALS_BENCH_DEMO_DB_TOOL);
    QElapsedTimer t;
    t.start();
    runProcess(tool, {demo, QStringLiteral("--rows"), QString::number(rows)}, 3600 * 1000);
    say(QStringLiteral("demo database: %1 made by salestotals-demo-db in %2 s, %3")
            .arg(demo)
            .arg(double(t.elapsed()) / 1000.0, 0, 'f', 1)
            .arg(mb(QFileInfo(demo).size() / 1024)));
}

// ---- start-up ----

struct StartupFigures
{
    QVector<qint64> mainToShownUs;
    QVector<qint64> processToShownUs;
};

qint64 monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

qint64 field(const QString &line, const QString &name)
{
    const qsizetype at = line.indexOf(name + u'=');
    return at < 0 ? -1 : line.mid(at + name.size() + 1).section(u' ', 0, 0).trimmed().toLongLong();
}

StartupFigures timeStartups(int runs, const QProcessEnvironment &env)
{
    StartupFigures f;
    const QString program = QStringLiteral(SALESTOTALS_BENCH_STARTUP);
    // A first start fills the system's font and library caches; it is not counted.
    runProcess(program, {}, 60000, env);
    for (int i = 0; i < runs; ++i) {
        const qint64 spawnNs = monotonicNs();
        const QString out = runProcess(program, {}, 60000, env);
        const qint64 entryNs = field(out, QStringLiteral("entry_ns"));
        const qint64 shownUs = field(out, QStringLiteral("shown_us"));
        if (entryNs < 0 || shownUs < 0)
            fail(QStringLiteral("no result from the start-up: ") + out);
        f.mainToShownUs << shownUs;
        f.processToShownUs << (entryNs - spawnNs) / 1000 + shownUs;
        say(QStringLiteral("  start-up %1: %2").arg(i + 1).arg(out.trimmed()));
    }
    return f;
}

qint64 median(QVector<qint64> us)
{
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
}

QString spread(QVector<qint64> us)
{
    std::sort(us.begin(), us.end());
    return QStringLiteral("best %1, median %2, worst %3")
        .arg(ms(us.front()), ms(median(us)), ms(us.back()));
}

// An X server of our own, so that the window goes through a real window system.
class OwnXvfb
{
public:
    bool start()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return false;
        m_process.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                               QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                               QStringLiteral("-screen"), QStringLiteral("0"),
                               QStringLiteral("1280x1024x24")});
        while (m_process.waitForReadyRead(10000)) {
            m_out += QString::fromLatin1(m_process.readAllStandardOutput());
            if (m_out.contains(u'\n'))
                return true;
        }
        return false;
    }
    QString display() const { return u':' + m_out.trimmed(); }
    ~OwnXvfb()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    QProcess m_process;
    QString m_out;
};

// The start-up executable finds its database beside itself, linked to a copy of the demo.
class StartupDatabase
{
public:
    StartupDatabase(const QString &demo, const QString &copy)
        : m_link(QFileInfo(QStringLiteral(SALESTOTALS_BENCH_STARTUP))
                     .dir()
                     .filePath(QLatin1String(StartupLinkName)))
    {
        const QFileInfo existing(m_link);
        if (existing.exists() && !existing.isSymLink())
            fail(QStringLiteral("will not replace ") + m_link);
        QFile::remove(m_link);
        freshCopy(demo, copy);
        if (!QFile::link(copy, m_link))
            fail(QStringLiteral("cannot link ") + m_link);
    }
    ~StartupDatabase() { QFile::remove(m_link); }

private:
    QString m_link;
};

// The goal is judged by the median of the slower window system.
void startupReport(const QString &what, const StartupFigures &f, qint64 &medianUs)
{
    say(QStringLiteral("start-up %1, main() entry to window shown: %2 (%3 runs)")
            .arg(what, spread(f.mainToShownUs))
            .arg(f.mainToShownUs.size()));
    say(QStringLiteral("start-up %1, process start to window shown: %2")
            .arg(what, spread(f.processToShownUs)));
    medianUs = std::max(medianUs, median(f.mainToShownUs));
}

// ---- the whole benchmark ----

int benchmark(const Options &o)
{
    std::optional<QTemporaryDir> temporary;
    QString dir = o.keep;
    if (dir.isEmpty()) {
        temporary.emplace();
        if (!temporary->isValid())
            fail(QStringLiteral("cannot make a temporary directory"));
        dir = temporary->path();
    } else if (!QDir().mkpath(dir)) {
        fail(QStringLiteral("cannot make ") + dir);
    }
    const QDir work(QFileInfo(dir).absoluteFilePath());
    const Period period;
    say(QStringLiteral("salestotals-bench: %1 rows in COPTC and %1 in COPTG, period %2 / %3 / %4, "
                       "%5 runs each")
            .arg(o.rows)
            .arg(period.year)
            .arg(period.month)
            .arg(period.week)
            .arg(o.repeat));
    say(QStringLiteral("machine: %1 cores, load average %2 at the start")
            .arg(QThread::idealThreadCount())
            .arg(loadAverage()));

    const QString demo = work.filePath(QStringLiteral("demo.sqlite"));
    prepareDemo(demo, o.rows);
    say(QStringLiteral(
        "measured: each run in a process of its own on a fresh copy of the demo database; the "
        "program from the press of OK (BatchRun::BitBtn1Click, connection open) to the end of "
        "its last batch, the hand SQL from its first statement to its last commit; CPU times "
        "and peak memory from getrusage"));
    const QString programFile = work.filePath(QStringLiteral("program.sqlite"));
    const QString handFile = work.filePath(QStringLiteral("hand.sqlite"));

    Best program, hand;
    QVector<RunCost> programRuns, handRuns, verifyRuns;
    Comparison comparison;
    for (int i = 0; i < o.repeat; ++i) {
        // Alternating which goes first evens out what the machine's other load does.
        for (int k = 0; k < 2; ++k) {
            const bool programTurn = (k == 0) == (i % 2 == 0);
            const RunCost c =
                measuredRun(programTurn ? QStringLiteral("program") : QStringLiteral("hand"), demo,
                            programTurn ? programFile : handFile);
            (programTurn ? program : hand).add(c, i == 0);
            (programTurn ? programRuns : handRuns) << c;
            say(QStringLiteral("run %1 %2: %3 (load %4)")
                    .arg(i + 1)
                    .arg(programTurn ? QStringLiteral("program ") : QStringLiteral("hand SQL"))
                    .arg(costText(c), loadAverage()));
            if (!programTurn)
                continue;
            // Verify on the totals the program has just written, as the daily check does.
            const RunCost v = measuredRun(QStringLiteral("verify"), {}, programFile);
            verifyRuns << v;
            say(QStringLiteral("run %1 verify  : %2 (%3 batches ok)")
                    .arg(i + 1)
                    .arg(costText(v))
                    .arg(v.batches));
        }
        comparison = compareTotals(programFile, handFile);
        if (!comparison.differences.isEmpty())
            break;
    }

    if (comparison.differences.isEmpty()) {
        say(QStringLiteral("totals: %1 summary rows and %2 completion rows, the same to the cent "
                           "in both runs")
                .arg(comparison.summaryRows)
                .arg(comparison.completionRows));
    } else {
        say(QStringLiteral("totals DIFFER (%1):").arg(comparison.differences.size()));
        for (const QString &d : std::as_const(comparison.differences))
            say(QStringLiteral("  ") + d);
    }

    say(QStringLiteral("program  (BatchRun::BitBtn1Click, compatibility layer), best of %1: %2")
            .arg(o.repeat)
            .arg(costText(program.wall)));
    say(QStringLiteral("hand SQL (plain sqlite3 connection),               best of %1: %2")
            .arg(o.repeat)
            .arg(costText(hand.wall)));
    const double cpuRatio = medianRatio(programRuns, handRuns, cpuUs);
    say(QStringLiteral("ratio %1: wall time, program / hand SQL of the runs taken in turns")
            .arg(ratioText(programRuns, handRuns, wallUs)));
    say(QStringLiteral("cpu ratio %1: user + sys CPU time, likewise (least of each: %2 / %3)")
            .arg(ratioText(programRuns, handRuns, cpuUs))
            .arg(ms(program.cpuUs), ms(hand.cpuUs)));
    say(QStringLiteral("verify: wall %1, CPU %2 (medians of %3), against the run's wall %4, CPU "
                       "%5; verify / run %6 wall, %7 CPU")
            .arg(ms(medianOf(verifyRuns, wallUs)), ms(medianOf(verifyRuns, cpuUs)))
            .arg(verifyRuns.size())
            .arg(ms(medianOf(programRuns, wallUs)), ms(medianOf(programRuns, cpuUs)))
            .arg(ratioText(verifyRuns, programRuns, wallUs))
            .arg(ratioText(verifyRuns, programRuns, cpuUs)));
    const double worstBatch = batchTable(programRuns, handRuns, handBatches(period));
    say(QStringLiteral("peak memory of the program runs: anonymous %1 (heap and stacks, "
                       "sampled), RSS %2 (mapped database pages included); hand SQL %3 and %4; "
                       "verify %5 and %6")
            .arg(mb(medianOf(programRuns, [](const RunCost &c) { return c.maxAnonKb; })),
                 mb(program.maxRssKb),
                 mb(medianOf(handRuns, [](const RunCost &c) { return c.maxAnonKb; })),
                 mb(hand.maxRssKb),
                 mb(medianOf(verifyRuns, [](const RunCost &c) { return c.maxAnonKb; })),
                 mb(medianOf(verifyRuns, [](const RunCost &c) { return c.maxRssKb; }))));

    qint64 startupUs = 0;
    if (o.startupRuns > 0) {
        say(QStringLiteral(
            "start-up: salestotals-startup-bench builds the window as the program's main() does, "
            "on a copy of the demo database, and times main() entry to the window's first "
            "expose handled (painted and handed to the window system); one uncounted start "
            "first warms the caches"));
        const StartupDatabase database(demo, work.filePath(QStringLiteral("startup.sqlite")));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!env.contains(QStringLiteral("XDG_RUNTIME_DIR"))) {
            const QString runtime = work.filePath(QStringLiteral("runtime"));
            QDir().mkpath(runtime);
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        }
        startupReport(QStringLiteral("offscreen"), timeStartups(o.startupRuns, env), startupUs);
        OwnXvfb xvfb;
        if (xvfb.start()) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            env.insert(QStringLiteral("DISPLAY"), xvfb.display());
            startupReport(QStringLiteral("xcb on Xvfb"), timeStartups(o.startupRuns, env),
                          startupUs);
        } else {
            say(QStringLiteral("start-up on xcb: no Xvfb, not measured"));
        }
    }

    say(QStringLiteral("machine: load average %1 at the end").arg(loadAverage()));
    auto verdict = [](bool met) { return met ? QStringLiteral("met") : QStringLiteral("NOT met"); };
    say(QStringLiteral("goals: verify no dearer than the run %1 (median wall %2 / %3)")
            .arg(verdict(medianOf(verifyRuns, wallUs) <= medianOf(programRuns, wallUs)),
                 ms(medianOf(verifyRuns, wallUs)), ms(medianOf(programRuns, wallUs))));
    say(QStringLiteral("goals: cpu ratio <= 1.00 %1 (median %2); every batch's median cpu "
                       "ratio <= 1.05 %3 (largest %4); peak memory < 150 MB %5; start-up "
                       "< 0.1 s %6 (median, main() to window shown)")
            .arg(verdict(cpuRatio <= 1.0))
            .arg(cpuRatio, 0, 'f', 2)
            .arg(verdict(worstBatch <= 1.05))
            .arg(worstBatch, 0, 'f', 2)
            .arg(verdict(program.maxRssKb < 150 * 1024), o.startupRuns > 0
                                                             ? verdict(startupUs <= 100000)
                                                             : QStringLiteral("not measured")));
    if (!o.keep.isEmpty())
        say(QStringLiteral("files kept in ") + work.absolutePath());
    return comparison.differences.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QCoreApplication application(qtArgc, qtArgv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Options o = parseOptions(args);
    if (o.help) {
        std::printf("%s", qPrintable(usage()));
        return 0;
    }
    if (!o.childMode.isEmpty())
        return childRun(o);
    return benchmark(o);
}
