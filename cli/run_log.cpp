// salestotals-batch --log FILE, and the copies of what a run prints.
#include "cli/run_log.h"

#include "cli/journal.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <cstdlib>

namespace batchcli {

RunLog::RunLog(const QString &path, const QString &program, QTextStream &err)
    : m_file(path), m_program(program), m_err(err)
{
    // The scheduled task's folder under ProgramData does not exist before its first run.
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        fail(QStringLiteral("its folder cannot be made"));
    else if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text |
                          QIODevice::Unbuffered))
        fail(m_file.errorString());
}

void RunLog::begin(const QString &period)
{
    if (m_begun)
        return;
    m_begun = true;
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc() / 60;
    write(QStringLiteral("== %1 %2%3:%4 on %5: %6\n")
              .arg(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                   offset < 0 ? QStringLiteral("-") : QStringLiteral("+"))
              .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
              .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'))
              .arg(QSysInfo::machineHostName(), period));
}

void RunLog::add(const QString &text)
{
    begin(QStringLiteral("period not determined"));
    write(text);
}

void RunLog::end(int status)
{
    begin(QStringLiteral("period not determined"));
    write(QStringLiteral("== exit status %1\n").arg(status));
}

void RunLog::write(const QString &text)
{
    if (!m_file.isOpen())
        return;
    const QByteArray bytes = text.toUtf8();
    if (m_file.write(bytes) != bytes.size()) {
        fail(m_file.errorString());
        m_file.close();
    }
}

void RunLog::fail(const QString &reason)
{
    m_err << journal::errPrefix(journal::Priority::Warning) << m_program << ": the log "
          << QDir::toNativeSeparators(m_file.fileName()) << " cannot be written (" << reason
          << "); the run goes on without it" << Qt::endl;
}

Tee::Tee(QTextStream &to, std::function<void(const QString &)> copy)
    : m_to(to), m_copy(std::move(copy))
{
    open(QIODevice::WriteOnly);
}

qint64 Tee::writeData(const char *data, qint64 size)
{
    const QString text = QString::fromUtf8(data, size);
    m_to << text << Qt::flush;
    m_copy(journal::withoutPrefixes(text));
    return size;
}

} // namespace batchcli
