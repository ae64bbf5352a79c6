#pragma once

// Inner part of the dialect: for sqlcompat/ itself, its tests and fuzz targets only.

#include <QStringView>
#include <vector>

// The lexical pieces of a statement in the ERP server's dialect.
namespace sqlcompat {

enum class TokenKind {
    Blank,      // white space or a comment
    Word,       // a name or keyword
    Number,     // starts with a digit, or a point and a digit
    String,     // '...' with '' inside, or N'...'
    QuotedName, // "..." or [...]
    Param,      // ?
    Symbol,     // an operator or punctuation: <= >= <> != !< !> or one character
};

struct Token
{
    TokenKind kind;
    qsizetype begin;
    qsizetype length;
    bool unterminated = false; // a quote or comment that runs to the end of the text
};

// Splits the whole text; an unterminated quote or comment runs to the end. The tokens
// cover the text without gaps.
std::vector<Token> tokenize(QStringView text);

} // namespace sqlcompat
