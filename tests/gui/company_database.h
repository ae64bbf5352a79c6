#pragma once

#include "testdb.h"

#include "dm/connection.h"
#include "dm/fdm.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

// A test database that the start-up finds where the program looks: the compiled-in data
// source beside the test executable is linked to it while it lives.
class CompanyDatabase : public TestDatabase
{
public:
    explicit CompanyDatabase(bool linked = true)
        : m_link(dm::embeddedDatabasePath(dm::configuredDataSource()))
    {
        const QFileInfo existing(m_link);
        if (existing.isSymLink())
            QFile::remove(m_link); // left by a test that crashed
        else if (existing.exists())
            ADD_FAILURE() << "will not replace " << m_link.toStdString();
        if (linked && !QFile::link(path(), m_link))
            ADD_FAILURE() << "cannot link " << m_link.toStdString();
    }
    ~CompanyDatabase()
    {
        if (QFileInfo(m_link).isSymLink())
            QFile::remove(m_link);
    }

    QString linkPath() const { return m_link; }

    // One row per week of each year, clipped at the year's ends, weeks starting on Sunday
    // with week 1 holding 1 January.
    void addCalendar(int fromYear, int toYear)
    {
        QString rows = QStringLiteral("BEGIN;");
        for (int year = fromYear; year <= toYear; ++year) {
            const QDate january1(year, 1, 1);
            const QDate december31(year, 12, 31);
            QDate start = january1.addDays(-(january1.dayOfWeek() % 7));
            for (int week = 1; start <= december31; ++week, start = start.addDays(7))
                rows += weekRow(year, QString::number(week), std::max(start, january1),
                                std::min(start.addDays(6), december31));
        }
        exec(rows + QStringLiteral("COMMIT;"));
    }

    void addWeek(int year, const QString &week, QDate first, QDate last)
    {
        exec(weekRow(year, week, first, last));
    }

    // Texts are SQL literals as written: "NULL" or "' A1 '".
    void addItem(const QString &fl000, const QString &fl001, const QString &fl002)
    {
        exec(QStringLiteral("INSERT INTO FCMSFL VALUES (%1, %2, %3)").arg(fl000, fl001, fl002));
    }

    // A leftover row in each summary table, as an earlier run leaves them.
    void addSummaryRows()
    {
        exec(QStringLiteral("INSERT INTO FADMXX VALUES ('C_QVT','W','W101','2026','49',1,'K','')"));
        exec(QStringLiteral("INSERT INTO FADMXY VALUES ('C_QVT','W','W101','2026','49')"));
    }
    int summaryRows()
    {
        return value(QStringLiteral("SELECT (SELECT count(*) FROM FADMXX) + "
                                    "(SELECT count(*) FROM FADMXY)"))
            .toInt();
    }

private:
    static QString weekRow(int year, const QString &week, QDate first, QDate last)
    {
        return QStringLiteral("INSERT INTO FCMSDT VALUES ('%1', '%2', '%3', '%4');")
            .arg(QString::number(year), week, first.toString(QStringLiteral("yyyyMMdd")),
                 last.toString(QStringLiteral("yyyyMMdd")));
    }

    QString m_link;
};
