#include "bench/totals.h"

#include "dm/error.h"

#include <QFile>
#include <QMap>
#include <cmath>
#include <optional>
#include <sqlite3.h>

namespace bench {

namespace {

struct Summary
{
    std::optional<double> total;
    QString fixed; // COMPANY, XX000 and XX006 as written
};

using Rows = QMap<QString, Summary>;

class ReadOnly
{
public:
    explicit ReadOnly(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READONLY,
                            nullptr) != SQLITE_OK)
            fail(path);
    }
    ~ReadOnly() { sqlite3_close(m_db); }
    ReadOnly(const ReadOnly &) = delete;
    ReadOnly &operator=(const ReadOnly &) = delete;

    sqlite3_stmt *prepare(const char *sql)
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            fail(QString::fromUtf8(sql));
        return stmt;
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw dm::Error(what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db)));
    }

private:
    sqlite3 *m_db = nullptr;
};

QString text(sqlite3_stmt *stmt, int column)
{
    if (sqlite3_column_type(stmt, column) == SQLITE_NULL)
        return QStringLiteral("<null>");
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)));
}

// Summary rows by key; a key that comes twice is a difference of its own.
Rows summaryRows(const QString &path, const QString &side, QStringList &differences)
{
    ReadOnly db(path);
    sqlite3_stmt *stmt =
        db.prepare("SELECT XX001, XX002, XX003, upper(rtrim(XX005)), XX004, COMPANY, XX000, XX006 "
                   "FROM FADMXX");
    Rows rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const QString key = QStringLiteral("%1 %2/%3 '%4'")
                                .arg(text(stmt, 0), text(stmt, 1), text(stmt, 2), text(stmt, 3));
        Summary s;
        if (sqlite3_column_type(stmt, 4) != SQLITE_NULL)
            s.total = sqlite3_column_double(stmt, 4);
        s.fixed = text(stmt, 5) + u'|' + text(stmt, 6) + u'|' + text(stmt, 7);
        if (rows.contains(key))
            differences << side + QStringLiteral(": two rows for ") + key;
        rows.insert(key, s);
    }
    sqlite3_finalize(stmt);
    return rows;
}

QStringList completionRows(const QString &path)
{
    ReadOnly db(path);
    sqlite3_stmt *stmt =
        db.prepare("SELECT COMPANY, XY000, XY001, XY002, XY003 FROM FADMXY ORDER BY XY001");
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < 5; ++c)
            row << text(stmt, c);
        rows << row.join(u'|');
    }
    sqlite3_finalize(stmt);
    return rows;
}

QString shown(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'f', 6) : QStringLiteral("null");
}

bool sameToTheCent(const std::optional<double> &a, const std::optional<double> &b)
{
    if (!a || !b)
        return !a && !b;
    return std::fabs(*a - *b) < 0.005;
}

} // namespace

Comparison compareTotals(const QString &programFile, const QString &handFile)
{
    Comparison result;
    const Rows program = summaryRows(programFile, QStringLiteral("program"), result.differences);
    const Rows hand = summaryRows(handFile, QStringLiteral("hand SQL"), result.differences);
    result.summaryRows = int(program.size());
    for (auto it = program.cbegin(); it != program.cend(); ++it) {
        const auto other = hand.constFind(it.key());
        if (other == hand.cend()) {
            result.differences << QStringLiteral("only the program wrote ") + it.key();
        } else if (!sameToTheCent(it->total, other->total) || it->fixed != other->fixed) {
            result.differences << QStringLiteral("%1: program %2 (%3), hand SQL %4 (%5)")
                                      .arg(it.key(), shown(it->total), it->fixed,
                                           shown(other->total), other->fixed);
        }
    }
    for (auto it = hand.cbegin(); it != hand.cend(); ++it) {
        if (!program.contains(it.key()))
            result.differences << QStringLiteral("only the hand SQL wrote ") + it.key();
    }
    const QStringList programDone = completionRows(programFile);
    const QStringList handDone = completionRows(handFile);
    result.completionRows = int(programDone.size());
    if (programDone != handDone)
        result.differences << QStringLiteral("completion rows differ: program [%1], hand SQL [%2]")
                                  .arg(programDone.join(QStringLiteral(", ")),
                                       handDone.join(QStringLiteral(", ")));
    return result;
}

} // namespace bench
