#include "sqlcompat/sqlcompat.h"

#include "sqlcompat/dates.h"
#include "sqlcompat/decimal.h"
#include "sqlcompat/functions.h"
#include "sqlcompat/tokens.h"

#include <QStringList>
#include <algorithm>
#include <optional>

namespace sqlcompat {

namespace {

// Nesting of rewritten calls beyond this is left as written; it keeps the work linear
// and the stack small whatever the text.
constexpr int MaxDepth = 24;

// Sig(nificant) positions index the tokens that are not blanks.
struct Range
{
    int from;
    int to; // one past the last
    int size() const { return to - from; }
};

struct DatePartCall
{
    DatePart part;
    bool style112; // the argument was convert(datetime, x, 112), x in `argument`
    Range argument;
    int end; // one past the closing parenthesis
};

struct Program
{
    QString code;
    std::vector<Range> operands;
};

class Translator
{
public:
    explicit Translator(const QString &text) : m_text(text), m_tokens(tokenize(text))
    {
        for (int i = 0; i < int(m_tokens.size()); ++i) {
            if (m_tokens[size_t(i)].kind != TokenKind::Blank)
                m_sig.push_back(i);
        }
        matchParentheses();
    }

    QString run()
    {
        if (m_sig.empty())
            return m_text;
        QString out;
        out.reserve(m_text.size() + 64);
        out += QStringView(m_text).left(token(0).begin);
        emitRange(Range{0, int(m_sig.size())}, 0, out);
        out += QStringView(m_text).mid(end(int(m_sig.size()) - 1));
        return out;
    }

private:
    const Token &token(int s) const { return m_tokens[size_t(m_sig[size_t(s)])]; }
    qsizetype end(int s) const { return token(s).begin + token(s).length; }
    QStringView text(int s) const
    {
        return QStringView(m_text).mid(token(s).begin, token(s).length);
    }
    QStringView text(Range r) const
    {
        return QStringView(m_text).mid(token(r.from).begin, end(r.to - 1) - token(r.from).begin);
    }
    TokenKind kind(int s) const { return token(s).kind; }

    bool isWord(int s, QStringView word) const
    {
        return kind(s) == TokenKind::Word && text(s).compare(word, Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(int s, QStringView symbol) const
    {
        return kind(s) == TokenKind::Symbol && text(s) == symbol;
    }
    bool isName(int s) const
    {
        return kind(s) == TokenKind::Word || kind(s) == TokenKind::QuotedName;
    }

    void matchParentheses()
    {
        m_close.assign(m_sig.size(), -1);
        m_paramsBefore.assign(m_sig.size() + 1, 0);
        std::vector<int> open;
        for (int s = 0; s < int(m_sig.size()); ++s) {
            m_paramsBefore[size_t(s) + 1] =
                m_paramsBefore[size_t(s)] + (kind(s) == TokenKind::Param);
            if (isSymbol(s, u"(")) {
                open.push_back(s);
            } else if (isSymbol(s, u")") && !open.empty()) {
                m_close[size_t(open.back())] = s;
                open.pop_back();
            }
        }
    }

    // "name ( ... )" at s within `within`: the inside, or nothing.
    std::optional<Range> call(int s, Range within, QStringView name) const
    {
        if (s + 1 >= within.to || !isWord(s, name) || !isSymbol(s + 1, u"("))
            return std::nullopt;
        const int close = m_close[size_t(s + 1)];
        if (close < 0 || close >= within.to)
            return std::nullopt;
        return Range{s + 2, close};
    }

    // The comma-separated pieces of a range, nested parentheses kept whole.
    std::vector<Range> arguments(Range r) const
    {
        std::vector<Range> pieces;
        int from = r.from;
        for (int s = r.from; s < r.to; ++s) {
            if (isSymbol(s, u"(") && m_close[size_t(s)] >= 0 && m_close[size_t(s)] < r.to) {
                s = m_close[size_t(s)];
            } else if (isSymbol(s, u",")) {
                pieces.push_back(Range{from, s});
                from = s + 1;
            }
        }
        pieces.push_back(Range{from, r.to});
        return pieces;
    }

    // ---- the walk ----

    void emitRange(Range r, int depth, QString &out) const
    {
        if (r.size() <= 0)
            return;
        qsizetype written = token(r.from).begin;
        for (int s = r.from; s < r.to;) {
            QString piece;
            const int next = depth < MaxDepth ? rewrite(s, r, depth, piece) : -1;
            if (next <= s) {
                ++s;
                continue;
            }
            out += QStringView(m_text).mid(written, token(s).begin - written);
            out += piece;
            written = end(next - 1);
            s = next;
        }
        out += QStringView(m_text).mid(written, end(r.to - 1) - written);
    }

    QString translated(Range r, int depth) const
    {
        QString out;
        emitRange(r, depth, out);
        return out;
    }

    // Rewrites what begins at s into `out`; the position after it, or -1.
    int rewrite(int s, Range r, int depth, QString &out) const
    {
        switch (kind(s)) {
        case TokenKind::Word:
            if (const auto dp = datePartCall(s, r))
                return emitDatePart(*dp, r, depth, out);
            if (const int next = rewriteRound(s, r, depth, out); next > 0)
                return next;
            if (const int next = rewriteSum(s, r, out); next > 0)
                return next;
            if (const int next = rewriteWhere(s, r, depth, out); next > 0)
                return next;
            return rewriteConvert(s, r, depth, out);
        case TokenKind::String:
            return rewriteLiteral(s, r, depth, out);
        default:
            return -1;
        }
    }

    // ---- DATEPART and its comparisons ----

    std::optional<DatePartCall> datePartCall(int s, Range r) const
    {
        const auto inside = call(s, r, u"DATEPART");
        if (!inside)
            return std::nullopt;
        const auto args = arguments(*inside);
        if (args.size() != 2 || args[0].size() != 1 || kind(args[0].from) != TokenKind::Word)
            return std::nullopt;
        const auto part = datePartByName(text(args[0].from));
        if (!part)
            return std::nullopt;
        DatePartCall result{*part, false, args[1], inside->to + 1};
        if (const auto x = style112Argument(args[1])) {
            result.style112 = true;
            result.argument = *x;
        }
        return result.argument.size() > 0 ? std::optional(result) : std::nullopt;
    }

    // "convert ( datetime , x , 112 )" filling the whole range: x.
    std::optional<Range> style112Argument(Range r) const
    {
        const auto inside = call(r.from, r, u"convert");
        if (!inside || inside->to + 1 != r.to)
            return std::nullopt;
        const auto args = arguments(*inside);
        if (args.size() != 3 || args[0].size() != 1 || !isWord(args[0].from, u"datetime") ||
            args[2].size() != 1 || kind(args[2].from) != TokenKind::Number ||
            text(args[2].from) != u"112" || args[1].size() < 1)
            return std::nullopt;
        return args[1];
    }

    QString datePartText(const DatePartCall &dp, int depth) const
    {
        return QStringLiteral("%1(%2,%3)")
            .arg(QLatin1String(dp.style112 ? DatePart112Function : DatePartFunction))
            .arg(int(dp.part))
            .arg(translated(dp.argument, depth + 1));
    }

    static bool isComparison(QStringView op)
    {
        return op == u"=" || op == u"<>" || op == u"!=" || op == u"<" || op == u">" ||
               op == u"<=" || op == u">=";
    }

    // The value of a complete '...' literal.
    std::optional<QString> stringValue(int s) const
    {
        QStringView t = text(s);
        if (t.startsWith(u'N') || t.startsWith(u'n'))
            t = t.mid(1);
        QString value;
        for (qsizetype i = 1; i < t.size(); ++i) {
            if (t[i] != u'\'') {
                value += t[i];
            } else if (i + 1 < t.size() && t[i + 1] == u'\'') {
                value += t[i++];
            } else {
                return i + 1 == t.size() ? std::optional(value) : std::nullopt;
            }
        }
        return std::nullopt;
    }

    // A literal that SQLite reads as its own: N'...' is '...'.
    QStringView plainLiteral(int s) const
    {
        const QStringView t = text(s);
        return t.startsWith(u'\'') ? t : t.mid(1);
    }

    // The operand of a comparison with a DATEPART number, converted to int as the server
    // does; a text that does not convert fails when the statement runs, with its message.
    std::optional<QString> intOperand(int s) const
    {
        switch (kind(s)) {
        case TokenKind::Number:
            return text(s).toString();
        case TokenKind::Param:
            return QStringLiteral("%1(?)").arg(QLatin1String(IntFunction));
        case TokenKind::String:
            if (token(s).unterminated)
                return std::nullopt;
            if (const auto value = stringValue(s)) {
                std::int32_t number = 0;
                if (varcharToInt(value->toStdString(), number) == IntStatus::Ok)
                    return QString::number(number);
            }
            return QStringLiteral("%1(%2)").arg(QLatin1String(IntFunction), plainLiteral(s));
        default:
            return std::nullopt;
        }
    }

    int emitDatePart(const DatePartCall &dp, Range r, int depth, QString &out) const
    {
        out += datePartText(dp, depth);
        int s = dp.end;
        // = '5', <> '5' ...
        if (s + 1 < r.to && kind(s) == TokenKind::Symbol && isComparison(text(s))) {
            if (const auto operand = intOperand(s + 1)) {
                out += QStringLiteral(" %1 %2").arg(text(s), *operand);
                return s + 2;
            }
            return s;
        }
        // [NOT] IN ('5', '6') and [NOT] BETWEEN '1' AND '5'
        const int keyword = s < r.to && isWord(s, u"NOT") ? s + 1 : s;
        if (keyword + 1 < r.to && isWord(keyword, u"IN") && isSymbol(keyword + 1, u"(")) {
            const int close = m_close[size_t(keyword + 1)];
            if (close < 0 || close >= r.to)
                return s;
            QStringList items;
            for (const Range item : arguments(Range{keyword + 2, close})) {
                const auto operand = item.size() == 1 ? intOperand(item.from) : std::nullopt;
                if (!operand)
                    return s;
                items << *operand;
            }
            out += QStringLiteral(" %1 (%2)").arg(text(Range{s, keyword + 1}), items.join(u','));
            return close + 1;
        }
        if (keyword + 3 < r.to && isWord(keyword, u"BETWEEN") && isWord(keyword + 2, u"AND")) {
            const auto low = intOperand(keyword + 1);
            const auto high = intOperand(keyword + 3);
            if (!low || !high)
                return s;
            out += QStringLiteral(" %1 %2 AND %3").arg(text(Range{s, keyword + 1}), *low, *high);
            return keyword + 4;
        }
        return s;
    }

    // '5' = DATEPART(...), and N'...' literals anywhere.
    int rewriteLiteral(int s, Range r, int depth, QString &out) const
    {
        if (s + 2 < r.to && kind(s + 1) == TokenKind::Symbol && isComparison(text(s + 1))) {
            if (const auto dp = datePartCall(s + 2, r)) {
                out += QStringLiteral("%1 %2 ").arg(*intOperand(s), text(s + 1));
                return emitDatePart(*dp, r, depth, out);
            }
        }
        if (text(s).startsWith(u'\''))
            return -1;
        out += plainLiteral(s);
        return s + 1;
    }

    // ---- the order of conditions ----

    // Where the WHERE clause beginning at s ends: at a clause keyword, a closing
    // parenthesis or a semicolon of its own level.
    int clauseEnd(int s, Range r) const
    {
        static constexpr const char16_t *Ends[] = {u"GROUP",     u"ORDER",    u"HAVING", u"UNION",
                                                   u"EXCEPT",    u"LIMIT",    u"WINDOW", u"WHERE",
                                                   u"INTERSECT", u"RETURNING"};
        int e = s + 1;
        for (; e < r.to; ++e) {
            if (isSymbol(e, u"(")) {
                if (m_close[size_t(e)] < 0 || m_close[size_t(e)] >= r.to)
                    return -1;
                e = m_close[size_t(e)];
            } else if (isSymbol(e, u")") || isSymbol(e, u";")) {
                break;
            } else if (kind(e) == TokenKind::Word) {
                for (const char16_t *end : Ends) {
                    if (isWord(e, end))
                        return e;
                }
            }
        }
        return e;
    }

    // The conditions joined by AND at the top of a clause; nothing when OR or CASE sits
    // there too.
    std::optional<std::vector<Range>> conjuncts(Range clause) const
    {
        std::vector<Range> parts;
        int from = clause.from;
        bool between = false;
        for (int s = clause.from; s < clause.to; ++s) {
            if (isSymbol(s, u"(") && m_close[size_t(s)] >= 0) {
                s = m_close[size_t(s)];
            } else if (isWord(s, u"OR") || isWord(s, u"CASE")) {
                return std::nullopt;
            } else if (isWord(s, u"BETWEEN")) {
                between = true;
            } else if (isWord(s, u"AND")) {
                if (!between) {
                    parts.push_back(Range{from, s});
                    from = s + 1;
                }
                between = false;
            }
        }
        parts.push_back(Range{from, clause.to});
        for (const Range part : parts) {
            if (part.size() < 1)
                return std::nullopt;
        }
        return parts;
    }

    // DATEPART(...) compared with one value, either way round.
    bool isDateCondition(Range c) const
    {
        if (kind(c.from) == TokenKind::String) {
            if (c.size() < 3 || kind(c.from + 1) != TokenKind::Symbol ||
                !isComparison(text(c.from + 1)))
                return false;
            const auto dp = datePartCall(c.from + 2, c);
            return dp && dp->end == c.to;
        }
        const auto dp = datePartCall(c.from, c);
        return dp && dp->end + 2 == c.to && kind(dp->end) == TokenKind::Symbol &&
               isComparison(text(dp->end));
    }

    // A date condition's DATEPART call and the value it is compared with, either way round.
    std::pair<DatePartCall, int> dateConditionParts(Range c) const
    {
        if (kind(c.from) == TokenKind::String)
            return {*datePartCall(c.from + 2, c), c.from};
        const DatePartCall dp = *datePartCall(c.from, c);
        return {dp, dp.end + 1};
    }

    // A value known when the statement is translated: comparing with it cannot fail.
    bool isPlainNumber(int s) const
    {
        const auto operand = intOperand(s);
        return operand && !operand->startsWith(QLatin1String(IntFunction));
    }

    // How few rows a test of the part lets through, as the number of values it takes: a
    // week lets through about a fiftieth of the rows, a year all those of that year.
    static int narrowness(DatePart part)
    {
        switch (part) {
        case DatePart::Millisecond:
            return 1000;
        case DatePart::DayOfYear:
            return 366;
        case DatePart::Minute:
        case DatePart::Second:
            return 60;
        case DatePart::Week:
        case DatePart::IsoWeek:
            return 53;
        case DatePart::Day:
            return 31;
        case DatePart::Hour:
            return 24;
        case DatePart::Month:
            return 12;
        case DatePart::Weekday:
            return 7;
        case DatePart::Quarter:
            return 4;
        case DatePart::Year:
            break;
        }
        return 1;
    }

    // Tests of one date compared with known numbers go narrowest first: each row then
    // converts its date once for most rows instead of twice. Their order changes no result:
    // the same text converts, or fails with the same message, for each part. Other tests
    // keep their order.
    void orderDateConditions(std::vector<Range> &dates) const
    {
        if (dates.size() < 2)
            return;
        const auto [first, firstOperand] = dateConditionParts(dates.front());
        std::vector<int> rank;
        for (const Range c : dates) {
            const auto [dp, operand] = dateConditionParts(c);
            if (dp.style112 != first.style112 || text(dp.argument) != text(first.argument) ||
                !isPlainNumber(operand))
                return;
            rank.push_back(narrowness(dp.part));
        }
        std::vector<size_t> order(dates.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return rank[a] > rank[b]; });
        std::vector<Range> sorted;
        for (const size_t i : order)
            sorted.push_back(dates[i]);
        dates = sorted;
    }

    // The server evaluates the conditions of an AND in an order of its choosing; SQLite
    // keeps the written one. The date tests are cheap and select few rows, so they go
    // first. Placeholders keep their order: a clause with one is left as written.
    int rewriteWhere(int s, Range r, int depth, QString &out) const
    {
        if (!isWord(s, u"WHERE"))
            return -1;
        const int end = clauseEnd(s, r);
        // A quote left open runs to the end of the text: nothing may move after it.
        if (end <= s + 1 || m_paramsBefore[size_t(end)] != m_paramsBefore[size_t(s)] ||
            token(end - 1).unterminated)
            return -1;
        const auto parts = conjuncts(Range{s + 1, end});
        if (!parts)
            return -1;
        std::vector<Range> dates, others;
        for (const Range part : *parts)
            (isDateCondition(part) ? dates : others).push_back(part);
        orderDateConditions(dates);
        std::vector<Range> ordered = dates;
        ordered.insert(ordered.end(), others.begin(), others.end());
        bool moved = false;
        for (size_t i = 0; i < ordered.size(); ++i)
            moved = moved || ordered[i].from != (*parts)[i].from;
        if (!moved)
            return -1;
        out += text(s);
        out += u' ';
        size_t first = 0;
        if (const auto together = datePartsCall(dates)) {
            out += *together;
            first = dates.size();
        }
        for (size_t i = first; i < ordered.size(); ++i) {
            if (i > 0)
                out += QStringLiteral(" AND ");
            emitRange(ordered[i], depth + 1, out);
        }
        return end;
    }

    // A column, possibly qualified: the same value each time it is read in a row.
    bool isColumn(Range r) const
    {
        return r.size() > 0 && isName(r.from) && operandEnd(r.from, r) == r.to;
    }

    // Tests "= whole number" of one column's date with style 112, in the order given, as one
    // sqlsrv_dateparts112 call: a row's date is read and converted by one call, not one per
    // test. Nothing when there are fewer than two or any is of another form.
    std::optional<QString> datePartsCall(const std::vector<Range> &dates) const
    {
        if (dates.size() < 2)
            return std::nullopt;
        QString args;
        Range argument{0, 0};
        for (const Range c : dates) {
            const auto [dp, operand] = dateConditionParts(c);
            const int op = kind(c.from) == TokenKind::String ? c.from + 1 : dp.end;
            const auto value = intOperand(operand);
            bool whole = false;
            if (value)
                value->toInt(&whole);
            if (!dp.style112 || !isColumn(dp.argument) || text(op) != u"=" || !whole ||
                (argument.size() > 0 && text(dp.argument) != text(argument)))
                return std::nullopt;
            argument = dp.argument;
            args += QStringLiteral(",%1,%2").arg(int(dp.part)).arg(*value);
        }
        return QStringLiteral("%1(%2%3)")
            .arg(QLatin1String(DateParts112Function), text(argument).toString(), args);
    }

    // ---- convert(datetime, x, 112) elsewhere ----

    int rewriteConvert(int s, Range r, int depth, QString &out) const
    {
        const auto inside = call(s, r, u"convert");
        if (!inside)
            return -1;
        const auto x = style112Argument(Range{s, inside->to + 1});
        if (!x)
            return -1;
        out += QStringLiteral("%1(%2)").arg(QLatin1String(DateTime112Function),
                                            translated(*x, depth + 1));
        return inside->to + 1;
    }

    // ---- SUM and ROUND: exact decimal arithmetic ----

    // An operand: a column (possibly qualified), a parameter, a decimal number.
    int operandEnd(int s, Range r) const
    {
        if (kind(s) == TokenKind::Param || kind(s) == TokenKind::Number)
            return s + 1;
        if (!isName(s) || (s + 1 < r.to && isSymbol(s + 1, u"(")))
            return -1;
        int e = s + 1;
        while (e + 1 < r.to && isSymbol(e, u".") && isName(e + 1))
            e += 2;
        return e;
    }

    // +, -, * and parentheses over operands, as a postfix program for sqlsrv_sum.
    std::optional<Program> compile(Range r) const
    {
        if (r.size() > 0 && isWord(r.from, u"ALL"))
            ++r.from;
        Program program;
        QString pending; // operators waiting, '(' included
        bool wantOperand = true;
        int depth = 0, maxDepth = 0, ops = 0, constants = 0;
        auto output = [&](QChar op) {
            program.code += op;
            ++ops;
            if (op != u'~')
                --depth;
        };
        auto precedence = [](QChar op) { return op == u'~' ? 3 : op == u'*' ? 2 : 1; };
        for (int s = r.from; s < r.to;) {
            const QStringView t = text(s);
            if (wantOperand) {
                if (isSymbol(s, u"(") || isSymbol(s, u"-")) {
                    pending += t == u"(" ? u'(' : u'~';
                    ++s;
                    continue;
                }
                if (isSymbol(s, u"+")) {
                    ++s;
                    continue;
                }
                const int e = operandEnd(s, r);
                if (e < 0)
                    return std::nullopt;
                if (kind(s) == TokenKind::Number) {
                    const auto value = Decimal::parse(t.toLatin1().toStdString());
                    if (!value || ++constants > MaxSumConstants)
                        return std::nullopt;
                    program.code +=
                        QStringLiteral("k%1;").arg(QString::fromStdString(value->toString()));
                } else {
                    program.code += u'c';
                    program.operands.push_back(Range{s, e});
                }
                ++ops;
                maxDepth = std::max(maxDepth, ++depth);
                wantOperand = false;
                s = e;
                continue;
            }
            if (isSymbol(s, u")")) {
                while (!pending.isEmpty() && pending.back() != u'(') {
                    output(pending.back());
                    pending.chop(1);
                }
                if (pending.isEmpty())
                    return std::nullopt;
                pending.chop(1);
                ++s;
                continue;
            }
            if (!isSymbol(s, u"+") && !isSymbol(s, u"-") && !isSymbol(s, u"*"))
                return std::nullopt;
            const QChar op = t.front();
            while (!pending.isEmpty() && pending.back() != u'(' &&
                   precedence(pending.back()) >= precedence(op)) {
                output(pending.back());
                pending.chop(1);
            }
            pending += op;
            wantOperand = true;
            ++s;
        }
        if (wantOperand)
            return std::nullopt;
        while (!pending.isEmpty()) {
            if (pending.back() == u'(')
                return std::nullopt;
            output(pending.back());
            pending.chop(1);
        }
        if (ops > MaxSumOps || maxDepth > MaxSumStack ||
            int(program.operands.size()) > MaxSumOperands)
            return std::nullopt;
        return program;
    }

    QString programCall(const char *function, const Program &program, const QString &prefix) const
    {
        QString out =
            QLatin1String(function) + QStringLiteral("('") + prefix + program.code + u'\'';
        for (const Range operand : program.operands)
            out += u',' + text(operand).toString();
        return out + u')';
    }

    // SUM(expression) not used as a window function.
    std::optional<Program> sumProgram(int s, Range r, int *after = nullptr) const
    {
        const auto inside = call(s, r, u"SUM");
        if (!inside || (inside->to + 1 < r.to && isWord(inside->to + 1, u"OVER")))
            return std::nullopt;
        if (after)
            *after = inside->to + 1;
        return compile(*inside);
    }

    int rewriteSum(int s, Range r, QString &out) const
    {
        int after = -1;
        const auto program = sumProgram(s, r, &after);
        if (!program)
            return -1;
        out += programCall(SumFunction, *program, QString());
        return after;
    }

    // A whole-number literal, sign included.
    std::optional<int> integerLiteral(Range r) const
    {
        bool negative = false;
        if (r.size() == 2 && (isSymbol(r.from, u"-") || isSymbol(r.from, u"+"))) {
            negative = isSymbol(r.from, u"-");
            ++r.from;
        }
        if (r.size() != 1 || kind(r.from) != TokenKind::Number || text(r.from).size() > 6)
            return std::nullopt;
        bool ok = false;
        const int value = text(r.from).toInt(&ok);
        if (!ok)
            return std::nullopt;
        return negative ? -value : value;
    }

    int rewriteRound(int s, Range r, int depth, QString &out) const
    {
        const auto inside = call(s, r, u"ROUND");
        if (!inside)
            return -1;
        const auto args = arguments(*inside);
        if (args.size() < 2 || args.size() > 3 || args[0].size() < 1 || args[1].size() < 1 ||
            (args.size() == 3 && args[2].size() < 1))
            return -1;
        const auto digits = integerLiteral(args[1]);
        const auto function = args.size() == 3 ? integerLiteral(args[2]) : std::optional(0);
        // ROUND(SUM(...), n): one aggregate that rounds the exact total; ROUND(a + b, n):
        // one function that computes and rounds exactly.
        if (digits && function) {
            const QString prefix =
                QStringLiteral("%1%2;").arg(QChar(*function ? u't' : u'r')).arg(*digits);
            int sumEnd = -1;
            if (const auto program = sumProgram(args[0].from, args[0], &sumEnd);
                program && sumEnd == args[0].to) {
                out += programCall(SumFunction, *program, prefix);
                return inside->to + 1;
            }
            if (const auto program = compile(args[0])) {
                out += programCall(CalcFunction, *program, prefix);
                return inside->to + 1;
            }
        }
        out += QLatin1String(RoundFunction) + u'(';
        for (size_t i = 0; i < args.size(); ++i)
            out += (i ? QStringLiteral(",") : QString()) + translated(args[i], depth + 1);
        out += u')';
        return inside->to + 1;
    }

    const QString &m_text;
    std::vector<Token> m_tokens;
    std::vector<int> m_sig;
    std::vector<int> m_close;
    std::vector<int> m_paramsBefore; // '?' among the first n sig tokens
};

} // namespace

QString translate(const QString &sqlServerText)
{
    return Translator(sqlServerText).run();
}

void install(sqlite3 *db)
{
    registerFunctions(db);
}

} // namespace sqlcompat
