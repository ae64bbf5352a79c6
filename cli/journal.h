#pragma once

#include <QByteArray>
#include <QString>

// Priorities for systemd's journal: a line that begins "<3>" is stored at error priority when
// the stream is the journal's, which `journalctl -p err` then shows. Elsewhere no prefix.
namespace batchcli::journal {

enum class Priority { Error = 3, Warning = 4 };

// Whether the open file `fd` is the stream that JOURNAL_STREAM ("device:inode") names.
bool isJournalStream(int fd, const QByteArray &journalStream);

// Compares standard output and standard error with the environment's JOURNAL_STREAM; once,
// before anything is printed.
void detectStandardStreams();

// The prefix for a line of that priority on standard output or standard error: "<3>", or ""
// when that stream is not the journal.
QString outPrefix(Priority priority);
QString errPrefix(Priority priority);

// The text without the prefixes at its lines' starts, for copies that people read.
QString withoutPrefixes(const QString &text);

} // namespace batchcli::journal
