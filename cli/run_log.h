#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>
#include <QTextStream>
#include <functional>

// salestotals-batch --log FILE, and the copies of what a run prints.
namespace batchcli {

// The file of --log: each run appends a header, what it printed and its exit status. The log
// never truncates and never fails the run: one that cannot be written costs one line on
// standard error.
class RunLog
{
public:
    RunLog(const QString &path, const QString &program, QTextStream &err);

    // The header, written once the period is known; a run that ends before has none.
    void begin(const QString &period);
    void add(const QString &text);
    void end(int status);

private:
    void write(const QString &text);
    void fail(const QString &reason);

    QFile m_file;
    QString m_program;
    QTextStream &m_err;
    bool m_begun = false;
};

// A stream's device that prints to the stream it stands in for and hands a copy on, without
// the journal's priorities: to the log, to the closing JSON object.
class Tee : public QIODevice
{
public:
    Tee(QTextStream &to, std::function<void(const QString &)> copy);

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    QTextStream &m_to;
    std::function<void(const QString &)> m_copy;
};

} // namespace batchcli
