#include "gui/app_title.h"

QString applicationTitle(const QString &programPath)
{
    QString name = programPath.mid(programPath.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}
