// Writes one JSON line for each message box the program shows and for the main window when it
// appears, into the file named by SALESTOTALS_E2E_PROBE_LOG: what an operator would read off
// the screen, so that the end-to-end driver can check the texts that xdotool cannot see.
#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QWidget>
#include <QtGui/qgenericplugin.h>

namespace {

QString iconName(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::NoIcon:
        return QStringLiteral("none");
    case QMessageBox::Information:
        return QStringLiteral("information");
    case QMessageBox::Warning:
        return QStringLiteral("warning");
    case QMessageBox::Critical:
        return QStringLiteral("critical");
    case QMessageBox::Question:
        return QStringLiteral("question");
    }
    return QStringLiteral("unknown");
}

class Probe : public QObject
{
public:
    explicit Probe(QString logPath) : m_logPath(std::move(logPath))
    {
        write({{QStringLiteral("event"), QStringLiteral("start")},
               {QStringLiteral("today"), QDate::currentDate().toString(Qt::ISODate)}});
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (auto *box = qobject_cast<QMessageBox *>(widget))
                write(describeBox(box));
            else if (widget->isWindow() && widget->objectName() == QLatin1String("Form1"))
                write(describeWindow(widget));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static QJsonObject describeBox(QMessageBox *box)
    {
        QJsonArray buttons;
        for (QAbstractButton *button : box->buttons())
            buttons.append(button->text().remove(u'&'));
        return {{QStringLiteral("event"), QStringLiteral("box")},
                {QStringLiteral("title"), box->windowTitle()},
                {QStringLiteral("text"), box->text()},
                {QStringLiteral("icon"), iconName(box->icon())},
                {QStringLiteral("buttons"), buttons},
                {QStringLiteral("window"), QString::number(box->winId())}};
    }

    // The texts of the window's named controls, as they show when it first appears.
    static QJsonObject describeWindow(QWidget *window)
    {
        QJsonObject fields;
        for (QWidget *child : window->findChildren<QWidget *>()) {
            const QString name = child->objectName();
            if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
                continue;
            for (const char *property : {"text", "currentText"}) {
                const QVariant value = child->property(property);
                if (value.isValid()) {
                    fields.insert(name, value.toString());
                    break;
                }
            }
        }
        return {{QStringLiteral("event"), QStringLiteral("window")},
                {QStringLiteral("title"), window->windowTitle()},
                {QStringLiteral("fields"), fields},
                {QStringLiteral("window"), QString::number(window->winId())}};
    }

    void write(const QJsonObject &record) const
    {
        QFile file(m_logPath);
        if (file.open(QIODevice::Append)) // opened per line, so the driver reads it while we run
            file.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
    }

    QString m_logPath;
};

} // namespace

class BoxProbePlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "box_probe.json")
public:
    QObject *create(const QString &key, const QString &parameter) override
    {
        Q_UNUSED(key);
        Q_UNUSED(parameter);
        const QString path = qEnvironmentVariable("SALESTOTALS_E2E_PROBE_LOG");
        if (path.isEmpty() || !QCoreApplication::instance())
            return nullptr;
        auto *probe = new Probe(path);
        QCoreApplication::instance()->installEventFilter(probe);
        return probe;
    }
};

#include "box_probe.moc"
