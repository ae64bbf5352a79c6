// Named markers: any text parses, and the result keeps the promises the query objects rely on.
#include "dm/markers.h"
#include "fuzz_text.h"

#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "parseMarkers: %s for \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

bool endsName(QChar c)
{
    return c == u' ' || c == u',' || c == u';' || c == u')' || c == u'\r' || c == u'\n';
}

void check(const QString &text)
{
    const dm::ParsedStatement parsed = dm::parseMarkers(text);
    // Each marker becomes one '?', so the query binds exactly one value per name; every other
    // '?' is copied, except those a name took in ("a:b?" is the name "b?").
    qsizetype inNames = 0;
    for (const QString &name : parsed.names)
        inNames += name.count(u'?');
    if (parsed.text.count(u'?') != text.count(u'?') - inNames + parsed.names.size())
        fail("a '?' that is no marker, or a marker without its '?'", text);
    // A marker is a colon and at least one character, "::" one colon: nothing grows.
    if (parsed.text.size() > text.size())
        fail("the text grew", text);
    if (!text.contains(u':') && (parsed.text != text || !parsed.names.isEmpty()))
        fail("a text without a colon changed", text);
    for (const QString &name : parsed.names) {
        if (name.isEmpty())
            fail("an empty name", text);
        for (const QChar c : name) {
            if (endsName(c))
                fail("a name runs past its end", text);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    for (const QString &text : fuzzTexts(data, size))
        check(text);
    return 0;
}
