#pragma once

#include <QString>

// The message boxes of the system, behind one interface so that tests answer them.
class Boxes
{
public:
    virtual ~Boxes() = default;
    // General error box: error icon, one OK button, the application's title as caption.
    // The text is the failure's message as given; the box applies the "." rule itself.
    virtual void error(const QString &message) = 0;
    // BatchError: caption "錯誤", text "資料發生錯誤,資料無法新增", OK and Cancel, no icon.
    virtual void batchError() = 0;
    // The code box of a batch: no icon, one OK button, application title, the code as text.
    virtual void code(const QString &batchCode) = 0;
};
