// salestotals-startup-bench: the program's start-up as app/main.cpp does it, timed from the
// entry of main() until the window has been exposed and painted for the first time. The
// database is the compiled-in data source beside this executable, which salestotals-bench
// links to its demo database. The boxes are not shown but counted: an error box would
// otherwise wait for an operator, and a start-up that showed one is no start-up to time.
#include "batch/boxes.h"
#include "dm/fdm.h"
#include "dm/settings.h"
#include "gui/look.h"
#include "gui/main_form.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <ctime>

namespace {

qint64 monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

class CountingBoxes : public Boxes
{
public:
    void error(const QString &message) override
    {
        ++shown;
        std::fprintf(stderr, "error box: %s\n", qPrintable(message));
    }
    void batchError() override
    {
        ++shown;
        std::fprintf(stderr, "batch error box\n");
    }
    void code(const QString &) override { ++shown; }

    int shown = 0;
};

// Notes the first expose of the window, and the moment the event loop comes back after it:
// by then the window has painted its controls and handed the picture to the window system.
class ShownWatch : public QObject
{
public:
    qint64 exposedNs = 0;
    qint64 shownNs = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && exposedNs == 0 && Form1 &&
            watched == Form1->windowHandle()) {
            exposedNs = monotonicNs();
            QTimer::singleShot(0, this, [this] {
                shownNs = monotonicNs();
                QCoreApplication::quit();
            });
        }
        return false;
    }
};

} // namespace

int main(int, char **argv)
{
    const qint64 entryNs = monotonicNs();
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    preferTraditionalChinese();
    CountingBoxes boxes;
    ShownWatch watch;
    application.installEventFilter(&watch);
    // Never wait for ever on a window system that shows nothing.
    QTimer::singleShot(30000, &application, [] { QCoreApplication::exit(2); });

    // The demo database the benchmark makes beside it, as a site configuration would name it.
    dm::Settings settings;
    settings.set(QStringLiteral("database_file"), QStringLiteral("salestotals-bench.sqlite"),
                 QStringLiteral("salestotals-startup-bench"));
    dm::useSettings(settings);
    dm::FDM = new dm::TFDM;
    Form1 = new TForm1(boxes);
    const qint64 createdNs = monotonicNs();
    Form1->show();
    const int result = application.exec();

    delete Form1;
    Form1 = nullptr;
    delete dm::FDM;
    dm::FDM = nullptr;
    if (result != 0 || watch.shownNs == 0) {
        std::fprintf(stderr, "the window was never shown\n");
        return 2;
    }
    std::printf("startup-result platform=%s entry_ns=%lld window_built_us=%lld exposed_us=%lld "
                "shown_us=%lld boxes=%d\n",
                qPrintable(QGuiApplication::platformName()), static_cast<long long>(entryNs),
                static_cast<long long>((createdNs - entryNs) / 1000),
                static_cast<long long>((watch.exposedNs - entryNs) / 1000),
                static_cast<long long>((watch.shownNs - entryNs) / 1000), boxes.shown);
    return boxes.shown == 0 ? 0 : 1;
}
