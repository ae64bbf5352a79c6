#include "testdb.h"

#include "dm/fdm.h"
#include "sql/schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

TestDatabase::TestDatabase(bool withSchema)
{
    m_path = m_dir.filePath(QStringLiteral("QVT.sqlite"));
    if (sqlite3_open(m_path.toUtf8().constData(), &m_raw) != SQLITE_OK)
        ADD_FAILURE() << "cannot create " << m_path.toStdString();
    if (withSchema)
        exec(embeddedSchemaSql());
    delete dm::FDM;
    dm::FDM = new dm::TFDM;
    dm::FDM->PUB_DB.setConnectionString(dm::companyConnectionString(m_path));
}

TestDatabase::~TestDatabase()
{
    delete dm::FDM;
    dm::FDM = nullptr;
    sqlite3_close(m_raw);
}

void TestDatabase::exec(const QString &sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_raw, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << "SQL failed: " << (error ? error : "?") << "\n" << sql.toStdString();
        sqlite3_free(error);
    }
}

QVector<QStringList> TestDatabase::rows(const QString &sql)
{
    QVector<QStringList> result;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_raw, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "SQL failed: " << sqlite3_errmsg(m_raw) << "\n" << sql.toStdString();
        return result;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (sqlite3_column_type(stmt, i) == SQLITE_NULL)
                row << QStringLiteral("<null>");
            else
                row << QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)));
        }
        result << row;
    }
    sqlite3_finalize(stmt);
    return result;
}

QString TestDatabase::value(const QString &sql)
{
    const auto r = rows(sql);
    return r.isEmpty() || r.first().isEmpty() ? QString() : r.first().first();
}
