#pragma once

#include "batch/boxes.h"

#include <QString>

// The general error box's text: the message with "." appended when it is not empty and its
// last character sorts after "." in the code page (any non-ASCII character does).
QString errorBoxText(const QString &message);

// The boxes of the running program, as modal message boxes.
class QtBoxes : public Boxes
{
public:
    explicit QtBoxes(QString applicationTitle) : m_title(std::move(applicationTitle)) {}

    void error(const QString &message) override;
    void batchError() override;
    void code(const QString &batchCode) override;

private:
    QString m_title;
};
