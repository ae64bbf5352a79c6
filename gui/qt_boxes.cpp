#include "gui/qt_boxes.h"

#include <QMessageBox>

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

// Without a parent each box is modal for the whole application and centred on the screen.
void QtBoxes::error(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, m_title, errorBoxText(message), QMessageBox::Ok);
    box.exec();
}

void QtBoxes::batchError()
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("錯誤"),
                    QStringLiteral("資料發生錯誤,資料無法新增"),
                    QMessageBox::Ok | QMessageBox::Cancel);
    box.exec(); // the answer changes nothing
}

void QtBoxes::code(const QString &batchCode)
{
    QMessageBox box(QMessageBox::NoIcon, m_title, batchCode, QMessageBox::Ok);
    box.exec();
}
