#pragma once

#include "batch/boxes.h"

#include <QStringList>

// Answers every box at once and remembers it: "error:<text>", "batchError", "code:<code>".
class RecordingBoxes : public Boxes
{
public:
    void error(const QString &message) override { shown << QStringLiteral("error:") + message; }
    void batchError() override { shown << QStringLiteral("batchError"); }
    void code(const QString &batchCode) override { shown << QStringLiteral("code:") + batchCode; }

    QStringList shown;
};

#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &texts, std::ostream *os)
{
    *os << '{' << texts.join(QStringLiteral(", ")).toStdString() << '}';
}
