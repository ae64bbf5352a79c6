// salestotals-demo-db PATH [--rows N] [--seed S]: creates a demo company database.
#include "tools/demo_db.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

int main(int argc, char **argv)
{
    const QString program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    demodb::Options options;
    try {
        options = demodb::parseArguments(arguments);
    } catch (const demodb::UsageError &e) {
        print(stderr,
              QStringLiteral("%1: %2\n%3").arg(program, e.message(), demodb::usageText(program)));
        return 2;
    }
    if (options.help) {
        print(stdout, demodb::usageText(program));
        return 0;
    }

    QElapsedTimer timer;
    timer.start();
    try {
        const demodb::Summary s = demodb::createDemoDatabase(options);
        print(stdout, QStringLiteral("Created %1: %2 calendar weeks, %3 items, %4 orders, "
                                     "%5 invoices (seed %6) in %7 s\n")
                          .arg(options.path)
                          .arg(s.weeks)
                          .arg(s.items)
                          .arg(s.orders)
                          .arg(s.invoices)
                          .arg(options.seed)
                          .arg(timer.elapsed() / 1000.0, 0, 'f', 1));
    } catch (const dm::Error &e) {
        print(stderr, QStringLiteral("%1: %2\n").arg(program, e.message()));
        return 1;
    }
    return 0;
}
