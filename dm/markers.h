#pragma once

#include <QString>
#include <QStringList>

namespace dm {

// A statement text with its named markers replaced by positional placeholders.
struct ParsedStatement
{
    QString text;      // ":Name" replaced by "?", "::" by ":"
    QStringList names; // one entry per marker, in order of appearance
};

// A colon followed directly by a name marks a parameter; the name runs to the next
// space, comma, semicolon, ')', CR, LF or the end. "::" is one literal colon. Colons
// inside '...', "..." or `...` are not markers.
ParsedStatement parseMarkers(const QString &text);

} // namespace dm
