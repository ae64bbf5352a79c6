// salestotals-batch: the twelve summary batches without a window, for scheduled runs.
#include "cli/batch_cli.h"
#include "dm/fdm.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>

int main(int argc, char **argv)
{
    // Qt is given only the program's name: every argument is the program's own.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QCoreApplication application(qtArgc, qtArgv);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();

    QTextStream out(stdout);
    QTextStream err(stderr);
    dm::FDM = new dm::TFDM; // closed connections; nothing touches the database yet
    const int status = batchcli::runProgram(program, arguments, QDate::currentDate(), out, err);
    delete dm::FDM;
    dm::FDM = nullptr;
    return status;
}
