#include "app/batch_cli.h"

#include "batch/statements.h"
#include "calendar/default_period.h"
#include "calendar/period.h"
#include "dm/fdm.h"
#include "dm/query.h"
#include "dm/run_lock.h"
#include "dm/shared_values.h"

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

// Messages of SQL Server's driver can span lines; a batch keeps to one.
QString oneLine(const QString &message)
{
    QString line = message;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(u'\n', u' ');
    line.replace(u'\r', u' ');
    return line.trimmed();
}

// The window's start-up up to the proposed period: company code, connection string, today
// and its week from the calendar. The first statement opens the connection. Throws dm::Error.
Period startUp(QDate today)
{
    CompanyCode = QStringLiteral("C_QVT");
    dm::OpenCompanyConnection();
    InitToday(today);
    return proposedPeriod(CurYear, CurMonth, CurWeek);
}

int dryRun(const Options &options, QDate today, QTextStream &out)
{
    // Statements name the company even when nothing else of the start-up runs.
    CompanyCode = QStringLiteral("C_QVT");
    const Period period =
        options.wholePeriodGiven() ? givenPeriod(options) : periodInUse(options, startUp(today));
    printStatements(period, out);
    return AllDoneOrSkipped;
}

int fullRun(const Options &options, QDate today, QTextStream &out, QTextStream &err,
            const QString &program)
{
    // The whole start-up runs also when the options give the period, as the window's does
    // before the operator changes its fields.
    const Period period = periodInUse(options, startUp(today));
    // The emptying and the batches under one lock: no other run empties the tables under
    // this one's batches or counts a batch a second time.
    dm::RunLock lock(dm::FDM->PUB_DB, CompanyCode);
    try {
        lock.acquire();
    } catch (const dm::RunBusy &e) {
        err << program << ": " << oneLine(e.message()) << Qt::endl;
        return Busy;
    }
    NoBoxes boxes;
    QString message;
    if (!ClearSummaryTables(boxes, &message)) {
        // Completion rows left from an earlier run would skip batches that never ran.
        err << program << ": the summary tables were not emptied: " << oneLine(message) << Qt::endl;
        return CannotStart;
    }
    dm::Query adoInSert(&dm::FDM->PUB_DB);
    LinePrinter printer(out);
    BatchRun run(adoInSert, period, boxes, &printer, &lock);
    try {
        run.BitBtn1Click();
    } catch (const dm::RunBusy &e) {
        err << program << ": " << oneLine(e.message()) << Qt::endl;
        return Busy;
    } catch (const dm::Error &e) {
        err << program << ": the completion check failed, the run ends: " << oneLine(e.message())
            << Qt::endl;
        return CannotStart;
    }
    return printer.failures() > 0 ? BatchFailed : AllDoneOrSkipped;
}

} // namespace

Options parseArguments(const QStringList &arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            options.help = true;
            return options;
        }
        QString name = arg;
        std::optional<QString> value;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(u'=')) {
            name = arg.section(u'=', 0, 0);
            value = arg.section(u'=', 1);
        }
        const bool takesValue = name == QLatin1String("--year") ||
                                name == QLatin1String("--month") || name == QLatin1String("--week");
        if (takesValue && !value) {
            if (i + 1 >= arguments.size())
                throw UsageError(QStringLiteral("%1 needs a value").arg(name));
            value = arguments[++i];
        }
        if (name == QLatin1String("--year")) {
            setOnce(options.year, name, yearValue(name, *value));
        } else if (name == QLatin1String("--month")) {
            setOnce(options.month, name, numberValue(name, *value, 12));
        } else if (name == QLatin1String("--week")) {
            setOnce(options.week, name, numberValue(name, *value, 53));
        } else if (name == QLatin1String("--dry-run")) {
            if (value)
                throw UsageError(QStringLiteral("--dry-run takes no value"));
            if (options.dryRun)
                throw UsageError(QStringLiteral("--dry-run is given twice"));
            options.dryRun = true;
        } else if (arg.startsWith(u'-')) {
            throw UsageError(QStringLiteral("unknown option '%1'").arg(arg));
        } else {
            throw UsageError(QStringLiteral("unexpected argument '%1'").arg(arg));
        }
    }
    return options;
}

QString usageText(const QString &program)
{
    return QStringLiteral(
               "Usage: %1 [--year YYYY] [--month M] [--week W] [--dry-run]\n"
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
               "  -h, --help    print this help\n"
               "\n"
               "Batch lines go to standard output, errors to standard error.\n"
               "\n"
               "One run at a time per company database: the emptying and the batches run\n"
               "under a lock that the window's start-up and its OK button take as well. A run\n"
               "that finds the lock held waits up to %2 s for it; then it changes nothing and\n"
               "prints one line naming the other run (program, process, host) and since when\n"
               "it has held the lock. A lock of a process that was killed is taken over.\n"
               "\n"
               "Exit status:\n"
               "  0   every batch done or skipped\n"
               "  1   a batch failed\n"
               "  2   the run could not start or ended early (bad options, database\n"
               "      unreachable, no calendar week for today, the summary tables not\n"
               "      emptied, a failing completion check)\n"
               "  75  busy: another run holds the company database; this run changed\n"
               "      nothing (or, having lost its lock on the way, did no further batch);\n"
               "      try again later\n")
        .arg(program)
        .arg(dm::configuredRunLockWait());
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
    m_out << code << " failed: " << oneLine(databaseMessage) << Qt::endl;
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
        err << program << ": " << e.message() << "\nTry '" << program << " --help'." << Qt::endl;
        return CannotStart;
    }
    if (options.help) {
        out << usageText(program) << Qt::flush;
        return AllDoneOrSkipped;
    }
    try {
        return options.dryRun ? dryRun(options, today, out)
                              : fullRun(options, today, out, err, program);
    } catch (const dm::Error &e) {
        err << program << ": " << oneLine(e.message()) << Qt::endl;
        return CannotStart;
    }
}

} // namespace batchcli
