#pragma once

#include "batch/batch_run.h"
#include "batch/boxes.h"
#include "batch/period_source.h"
#include "dm/error.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <optional>

// salestotals-batch: the window's start-up and one press of OK, without a window, for
// scheduled runs.
namespace batchcli {

// Busy is sysexits' EX_TEMPFAIL: a scheduler may try again later. Drift: --verify found
// stored totals that no longer match their sources.
enum ExitStatus { AllDoneOrSkipped = 0, BatchFailed = 1, CannotStart = 2, Drift = 3, Busy = 75 };

struct Options
{
    std::optional<QString> year; // four digits
    std::optional<int> month;    // 1-12
    std::optional<int> week;     // 1-53
    bool dryRun = false;
    bool verify = false; // compare the stored totals with their sources; write nothing
    bool help = false;
    std::optional<QString> log;     // a file each run is appended to
    std::optional<int> wait;        // seconds to wait for another run's lock
    std::optional<QString> config;  // a configuration file instead of the site's
    bool showConfig = false;        // print the settings in effect; touch no database
    bool json = false;              // JSON Lines on standard output instead of text
    std::optional<QString> metrics; // a Prometheus text file replaced after each run

    bool wholePeriodGiven() const { return year && month && week; }
};

// A command line that says nothing sensible; nothing has touched the database yet.
class UsageError : public dm::Error
{
public:
    using dm::Error::Error;
};

// The arguments after the program name. Throws UsageError.
Options parseArguments(const QStringList &arguments);
QString usageText(const QString &program);

// A reporting period as the window's year field and spin boxes hold it.
class Period : public PeriodSource
{
public:
    Period(QString yearText, int month, int week)
        : m_yearText(std::move(yearText)), m_month(month), m_week(week)
    {
    }
    QString yearText() const override { return m_yearText; }
    int month() const override { return m_month; }
    int week() const override { return m_week; }

private:
    QString m_yearText;
    int m_month;
    int m_week;
};

// What the window's fields show after its start-up proposed a period for today's week:
// last week, and the month of that week's last day within the month box's range. Throws
// dm::Error like the window's week handler.
Period proposedPeriod(quint16 curYear, quint16 curMonth, quint16 curWeek);

// The proposal with each part that the options give replaced.
Period periodInUse(const Options &options, const Period &proposed);

// A period given whole by the options; no proposal needed.
Period givenPeriod(const Options &options);

// Boxes nobody sees: failures reach the operator through the listener instead.
class NoBoxes : public Boxes
{
public:
    void error(const QString &) override {}
    void batchError() override {}
    void code(const QString &) override {}
};

// One line per batch: "W101 done 12 rows 35 ms", "W101 skipped", "W101 failed: <message>".
class LinePrinter : public BatchListener
{
public:
    explicit LinePrinter(QTextStream &out) : m_out(out) {}
    void batchSkipped(const QString &code) override;
    void batchDone(const QString &code, int rowsInserted, qint64 elapsedMs) override;
    void batchFailed(const QString &code, const QString &databaseMessage) override;
    int failures() const { return m_failures; }

private:
    QTextStream &m_out;
    int m_failures = 0;
};

// Each batch's two statements with the value each binds, in the order of the run.
void printStatements(const PeriodSource &period, QTextStream &out);

// The whole program once dm::FDM exists: options, start-up, then the batches or the dry run.
// Returns the exit status.
int runProgram(const QString &program, const QStringList &arguments, QDate today, QTextStream &out,
               QTextStream &err);

} // namespace batchcli
