#pragma once

// A copy of a built salestotals-batch, run as a scheduler runs it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

struct Outcome
{
    int status = -1;
    QStringList lines; // standard output
    QString err;
};

// A copy of a built program in a directory of the test's own; the embedded copy opens the
// QVT.sqlite beside it.
class Program
{
public:
    Program(const char *built, const QString &directory)
        : m_path(QDir(directory).filePath(QStringLiteral("salestotals-batch")))
    {
        if (!QFile::copy(QString::fromLocal8Bit(built), m_path) ||
            !QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            ADD_FAILURE() << "cannot copy " << built << " to " << m_path.toStdString();
    }

    // `wrapper` runs the program, e.g. {"faketime", "2026-12-08 10:00:00"}.
    Outcome run(const QStringList &arguments, const QStringList &wrapper = {}) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A preloaded wrapper comes before the sanitizer runtime in a sanitizer build.
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                       QStringLiteral(":verify_asan_link_order=0"));
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
};
