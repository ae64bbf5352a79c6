#pragma once

#include "batch/boxes.h"
#include "batch/period_source.h"

#include <QString>
#include <QStringList>

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

// Records every box as "code W101", "batchError" or "error <message>".
class RecordingBoxes : public Boxes
{
public:
    void error(const QString &message) override { shown << QStringLiteral("error ") + message; }
    void batchError() override { shown << QStringLiteral("batchError"); }
    void code(const QString &batchCode) override { shown << QStringLiteral("code ") + batchCode; }

    QStringList shown;
};
