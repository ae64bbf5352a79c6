#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

struct sqlite3;

// A temporary embedded company database made from the schema. While it lives, dm::FDM
// exists and its PUB_DB points at the file. exec() and rows() use a plain SQLite
// connection of their own, so tests see the file as any other program would.
class TestDatabase
{
public:
    explicit TestDatabase(bool withSchema = true);
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    QString path() const { return m_path; }
    void exec(const QString &sql); // fails the test on error
    QVector<QStringList>
    rows(const QString &sql);          // null as "<null>", numbers as SQLite prints them
    QString value(const QString &sql); // first column of the first row

private:
    QTemporaryDir m_dir;
    QString m_path;
    sqlite3 *m_raw = nullptr;
};
