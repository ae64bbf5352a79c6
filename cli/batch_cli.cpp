#include "cli/batch_cli.h"

#include "batch/startup.h"
#include "batch/statements.h"
#include "calendar/default_period.h"
#include "calendar/period.h"
#include "cli/journal.h"
#include "cli/json_lines.h"
#include "cli/metrics.h"
#include "cli/run_log.h"
#include "cli/run_report.h"
#include "cli/verify_cli.h"
#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/run_lock.h"
#include "dm/settings.h"
#include "dm/shared_values.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <algorithm>

namespace batchcli {

namespace {

// The window's spin boxes hold their design range while the proposal is written into them.
constexpr int DesignWeekMin = 1;
constexpr int DesignWeekMax = 53;

bool asciiDigits(const QString &text, qsizetype minLength, qsizetype maxLength)
{
    if (text.size() < minLength || text.size() > maxLength)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString yearValue(const QString &name, const QString &value)
{
    if (!asciiDigits(value, 4, 4) || value.startsWith(u'0'))
        throw UsageError(
            QStringLiteral("%1 needs a year of four digits, e.g. 2024, not '%2'").arg(name, value));
    return value;
}

int numberValue(const QString &name, const QString &value, int max)
{
    const int number = asciiDigits(value, 1, 2) ? value.toInt() : 0;
    if (number < 1 || number > max)
        throw UsageError(QStringLiteral("%1 needs a whole number from 1 to %2, not '%3'")
                             .arg(name)
                             .arg(max)
                             .arg(value));
    return number;
}

template <class T> void setOnce(std::optional<T> &option, const QString &name, T value)
{
    if (option)
        throw UsageError(QStringLiteral("%1 is given twice").arg(name));
    option = std::move(value);
}

// Every option of salestotals-batch, in one place. Adding one: a line here, a field in Options,
// a case in takeOption and a line in usageText.
QList<QCommandLineOption> optionDefinitions()
{
    return {
        QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, {}),
        QCommandLineOption(QStringLiteral("year"), {}, QStringLiteral("YYYY")),
        QCommandLineOption(QStringLiteral("month"), {}, QStringLiteral("M")),
        QCommandLineOption(QStringLiteral("week"), {}, QStringLiteral("W")),
        QCommandLineOption(QStringLiteral("dry-run"), {}),
        QCommandLineOption(QStringLiteral("verify"), {}),
        QCommandLineOption(QStringLiteral("log"), {}, QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("wait"), {}, QStringLiteral("SECONDS")),
        QCommandLineOption(QStringLiteral("config"), {}, QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("show-config"), {}),
        QCommandLineOption(QStringLiteral("json"), {}),
        QCommandLineOption(QStringLiteral("metrics"), {}, QStringLiteral("FILE")),
    };
}

// --json and --metrics: what the run reports besides its lines. Throws UsageError.
void takeOutputOption(Options &options, const QString &name, const QString &value)
{
    if (name == QLatin1String("json")) {
        if (options.json)
            throw UsageError(QStringLiteral("--json is given twice"));
        options.json = true;
    } else if (name == QLatin1String("metrics")) {
        if (value.isEmpty())
            throw UsageError(QStringLiteral("--metrics needs a file name"));
        setOnce(options.metrics, QStringLiteral("--metrics"), value);
    }
}

// One occurrence of an option with its value, as the command line gave it. Throws UsageError.
void takeOption(Options &options, const QString &name, const QString &value)
{
    const QString shown = QStringLiteral("--") + name;
    if (name == QLatin1String("year")) {
        setOnce(options.year, shown, yearValue(shown, value));
    } else if (name == QLatin1String("month")) {
        setOnce(options.month, shown, numberValue(shown, value, 12));
    } else if (name == QLatin1String("week")) {
        setOnce(options.week, shown, numberValue(shown, value, 53));
    } else if (name == QLatin1String("dry-run")) {
        if (options.dryRun)
            throw UsageError(QStringLiteral("--dry-run is given twice"));
        options.dryRun = true;
    } else if (name == QLatin1String("verify")) {
        if (options.verify)
            throw UsageError(QStringLiteral("--verify takes no value and is given once"));
        options.verify = true;
    } else if (name == QLatin1String("log")) {
        if (value.isEmpty())
            throw UsageError(QStringLiteral("--log needs a file name"));
        setOnce(options.log, shown, value);
    } else if (name == QLatin1String("wait")) {
        if (!asciiDigits(value, 1, 6))
            throw UsageError(
                QStringLiteral("--wait needs a number of seconds, not '%1'").arg(value));
        setOnce(options.wait, shown, value.toInt());
    } else if (name == QLatin1String("config")) {
        if (value.isEmpty())
            throw UsageError(QStringLiteral("--config needs a file name"));
        setOnce(options.config, shown, value);
    } else if (name == QLatin1String("show-config")) {
        if (options.showConfig)
            throw UsageError(QStringLiteral("--show-config is given twice"));
        options.showConfig = true;
    } else {
        takeOutputOption(options, name, value);
    }
}

// What QCommandLineParser makes of the first `count` arguments.
struct Reading
{
    Options options;
    bool valueMissing = false; // the last argument is an option that wants the next one
};

bool wantsValue(const QString &argument)
{
    for (const QCommandLineOption &option : optionDefinitions()) {
        if (option.valueName().isEmpty())
            continue;
        for (const QString &name : option.names()) {
            if (argument == (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name)
                return true;
        }
    }
    return false;
}

// Throws UsageError for the last of the arguments when it makes them wrong: all before it
// were read without an error.
Reading readArguments(const QStringList &arguments, bool lastIsValue)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.addOptions(optionDefinitions());
    const QString &last = arguments.last();
    const bool parsed = parser.parse(QStringList{QString()} + arguments);
    Reading reading;
    if (!parsed && !lastIsValue && wantsValue(last)) {
        reading.valueMissing = true;
        return reading;
    }
    // QCommandLineParser takes "--h" for -h; only the one-dash form is an option here.
    const bool doubleDashShort = last.startsWith(QLatin1String("--")) &&
                                 last.section(u'=', 0, 0).size() == 3 && !lastIsValue;
    if (doubleDashShort || (!parsed && !parser.unknownOptionNames().isEmpty()))
        throw UsageError(QStringLiteral("unknown option '%1'").arg(last));
    // Else a value after '=' for an option that takes none.
    if (!parsed && last.startsWith(QLatin1String("--dry-run=")))
        throw UsageError(QStringLiteral("--dry-run takes no value"));
    if (!parsed && last.startsWith(QLatin1String("--verify=")))
        throw UsageError(QStringLiteral("--verify takes no value and is given once"));
    if (!parsed && last.startsWith(QLatin1String("--show-config=")))
        throw UsageError(QStringLiteral("--show-config takes no value"));
    if (!parsed && last.startsWith(QLatin1String("--json=")))
        throw UsageError(QStringLiteral("--json takes no value"));
    if (!parsed)
        throw UsageError(QStringLiteral("unknown option '%1'").arg(last));
    // QCommandLineParser reads a lone "--" as the end of the options; here it is unknown.
    if (!parser.positionalArguments().isEmpty() || (last == QLatin1String("--") && !lastIsValue))
        throw UsageError(last.startsWith(u'-')
                             ? QStringLiteral("unknown option '%1'").arg(last)
                             : QStringLiteral("unexpected argument '%1'").arg(last));
    QHash<QString, int> seen;
    for (const QString &name : parser.optionNames()) {
        if (name == QLatin1String("h") || name == QLatin1String("help")) {
            reading.options.help = true;
            return reading;
        }
        const QStringList values = parser.values(name);
        const int index = seen[name]++;
        takeOption(reading.options, name, index < values.size() ? values[index] : QString());
    }
    return reading;
}

// Messages of SQL Server's driver can span lines; a batch keeps to one.
QString oneLine(const QString &message)
{
    QString line = message;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(u'\n', u' ');
    line.replace(u'\r', u' ');
    return line.trimmed();
}

QString periodText(const PeriodSource &period)
{
    return QStringLiteral("year %1, month %2, week %3")
        .arg(period.yearText())
        .arg(period.month())
        .arg(period.week());
}

void reportPeriod(RunReport &report, const PeriodSource &period)
{
    report.period = ReportedPeriod{period.yearText(), period.month(), period.week()};
}

QString warning()
{
    return journal::errPrefix(journal::Priority::Warning);
}

QString error()
{
    return journal::errPrefix(journal::Priority::Error);
}

// The twelve batches under the lock the start-up took.
int runBatches(const Period &period, dm::RunLock &lock, QTextStream &out, QTextStream &err,
               const QString &program, RunReport &report)
{
    NoBoxes boxes;
    dm::Query adoInSert(&dm::FDM->PUB_DB);
    LinePrinter lines(out);
    json::BatchPrinter objects(out, period);
    Tally tally(report, report.json ? static_cast<BatchListener &>(objects) : lines);
    BatchRun run(adoInSert, period, boxes, &tally, &lock);
    try {
        run.BitBtn1Click();
    } catch (const dm::RunBusy &e) {
        err << warning() << program << ": " << oneLine(e.message()) << Qt::endl;
        return Busy;
    } catch (const dm::RunLockError &e) {
        err << error() << program << ": " << oneLine(e.message()) << "; the run ends" << Qt::endl;
        return CannotStart;
    } catch (const dm::Error &e) {
        err << error() << program
            << ": the completion check failed, the run ends: " << oneLine(e.message()) << Qt::endl;
        return CannotStart;
    }
    return report.failed > 0 ? BatchFailed : AllDoneOrSkipped;
}

// The start-up up to the proposed period, without the lock or the emptying. Throws dm::Error.
Period proposedToday(QDate today)
{
    std::optional<Period> period;
    StartUp steps;
    steps.today = today;
    steps.proposed = [&] { period = proposedPeriod(CurYear, CurMonth, CurWeek); };
    steps.emptySummaryTables = false;
    NoBoxes boxes;
    runStartUp(steps, boxes);
    return *period;
}

int dryRun(const Options &options, QDate today, QTextStream &out, RunLog *log, RunReport &report)
{
    setCompanyCode();
    const Period period = options.wholePeriodGiven() ? givenPeriod(options)
                                                     : periodInUse(options, proposedToday(today));
    reportPeriod(report, period);
    if (log)
        log->begin(periodText(period) + QStringLiteral(", dry run"));
    if (options.json)
        json::printStatements(period, out);
    else
        printStatements(period, out);
    return AllDoneOrSkipped;
}

int fullRun(const Options &options, QDate today, QTextStream &out, QTextStream &err,
            const QString &program, RunLog *log, RunReport &report)
{
    // The whole start-up runs also when the options give the period, as the window's does
    // before the operator changes its fields. The emptying and the batches run under one
    // lock: no other run empties the tables under this one's batches or counts a batch twice.
    std::optional<Period> period;
    StartUp steps;
    steps.today = today;
    steps.waitSeconds = options.wait.value_or(dm::configuredRunLockWait());
    steps.proposed = [&] {
        period = periodInUse(options, proposedPeriod(CurYear, CurMonth, CurWeek));
        reportPeriod(report, *period);
        if (log)
            log->begin(periodText(*period));
    };
    NoBoxes boxes;
    QString message;
    std::unique_ptr<dm::RunLock> lock;
    try {
        lock = runStartUp(steps, boxes, &message);
    } catch (const dm::RunBusy &e) {
        err << warning() << program << ": " << oneLine(e.message()) << Qt::endl;
        return Busy;
    }
    if (!lock) {
        // Completion rows left from an earlier run would skip batches that never ran.
        err << error() << program << ": the summary tables were not emptied: " << oneLine(message)
            << Qt::endl;
        return CannotStart;
    }
    return runBatches(*period, *lock, out, err, program, report);
}

// The run's start-up and period, then verify instead of the emptying and the batches.
int verifyRun(const Options &options, QDate today, QTextStream &out, QTextStream &err,
              const QString &program, RunLog *log, RunReport &report)
{
    const Period period = periodInUse(options, proposedToday(today));
    reportPeriod(report, period);
    if (log)
        log->begin(periodText(period) + QStringLiteral(", verify"));
    return verifyTotals(period, options.wait.value_or(dm::configuredRunLockWait()), out, err,
                        program, &report);
}

int run(const Options &options, QDate today, QTextStream &out, QTextStream &err,
        const QString &program, RunLog *log, RunReport &report)
{
    try {
        if (options.verify)
            return verifyRun(options, today, out, err, program, log, report);
        return options.dryRun ? dryRun(options, today, out, log, report)
                              : fullRun(options, today, out, err, program, log, report);
    } catch (const dm::Error &e) {
        err << error() << program << ": " << oneLine(e.message()) << Qt::endl;
        return CannotStart;
    }
}

RunReport reportFor(const Options &options)
{
    RunReport report;
    report.mode = options.verify ? Mode::Verify : options.dryRun ? Mode::DryRun : Mode::Run;
    report.json = options.json;
    return report;
}

// The run with its copies: the log, the closing JSON object, the metrics file.
int reportedRun(const Options &options, QDate today, QTextStream &out, QTextStream &err,
                const QString &program)
{
    QElapsedTimer timer;
    timer.start();
    RunReport report = reportFor(options);
    std::optional<RunLog> log;
    if (options.log)
        log.emplace(*options.log, program, err);
    Tee outTee(out, [&](const QString &text) {
        if (log)
            log->add(text);
    });
    Tee errTee(err, [&](const QString &text) {
        report.errorText += text;
        if (log)
            log->add(text);
    });
    QTextStream loggedOut(&outTee);
    QTextStream loggedErr(&errTee);
    int status = CannotStart;
    if (dm::loadSettings(options.config))
        status = run(options, today, loggedOut, loggedErr, program, log ? &*log : nullptr, report);
    else
        loggedErr << error() << program << ": " << dm::loadError() << Qt::endl;
    report.elapsedMs = timer.elapsed();
    if (options.metrics && report.mode != Mode::DryRun)
        metrics::update(*options.metrics, report, status, loggedErr, program);
    loggedErr.flush();
    if (options.json)
        loggedOut << json::line(json::closingObject(report, status)) << Qt::endl;
    loggedOut.flush();
    if (log)
        log->end(status);
    return status;
}

} // namespace

Options parseArguments(const QStringList &arguments)
{
    // Read one more argument at a time, so that the first wrong one is the one reported and
    // --help counts only when nothing wrong comes before it.
    bool lastIsValue = false;
    for (qsizetype count = 1; count <= arguments.size(); ++count) {
        const Reading reading = readArguments(arguments.first(count), lastIsValue);
        if (reading.options.help)
            return reading.options;
        lastIsValue = reading.valueMissing;
        if (count == arguments.size() && reading.valueMissing)
            throw UsageError(QStringLiteral("%1 needs a value").arg(arguments.last()));
        if (count == arguments.size() && reading.options.verify && reading.options.dryRun)
            throw UsageError(QStringLiteral("--verify and --dry-run exclude each other"));
        if (count == arguments.size())
            return reading.options;
    }
    return Options();
}

QString usageText(const QString &program)
{
    return QStringLiteral(
               "Usage: %1 [--year YYYY] [--month M] [--week W] [OPTION]...\n"
               "  or:  %1 --show-config [--config FILE]\n"
               "  or:  %1 --help\n"
               "\n"
               "Runs the twelve summary batches without a window, as the OK button does after\n"
               "the window's start-up: connects to the company database, reads today's week\n"
               "from the week calendar FCMSDT, proposes last week with its year and month,\n"
               "empties FADMXX and FADMXY, then runs each batch not yet done and prints one\n"
               "line for it:\n"
               "  CODE done N rows T ms       its summary rows and completion row are in\n"
               "  CODE skipped                its completion row exists already\n"
               "  CODE failed: MESSAGE        the database refused it; nothing of it is kept\n"
               "\n"
               "Options:\n"
               "  --year YYYY   the year, four digits (1000-9999)\n"
               "  --month M     the month, 1-12\n"
               "  --week W      the week, 1-53\n"
               "                Each of these replaces that part of the proposed period; the\n"
               "                parts not given stay as proposed. Yearly batches write the\n"
               "                ROC year of the year in use.\n"
               "  --dry-run     print each batch's two statements and the value each binds,\n"
               "                and change nothing: no emptying, no completion check, no\n"
               "                insert. It reads the database only for today's week, and not\n"
               "                at all when --year, --month and --week are all given.\n"
               "  --verify      change nothing; check the stored totals instead: for each\n"
               "                batch recorded done in FADMXY for the period, the database\n"
               "                recomputes its totals with the batch's own SELECT, which are\n"
               "                compared group by group, exactly, with its FADMXX rows:\n"
               "                  CODE ok N groups       every group and total matches\n"
               "                  CODE differs: WHAT     missing or extra groups, totals that\n"
               "                                         differ (the largest and its group),\n"
               "                                         rows present twice, a completion row\n"
               "                                         without summary rows or the reverse\n"
               "                  CODE moved since the run: WHAT\n"
               "                                         a month or year that went on after\n"
               "                                         the week: totals changed or groups\n"
               "                                         added, as orders posted since do;\n"
               "                                         not drift\n"
               "                  CODE not done          nothing recorded for the period\n"
               "                  CODE failed: MESSAGE   it could not be recomputed\n"
               "                and last \"ALL ok|differs|failed N of M batches T ms\", with\n"
               "                \"(K moved since the run)\" before the time when any has. It\n"
               "                takes the run lock and reads in a transaction that writes\n"
               "                nothing.\n"
               "  --log FILE    also append the run to FILE: a header line with the date,\n"
               "                time, host and period, the lines printed (errors included),\n"
               "                and a last line with the exit status. FILE and its folder\n"
               "                are created when missing, never truncated; a log that\n"
               "                cannot be written is reported on standard error and the\n"
               "                run goes on without it.\n"
               "  --wait SECONDS\n"
               "                wait up to SECONDS (0-999999) for another run's lock\n"
               "                instead of the setting run_lock_wait, e.g. 10800 (three\n"
               "                hours) for a scheduler that does not start a busy run again\n"
               "  --config FILE read the settings from FILE instead of the site\n"
               "                configuration (below)\n"
               "  --show-config print every setting in effect, where it came from, and the\n"
               "                connection they make; touches no database\n"
               "  --json        print JSON Lines instead: one object per batch and a\n"
               "                closing object (keys below), with the same exit status\n"
               "  --metrics FILE\n"
               "                after a run or a verify (not a dry run), replace FILE with\n"
               "                its outcome in Prometheus' text format, written beside it\n"
               "                and renamed over it: salestotals_run_* or\n"
               "                salestotals_verify_* last_timestamp_seconds, exit_status,\n"
               "                success, last_success_timestamp_seconds (kept from FILE\n"
               "                when this one did not exit 0), batches{outcome=...} and\n"
               "                duration_seconds. A FILE that cannot be written is\n"
               "                reported on standard error and the run goes on.\n"
               "  -h, --help    print this help\n"
               "\n"
               "Batch lines go to standard output, errors to standard error. When either\n"
               "is systemd's journal (JOURNAL_STREAM), failed batches, drift and errors\n"
               "carry error priority and busy runs warning priority.\n"
               "\n"
               "JSON keys (--json), each object on one line:\n"
               "  code          the batch code, or ALL on the closing object\n"
               "  period        {year, week | month | roc_year} of the batch; the closing\n"
               "                object's {year, month, week}, absent when not determined\n"
               "  status        run: done, skipped, failed; dry run: dry_run; verify: ok,\n"
               "                differs, moved, not_done, failed; closing: ok, failed,\n"
               "                cannot_start, differs, busy\n"
               "  rows, ms      a done batch's summary rows and milliseconds\n"
               "  groups        verify: the groups recomputed\n"
               "  differences   verify: what differs, as the text lines say it\n"
               "  largest       verify: {group, stored, recomputed, difference}, totals as\n"
               "                exact decimal texts, null for NULL\n"
               "  message       the database's message of a failed batch; on the closing\n"
               "                object what went to standard error\n"
               "  summary, completion, binds {name, value}\n"
               "                dry run: the statements and the value bound\n"
               "  exit_status, ms, done, skipped, failed (run) or ok, differs, moved,\n"
               "  not_done, failed (verify)\n"
               "                the closing object\n"
               "\n"
               "One run at a time per company database: the emptying and the batches run\n"
               "under a lock that the window's start-up and its OK button take as well. A run\n"
               "that finds the lock held waits up to run_lock_wait seconds for it; then it\n"
               "changes nothing and prints one line naming the other run (program, process,\n"
               "host) and since when it has held the lock. A lock of a process that was\n"
               "killed is taken over; a lock file that cannot be is named, for the operator\n"
               "to delete.\n"
               "\n"
               "Exit status:\n"
               "  0   every batch done or skipped (--verify: every recorded batch matches\n"
               "      or moved since the run)\n"
               "  1   a batch failed\n"
               "  2   the run could not start or ended early (bad options, database\n"
               "      unreachable, no calendar week for today, the summary tables not\n"
               "      emptied, a failing completion check, the lock refused or not\n"
               "      to be checked; --verify: a batch that could not be recomputed)\n"
               "  3   --verify: the stored totals of a batch differ from their sources\n"
               "      (a week, a group gone or twice, a completion row without summary\n"
               "      rows or the reverse, or a month or year over before the week ended)\n"
               "  75  busy: another run holds the company database; this run changed\n"
               "      nothing (or, having lost its lock on the way, did no further batch);\n"
               "      try again later\n"
               "\n"
               "Settings:\n"
               "The settings come from the first of: the file of --config, the file that the\n"
               "environment variable SALESTOTALS_CONFIG names, the site configuration (%2),\n"
               "and last the built-in values. The file has one \"key = value\" per line;\n"
               "lines starting with # are comments. Keys:\n"
               "  backend        embedded (a SQLite file) or sqlserver\n"
               "  server         SQL Server host, with \",port\" when not 1433\n"
               "  database_file  the SQLite file of the embedded backend; relative: beside\n"
               "                 the program\n"
               "  odbc_driver    the ODBC driver's name, e.g. FreeTDS or ODBC Driver 18 for\n"
               "                 SQL Server\n"
               "  odbc_options   more \"Key=Value;...\" for the driver (default: FreeTDS's\n"
               "                 TDS_Version=7.4;ClientCharset=UTF-8, nothing for others)\n"
               "  run_lock_wait  seconds to wait for another run's lock (default 30)\n"
               "  lock_timeout   SQL Server: seconds a statement waits for a row another\n"
               "                 session locks; then its batch fails (default 60)\n"
               "  query_timeout  SQL Server: seconds before a statement is cancelled\n"
               "                 (default 1800; 0: never)\n"
               "A wrong line, an unknown or repeated key, or a file that others than its\n"
               "owner and root can write ends the program with status 2.\n")
        .arg(program, QDir::toNativeSeparators(dm::siteConfiguration()));
}

Period proposedPeriod(quint16 curYear, quint16 curMonth, quint16 curWeek)
{
    const calendar::ProposedPeriod p = calendar::proposePeriod(curYear, curMonth, curWeek);
    const int week = std::clamp(p.weekValue, DesignWeekMin, DesignWeekMax);
    // Applying the week moves the month box to the month of the week's last day; the box
    // clamps it to its new range unless that range has equal ends.
    const int weekMonth = calendar::applyWeek(p.yearText, week).month;
    const int month =
        p.monthMin == p.monthMax ? weekMonth : std::clamp(weekMonth, p.monthMin, p.monthMax);
    return Period(p.yearText, month, week);
}

Period periodInUse(const Options &options, const Period &proposed)
{
    return Period(options.year.value_or(proposed.yearText()),
                  options.month.value_or(proposed.month()), options.week.value_or(proposed.week()));
}

Period givenPeriod(const Options &options)
{
    if (!options.wholePeriodGiven())
        throw dm::Error(QStringLiteral("--year, --month and --week are not all given"));
    return Period(*options.year, *options.month, *options.week);
}

void LinePrinter::batchSkipped(const QString &code)
{
    m_out << code << " skipped" << Qt::endl;
}

void LinePrinter::batchDone(const QString &code, int rowsInserted, qint64 elapsedMs)
{
    m_out << code << " done " << rowsInserted << (rowsInserted == 1 ? " row " : " rows ")
          << elapsedMs << " ms" << Qt::endl;
}

void LinePrinter::batchFailed(const QString &code, const QString &databaseMessage)
{
    ++m_failures;
    m_out << journal::outPrefix(journal::Priority::Error) << code
          << " failed: " << oneLine(databaseMessage) << Qt::endl;
}

void printStatements(const PeriodSource &period, QTextStream &out)
{
    out << "-- year " << period.yearText() << ", month " << period.month() << ", week "
        << period.week() << "\n";
    for (const BatchDef &batch : batchCatalogue()) {
        const BatchStatements s = statementsFor(batch, period);
        const QString binds =
            s.parameterName.isEmpty()
                ? QStringLiteral("binds nothing")
                : QStringLiteral("binds %1 = %2").arg(s.parameterName).arg(s.period);
        out << "-- " << batch.code << " summary, " << binds << "\n" << s.summary << "\n";
        out << "-- " << batch.code << " completion, " << binds << "\n" << s.completion << "\n";
    }
    out.flush();
}

int runProgram(const QString &program, const QStringList &arguments, QDate today, QTextStream &out,
               QTextStream &err)
{
    Options options;
    try {
        options = parseArguments(arguments);
    } catch (const UsageError &e) {
        err << error() << program << ": " << e.message() << "\nTry '" << program << " --help'."
            << Qt::endl;
        return CannotStart;
    }
    if (options.help) {
        out << usageText(program) << Qt::flush;
        return AllDoneOrSkipped;
    }
    if (options.showConfig) {
        if (!dm::loadSettings(options.config)) {
            err << error() << program << ": " << dm::loadError() << Qt::endl;
            return CannotStart;
        }
        out << dm::describeSettings(dm::settings()) << Qt::flush;
        return AllDoneOrSkipped;
    }
    return reportedRun(options, today, out, err, program);
}

} // namespace batchcli
