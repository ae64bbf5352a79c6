#include "sqlcompat/tokens.h"

namespace sqlcompat {

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Names may hold any letter beyond ASCII, and @ # $ as the server allows.
bool isWordChar(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || isDigit(c) || c == u'_' ||
           c == u'@' || c == u'#' || c == u'$' || (c >= 0x80 && !QChar::isSpace(c));
}

class Lexer
{
public:
    explicit Lexer(QStringView text) : m_text(text) {}

    std::vector<Token> run()
    {
        std::vector<Token> tokens;
        while (m_pos < m_text.size()) {
            const qsizetype begin = m_pos;
            m_open = false;
            const TokenKind kind = next();
            tokens.push_back(Token{kind, begin, m_pos - begin, m_open});
        }
        return tokens;
    }

private:
    char16_t at(qsizetype i) const { return i < m_text.size() ? m_text[i].unicode() : u'\0'; }

    // Runs to the closing character; a doubled closing character stands for itself.
    void quoted(char16_t close)
    {
        while (m_pos < m_text.size()) {
            if (at(m_pos++) == close) {
                if (m_pos == m_text.size() || at(m_pos) != close)
                    return;
                ++m_pos;
            }
        }
        m_open = true;
    }

    TokenKind next()
    {
        const char16_t c = at(m_pos);
        if (isBlank(c)) {
            while (m_pos < m_text.size() && isBlank(at(m_pos)))
                ++m_pos;
            return TokenKind::Blank;
        }
        if (c == u'-' && at(m_pos + 1) == u'-') {
            while (m_pos < m_text.size() && at(m_pos) != u'\n')
                ++m_pos;
            return TokenKind::Blank;
        }
        if (c == u'/' && at(m_pos + 1) == u'*') {
            const qsizetype end = m_text.indexOf(u"*/", m_pos + 2);
            m_open = end < 0;
            m_pos = end < 0 ? m_text.size() : end + 2;
            return TokenKind::Blank;
        }
        if (c == u'\'' || ((c == u'N' || c == u'n') && at(m_pos + 1) == u'\'')) {
            m_pos += c == u'\'' ? 1 : 2;
            quoted(u'\'');
            return TokenKind::String;
        }
        if (c == u'"' || c == u'[') {
            ++m_pos;
            quoted(c == u'"' ? u'"' : u']');
            return TokenKind::QuotedName;
        }
        if (isDigit(c) || (c == u'.' && isDigit(at(m_pos + 1)))) {
            number();
            return TokenKind::Number;
        }
        if (isWordChar(c)) {
            while (m_pos < m_text.size() && isWordChar(at(m_pos)))
                ++m_pos;
            return TokenKind::Word;
        }
        ++m_pos;
        if (c == u'?')
            return TokenKind::Param;
        const char16_t d = at(m_pos);
        if (((c == u'<' || c == u'>' || c == u'!') && d == u'=') || (c == u'<' && d == u'>') ||
            (c == u'!' && (d == u'<' || d == u'>')))
            ++m_pos;
        return TokenKind::Symbol;
    }

    // Digits, a point, more digits, an exponent; letters right after belong to it too
    // (0x1F, 1e5), so that a number is never split into a number and a name.
    void number()
    {
        while (isDigit(at(m_pos)))
            ++m_pos;
        if (at(m_pos) == u'.') {
            ++m_pos;
            while (isDigit(at(m_pos)))
                ++m_pos;
        }
        if ((at(m_pos) == u'e' || at(m_pos) == u'E') &&
            (isDigit(at(m_pos + 1)) ||
             ((at(m_pos + 1) == u'+' || at(m_pos + 1) == u'-') && isDigit(at(m_pos + 2)))))
            m_pos += 2;
        while (m_pos < m_text.size() && isWordChar(at(m_pos)))
            ++m_pos;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    bool m_open = false;
};

} // namespace

std::vector<Token> tokenize(QStringView text)
{
    return Lexer(text).run();
}

} // namespace sqlcompat
