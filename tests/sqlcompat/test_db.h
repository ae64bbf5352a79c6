#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

struct sqlite3;

// A company database in memory, made from the embedded schema, with the compatibility
// layer installed on its connection. run() takes a statement as the system sends it to
// the server (markers already '?') and executes its translation.
class CompatDb
{
public:
    struct Result
    {
        QVector<QStringList> rows; // null as "<null>", doubles in their shortest form
        QString error;             // SQLite's message when the statement failed
        bool ok() const { return error.isEmpty(); }
    };

    CompatDb();
    ~CompatDb();
    CompatDb(const CompatDb &) = delete;
    CompatDb &operator=(const CompatDb &) = delete;

    Result run(const QString &sqlServerText, const QVariantList &values = {});
    Result runPlain(const QString &sqliteText, const QVariantList &values = {});
    void exec(const QString &sqliteText); // fails the test on error
    QString value(const QString &sqlServerText, const QVariantList &values = {});
    QString typeOf(const QString &sqliteText); // "integer", "real", "text", "null"
    sqlite3 *handle() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
};
