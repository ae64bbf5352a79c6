#pragma once

// A copy of the built salestotals-batch, run as a scheduler runs it, with a configuration of
// the test's own.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// Configurations: the built-in settings (the QVT.sqlite beside the program); SQL Server on a
// port where nobody listens; a run that gives up waiting for the lock soon.
inline constexpr const char *Embedded = "";
inline constexpr const char *SqlServerNobodyListens =
    "backend = sqlserver\nserver = 127.0.0.1,1\nodbc_driver = FreeTDS\n";
inline constexpr const char *ShortWait = "run_lock_wait = 2\n";

struct Outcome
{
    int status = -1;
    QStringList lines; // standard output
    QString err;
};

// A copy of the program in a directory of the test's own, where the embedded backend opens
// the QVT.sqlite beside it. Its configuration (SALESTOTALS_CONFIG) lies elsewhere, so that no
// site configuration of the machine is read.
class Program
{
public:
    Program(const char *configuration, const QString &directory)
        : m_path(QDir(directory).filePath(QStringLiteral("salestotals-batch"))),
          m_configDir(std::make_shared<QTemporaryDir>())
    {
        if (!QFile::copy(QStringLiteral(BATCH_PROGRAM), m_path) ||
            !QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            ADD_FAILURE() << "cannot copy " << BATCH_PROGRAM << " to " << m_path.toStdString();
        // Readable, not writable, by a run as another user.
        QFile::setPermissions(m_configDir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ReadOther |
                                                       QFile::ExeOther);
        QFile config(configPath());
        if (!config.open(QIODevice::WriteOnly) || config.write(configuration) < 0)
            ADD_FAILURE() << "cannot write " << configPath().toStdString();
    }

    QString configPath() const { return m_configDir->filePath(QStringLiteral("salestotals.conf")); }

    // `wrapper` runs the program, e.g. {"faketime", "2026-12-08 10:00:00"}.
    Outcome run(const QStringList &arguments, const QStringList &wrapper = {}) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A preloaded wrapper comes before the sanitizer runtime in a sanitizer build.
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                       QStringLiteral(":verify_asan_link_order=0"));
        env.insert(QStringLiteral("SALESTOTALS_CONFIG"), configPath());
        process.setProcessEnvironment(env);
        if (wrapper.isEmpty())
            process.start(m_path, arguments);
        else
            process.start(wrapper.first(), wrapper.mid(1) + QStringList{m_path} + arguments);
        Outcome outcome;
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
            ADD_FAILURE() << "the program did not finish: " << process.errorString().toStdString();
            process.kill();
            process.waitForFinished();
            return outcome;
        }
        outcome.status = process.exitCode();
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        outcome.lines = out.split(u'\n', Qt::SkipEmptyParts);
        outcome.err = QString::fromUtf8(process.readAllStandardError());
        return outcome;
    }

    const QString &path() const { return m_path; }

private:
    QString m_path;
    std::shared_ptr<QTemporaryDir> m_configDir;
};
