#include "sql/schema.h"

#include <QFile>

QString embeddedSchemaSql()
{
    Q_INIT_RESOURCE(schema);
    QFile file(QStringLiteral(":/sql/schema.sql"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}
