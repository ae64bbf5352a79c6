#include "dm/fdm.h"
#include "dm/settings.h"
#include "gui/app_title.h"
#include "gui/look.h"
#include "gui/main_form.h"
#include "gui/qt_boxes.h"

#include <QApplication>

// The program takes no arguments: Qt is given only the program's name, so nothing on the
// command line changes what it does. Its settings come from the site configuration (or the file
// SALESTOTALS_CONFIG names); a wrong one is reported by the start-up's error box.
int main(int, char **argv)
{
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    preferTraditionalChinese();
    QtBoxes boxes(applicationTitle(QCoreApplication::applicationFilePath()));

    dm::loadSettings();
    dm::FDM = new dm::TFDM;    // closed connections; nothing touches the database yet
    Form1 = new TForm1(boxes); // runs FormCreate
    Form1->show();
    const int result = application.exec();

    delete Form1;
    Form1 = nullptr;
    delete dm::FDM; // closes the company connection
    dm::FDM = nullptr;
    return result;
}
