#include "test_db.h"

#include "sql/schema.h"
#include "sqlcompat/sqlcompat.h"

#include <charconv>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

QString cellText(sqlite3_stmt *stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
        return QStringLiteral("<null>");
    case SQLITE_FLOAT: {
        char text[32];
        const auto end =
            std::to_chars(text, text + sizeof text, sqlite3_column_double(stmt, column));
        return QString::fromLatin1(text, end.ptr - text);
    }
    default:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)));
    }
}

void bind(sqlite3_stmt *stmt, int index, const QVariant &value)
{
    if (value.isNull()) {
        sqlite3_bind_null(stmt, index);
    } else if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
        sqlite3_bind_int64(stmt, index, value.toLongLong());
    } else if (value.typeId() == QMetaType::Double) {
        sqlite3_bind_double(stmt, index, value.toDouble());
    } else {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
}

} // namespace

CompatDb::CompatDb()
{
    if (sqlite3_open(":memory:", &m_db) != SQLITE_OK)
        ADD_FAILURE() << "cannot open an in-memory database";
    sqlcompat::install(m_db);
    exec(embeddedSchemaSql());
}

CompatDb::~CompatDb()
{
    sqlite3_close(m_db);
}

CompatDb::Result CompatDb::run(const QString &sqlServerText, const QVariantList &values)
{
    return runPlain(sqlcompat::translate(sqlServerText), values);
}

CompatDb::Result CompatDb::runPlain(const QString &sqliteText, const QVariantList &values)
{
    Result result;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sqliteText.toUtf8().constData(), -1, &stmt, nullptr) !=
        SQLITE_OK) {
        result.error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return result;
    }
    for (int i = 0; i < values.size(); ++i)
        bind(stmt, i + 1, values[i]);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            row << cellText(stmt, i);
        result.rows << row;
    }
    if (rc != SQLITE_DONE)
        result.error = QString::fromUtf8(sqlite3_errmsg(m_db));
    sqlite3_finalize(stmt);
    return result;
}

void CompatDb::exec(const QString &sqliteText)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sqliteText.toUtf8().constData(), nullptr, nullptr, &error) !=
        SQLITE_OK) {
        ADD_FAILURE() << "SQL failed: " << (error ? error : "?") << "\n"
                      << sqliteText.toStdString();
        sqlite3_free(error);
    }
}

QString CompatDb::value(const QString &sqlServerText, const QVariantList &values)
{
    const Result result = run(sqlServerText, values);
    EXPECT_TRUE(result.ok()) << result.error.toStdString() << "\n"
                             << sqlcompat::translate(sqlServerText).toStdString();
    return result.rows.isEmpty() || result.rows.first().isEmpty() ? QString()
                                                                  : result.rows.first().first();
}

QString CompatDb::typeOf(const QString &sqliteText)
{
    const Result result = runPlain(QStringLiteral("SELECT typeof(%1)").arg(sqliteText));
    return result.rows.isEmpty() ? result.error : result.rows.first().first();
}
