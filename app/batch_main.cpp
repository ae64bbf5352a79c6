// salestotals-batch: the twelve summary batches without a window, for scheduled runs.
#include "cli/batch_cli.h"
#include "cli/journal.h"
#include "dm/fdm.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    // As Unicode on every platform (on Windows from the wide command line, so that a --log
    // path outside the ANSI code page arrives whole); every argument but the name is ours.
    QStringList arguments = QCoreApplication::arguments();
    const QString program = QFileInfo(arguments.takeFirst()).fileName();

    batchcli::journal::detectStandardStreams();
    QTextStream out(stdout);
    QTextStream err(stderr);
    dm::FDM = new dm::TFDM; // closed connections; nothing touches the database yet
    const int status = batchcli::runProgram(program, arguments, QDate::currentDate(), out, err);
    delete dm::FDM;
    dm::FDM = nullptr;
    return status;
}
