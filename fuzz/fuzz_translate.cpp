// Statement translation: any text translates, in bounded time (the fuzzer's -timeout), and
// keeps its placeholders, or the values bound afterwards would land in the wrong places.
#include "fuzz_text.h"
#include "sqlcompat/sqlcompat.h"
#include "sqlcompat/tokens.h"

#include <cstdio>
#include <cstdlib>

namespace {

using sqlcompat::TokenKind;

void fail(const char *what, const QString &text, const QString &out = QString())
{
    std::fprintf(stderr, "translate: %s\n  in:  \"%s\"\n  out: \"%s\"\n", what,
                 text.toUtf8().constData(), out.toUtf8().constData());
    std::abort();
}

// The placeholders of a text; also checks that the tokens cover it without gaps.
qsizetype placeholders(const QString &text)
{
    qsizetype count = 0;
    qsizetype expected = 0;
    for (const sqlcompat::Token &token : sqlcompat::tokenize(text)) {
        if (token.begin != expected || token.length <= 0)
            fail("tokens leave a gap or overlap", text);
        expected += token.length;
        count += token.kind == TokenKind::Param;
    }
    if (expected != text.size())
        fail("tokens do not reach the end", text);
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    for (const QString &text : fuzzTexts(data, size)) {
        const QString out = sqlcompat::translate(text);
        if (placeholders(out) != placeholders(text))
            fail("the number of placeholders changed", text, out);
    }
    return 0;
}
