#include "dm/markers.h"

namespace dm {

namespace {

bool endsName(QChar c)
{
    switch (c.unicode()) {
    case u' ':
    case u',':
    case u';':
    case u')':
    case u'\r':
    case u'\n':
        return true;
    default:
        return false;
    }
}

bool isQuote(QChar c)
{
    return c == u'\'' || c == u'"' || c == u'`';
}

} // namespace

// One pass over the text; every character is looked at once.
ParsedStatement parseMarkers(const QString &text)
{
    ParsedStatement result;
    result.text.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (isQuote(c)) {
            // A quoted literal is copied as it is, up to its closing quote or the end.
            // A doubled quote inside closes and reopens, which copies it unchanged too.
            qsizetype end = text.indexOf(c, i + 1);
            end = end < 0 ? n : end + 1;
            result.text.append(QStringView(text).mid(i, end - i));
            i = end;
            continue;
        }
        if (c != u':') {
            result.text.append(c);
            ++i;
            continue;
        }
        if (i + 1 < n && text.at(i + 1) == u':') {
            result.text.append(u':');
            i += 2;
            continue;
        }
        qsizetype end = i + 1;
        while (end < n && !endsName(text.at(end)))
            ++end;
        if (end == i + 1) {
            // Nothing follows the colon directly: it is a literal colon.
            result.text.append(c);
            ++i;
            continue;
        }
        result.names.append(text.mid(i + 1, end - i - 1));
        result.text.append(u'?');
        i = end;
    }
    return result;
}

} // namespace dm
