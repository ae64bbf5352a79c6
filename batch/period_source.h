#pragma once

#include <QString>

// Where the batches read the reporting period: the year field and the two spin boxes.
class PeriodSource
{
public:
    virtual ~PeriodSource() = default;
    virtual QString yearText() const = 0; // the year field's text, untrimmed
    virtual int month() const = 0;        // value of the month spin box
    virtual int week() const = 0;         // value of the week spin box
};
