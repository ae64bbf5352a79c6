#pragma once

#include "batch/boxes.h"
#include "batch/period_source.h"

#include <QString>
#include <QStringList>
#include <ostream>

// Readable failures.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// The window's fields as a test sets them; counts what the batches read.
class FakePeriod : public PeriodSource
{
public:
    FakePeriod(QString year = QStringLiteral("2024"), int month = 6, int week = 23)
        : year(std::move(year)), monthValue(month), weekValue(week)
    {
    }
    QString yearText() const override { return year; }
    int month() const override
    {
        ++monthReads;
        return monthValue;
    }
    int week() const override
    {
        ++weekReads;
        return weekValue;
    }

    QString year;
    int monthValue;
    int weekValue;
    mutable int monthReads = 0;
    mutable int weekReads = 0;
};

// Records every box as "box W101", "batchError" or "error <message>", also into a log
// shared with the statement trace when one is given.
class RecordingBoxes : public Boxes
{
public:
    explicit RecordingBoxes(QStringList *log = nullptr) : m_log(log) {}
    void error(const QString &message) override { record(QStringLiteral("error ") + message); }
    void batchError() override { record(QStringLiteral("batchError")); }
    void code(const QString &batchCode) override { record(QStringLiteral("box ") + batchCode); }

    QStringList shown;

private:
    void record(const QString &box)
    {
        shown << box;
        if (m_log)
            *m_log << box;
    }
    QStringList *m_log;
};
