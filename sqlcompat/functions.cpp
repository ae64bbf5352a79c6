#include "sqlcompat/functions.h"

#include "dm/error.h"
#include "sqlcompat/dates.h"
#include "sqlcompat/decimal.h"

#include <QString>
#include <charconv>
#include <cmath>
#include <new>
#include <sqlite3.h>

namespace sqlcompat {

namespace {

constexpr const char *NumericOverflowMessage =
    "Arithmetic overflow error converting expression to data type numeric.";
constexpr const char *FloatOverflowMessage =
    "Arithmetic overflow error converting float to data type numeric.";
constexpr const char *VarcharToNumericMessage = "Error converting data type varchar to numeric.";
constexpr const char *BadDatePartMessage = "Invalid parameter 1 specified for datepart.";

std::string_view textOf(sqlite3_value *value)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_value_text(value));
    return bytes ? std::string_view(bytes, size_t(sqlite3_value_bytes(value))) : std::string_view();
}

// ---- dates ----

void reportDate(sqlite3_context *context, DateStatus status)
{
    sqlite3_result_error(
        context, status == DateStatus::OutOfRange ? OutOfRangeMessage : BadFormatMessage, -1);
}

// A value converted to datetime; false when null or failed (the failure reported).
bool dateTimeOf(sqlite3_context *context, sqlite3_value *value, bool style112, DateTime &out)
{
    DateStatus status;
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        sqlite3_result_null(context);
        return false;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        status = dateTimeFromDays(sqlite3_value_double(value), out);
        break;
    default:
        status =
            style112 ? parseStyle112(textOf(value), out) : parseDateTimeText(textOf(value), out);
    }
    if (status != DateStatus::Ok) {
        reportDate(context, status);
        return false;
    }
    return true;
}

bool datePartOf(sqlite3_context *context, sqlite3_value *value, DatePart &out)
{
    const int code = sqlite3_value_int(value);
    if (sqlite3_value_type(value) != SQLITE_INTEGER || code < int(DatePart::Year) ||
        code > int(DatePart::IsoWeek)) {
        sqlite3_result_error(context, BadDatePartMessage, -1);
        return false;
    }
    out = DatePart(code);
    return true;
}

// sqlsrv_datepart112(part, x): DATEPART(part, convert(datetime, x, 112)) in one call.
void datePart112(sqlite3_context *context, int, sqlite3_value **argv)
{
    DatePart part;
    if (!datePartOf(context, argv[0], part))
        return;
    // A date column's text, the usual case, in one step.
    if (sqlite3_value_type(argv[1]) == SQLITE_TEXT) {
        int result = 0;
        const DateStatus status = datePartOfStyle112(part, textOf(argv[1]), result);
        if (status == DateStatus::Ok)
            sqlite3_result_int(context, result);
        else
            reportDate(context, status);
        return;
    }
    DateTime value;
    if (dateTimeOf(context, argv[1], true, value))
        sqlite3_result_int(context, datePart(part, value));
}

// DATEPART(part, convert(datetime, x, 112)) of an x known not null; false when it failed
// (the failure reported).
bool part112(sqlite3_context *context, DatePart part, sqlite3_value *x, int type, int &out)
{
    if (type == SQLITE_TEXT) {
        const DateStatus status = datePartOfStyle112(part, textOf(x), out);
        if (status == DateStatus::Ok)
            return true;
        reportDate(context, status);
        return false;
    }
    DateTime converted;
    if (!dateTimeOf(context, x, true, converted))
        return false;
    out = datePart(part, converted);
    return true;
}

// sqlsrv_dateparts112(x, part, number, part, number...): DATEPART(part, convert(datetime, x,
// 112)) = number AND ... in one call, the tests taken in turn until one is false; null when x
// is null.
void dateParts112(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    if (argc < 3 || argc % 2 == 0) {
        sqlite3_result_error(context, "malformed date test", -1);
        return;
    }
    const int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        DatePart part;
        int value = 0;
        if (!datePartOf(context, argv[i], part))
            return;
        if (sqlite3_value_type(argv[i + 1]) != SQLITE_INTEGER) {
            sqlite3_result_error(context, "malformed date test", -1);
            return;
        }
        if (!part112(context, part, argv[0], type, value))
            return;
        if (value != sqlite3_value_int64(argv[i + 1])) {
            sqlite3_result_int(context, 0);
            return;
        }
    }
    sqlite3_result_int(context, 1);
}

// sqlsrv_datepart(part, x): DATEPART(part, x) for any other x.
void datePartAny(sqlite3_context *context, int, sqlite3_value **argv)
{
    DatePart part;
    DateTime value;
    if (datePartOf(context, argv[0], part) && dateTimeOf(context, argv[1], false, value))
        sqlite3_result_int(context, datePart(part, value));
}

// sqlsrv_datetime112(x): convert(datetime, x, 112) as a text DATEPART reads back.
void dateTime112(sqlite3_context *context, int, sqlite3_value **argv)
{
    DateTime value;
    if (dateTimeOf(context, argv[0], true, value)) {
        const std::string text = formatDateTime(value);
        sqlite3_result_text(context, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
}

// ---- integers ----

// sqlsrv_int(x): x converted to int, as when an int is compared with it.
void toInt(sqlite3_context *context, int, sqlite3_value **argv)
{
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
        sqlite3_result_null(context);
        return;
    case SQLITE_INTEGER:
        sqlite3_result_value(context, argv[0]);
        return;
    case SQLITE_FLOAT: {
        const double value = std::trunc(sqlite3_value_double(argv[0]));
        if (value >= -2147483648.0 && value <= 2147483647.0)
            sqlite3_result_int(context, int(value));
        else
            sqlite3_result_error(
                context, "Arithmetic overflow error converting expression to data type int.", -1);
        return;
    }
    default:
        break;
    }
    const std::string_view text = textOf(argv[0]);
    std::int32_t value = 0;
    const IntStatus status = varcharToInt(text, value);
    if (status == IntStatus::Ok) {
        sqlite3_result_int(context, value);
    } else {
        const std::string message = intConversionMessage(status, text);
        sqlite3_result_error(context, message.data(), int(message.size()));
    }
}

// ---- decimals ----

// A column value as an exact decimal; false when null or failed (the failure reported
// unless null).
bool decimalOf(sqlite3_context *context, sqlite3_value *value, Decimal &out, bool &isNull)
{
    isNull = false;
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        isNull = true;
        return false;
    case SQLITE_INTEGER:
        out = Decimal::fromInt64(sqlite3_value_int64(value));
        return true;
    case SQLITE_FLOAT:
        if (const auto converted = Decimal::fromDouble(sqlite3_value_double(value))) {
            out = *converted;
            return true;
        }
        sqlite3_result_error(context, FloatOverflowMessage, -1);
        return false;
    default:
        if (const auto parsed = Decimal::parse(textOf(value))) {
            out = *parsed;
            return true;
        }
        sqlite3_result_error(context, VarcharToNumericMessage, -1);
        return false;
    }
}

// Integral results go back as integers, others as the nearest double: a figure rounded
// to cents then reads back as exactly those cents.
void resultDecimal(sqlite3_context *context, const Decimal &value)
{
    if (const auto whole = value.toInt64())
        sqlite3_result_int64(context, *whole);
    else
        sqlite3_result_double(context, value.toDouble());
}

// sqlsrv_round(x, digits [, truncate]): ROUND on the exact decimal of x.
void roundValue(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    Decimal value;
    bool isNull;
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL ||
        (argc > 2 && sqlite3_value_type(argv[2]) == SQLITE_NULL)) {
        sqlite3_result_null(context);
        return;
    }
    if (!decimalOf(context, argv[0], value, isNull)) {
        if (isNull)
            sqlite3_result_null(context);
        return;
    }
    const sqlite3_int64 digits = sqlite3_value_int64(argv[1]);
    const int clamped = int(std::clamp<sqlite3_int64>(digits, -100, 100));
    const bool truncate = argc > 2 && sqlite3_value_int64(argv[2]) != 0;
    const auto result = truncate ? value.truncated(clamped) : value.rounded(clamped);
    if (!result)
        sqlite3_result_error(context, NumericOverflowMessage, -1);
    else
        resultDecimal(context, *result);
}

// sqlsrv_sum(program, operand...) and sqlsrv_calc(program, operand...): the SUM of an
// arithmetic expression over the operands, or its value on one row, evaluated exactly.
// The program is the expression in postfix form:
//   [r<digits>; | t<digits>;]  then  c (next operand) | k<decimal>; | + | - | * | ~ (negate)
// with the optional prefix rounding (r) or truncating (t) the result, as ROUND(x, n [, 1]).
struct Op
{
    char code;
    std::uint8_t index; // operand or constant number
};

// Plain data only: it also lives in memory that SQLite zeroes and frees.
struct Program
{
    char finish; // 0, 'r' or 't'
    int digits;
    int opCount;
    int operandCount;
    Op ops[MaxSumOps];
    Decimal::Packed constants[MaxSumConstants];
};

struct SumState
{
    bool ready;
    bool any;
    Program program;
    Decimal::Packed total;
};

bool readInt(std::string_view &text, int &out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (ec != std::errc() || end == text.data() + text.size() || *end != ';')
        return false;
    text.remove_prefix(size_t(end - text.data()) + 1);
    return true;
}

bool compileProgram(std::string_view text, Program &program)
{
    program = Program{};
    if (!text.empty() && (text.front() == 'r' || text.front() == 't')) {
        program.finish = text.front();
        text.remove_prefix(1);
        if (!readInt(text, program.digits))
            return false;
        program.digits = std::clamp(program.digits, -100, 100);
    }
    int depth = 0;
    int constants = 0;
    while (!text.empty()) {
        if (program.opCount == MaxSumOps)
            return false;
        Op &op = program.ops[program.opCount++];
        op.code = text.front();
        text.remove_prefix(1);
        switch (op.code) {
        case 'c':
            if (program.operandCount == MaxSumOperands)
                return false;
            op.index = std::uint8_t(program.operandCount++);
            ++depth;
            break;
        case 'k': {
            const auto semicolon = text.find(';');
            const auto value = semicolon == std::string_view::npos
                                   ? std::nullopt
                                   : Decimal::parse(text.substr(0, semicolon));
            if (!value || constants == MaxSumConstants)
                return false;
            op.index = std::uint8_t(constants);
            program.constants[constants++] = value->packed();
            text.remove_prefix(semicolon + 1);
            ++depth;
            break;
        }
        case '+':
        case '-':
        case '*':
            if (--depth < 1)
                return false;
            break;
        case '~':
            if (depth < 1)
                return false;
            break;
        default:
            return false;
        }
        if (depth > MaxSumStack)
            return false;
    }
    return depth == 1;
}

bool compileArgument(sqlite3_context *context, sqlite3_value *text, int operands, Program &program)
{
    if (compileProgram(textOf(text), program) && program.operandCount == operands)
        return true;
    sqlite3_result_error(context, "malformed arithmetic program", -1);
    return false;
}

bool anyNull(int count, sqlite3_value **values)
{
    for (int i = 0; i < count; ++i) {
        if (sqlite3_value_type(values[i]) == SQLITE_NULL)
            return true;
    }
    return false;
}

// One row's value, operands known not null; false when it failed (the failure reported).
bool evaluate(sqlite3_context *context, const Program &program, sqlite3_value **operands,
              Decimal &out)
{
    bool isNull;
    if (program.opCount == 1 && program.ops[0].code == 'c') // the common SUM(column)
        return decimalOf(context, operands[0], out, isNull);
    // Slots are written before they are read; zeroing them costs more than the arithmetic.
    union Slot {
        Slot() {}
        Decimal value;
    } stack[MaxSumStack];
    int top = 0;
    for (int i = 0; i < program.opCount; ++i) {
        const Op op = program.ops[i];
        std::optional<Decimal> result;
        switch (op.code) {
        case 'c':
            new (&stack[top].value) Decimal;
            if (!decimalOf(context, operands[op.index], stack[top++].value, isNull))
                return false;
            continue;
        case 'k':
            new (&stack[top++].value) Decimal(Decimal::unpacked(program.constants[op.index]));
            continue;
        case '~':
            stack[top - 1].value = stack[top - 1].value.negated();
            continue;
        case '+':
            result = stack[top - 2].value.plus(stack[top - 1].value);
            break;
        case '-':
            result = stack[top - 2].value.minus(stack[top - 1].value);
            break;
        default:
            result = stack[top - 2].value.times(stack[top - 1].value);
            break;
        }
        if (!result) {
            sqlite3_result_error(context, NumericOverflowMessage, -1);
            return false;
        }
        stack[top - 2].value = *result;
        --top;
    }
    out = stack[0].value;
    return true;
}

void finish(sqlite3_context *context, const Program &program, const Decimal &value)
{
    const auto result = program.finish == 'r'   ? value.rounded(program.digits)
                        : program.finish == 't' ? value.truncated(program.digits)
                                                : std::optional<Decimal>(value);
    if (!result)
        sqlite3_result_error(context, NumericOverflowMessage, -1);
    else
        resultDecimal(context, *result);
}

void sumStep(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    auto *state = static_cast<SumState *>(sqlite3_aggregate_context(context, sizeof(SumState)));
    if (!state) {
        sqlite3_result_error_nomem(context);
        return;
    }
    if (!state->ready) {
        if (!compileArgument(context, argv[0], argc - 1, state->program))
            return;
        state->ready = true;
    }
    // A null anywhere makes the row's term null, and SUM skips it.
    Decimal term;
    if (anyNull(argc - 1, argv + 1) || !evaluate(context, state->program, argv + 1, term))
        return;
    const auto total = state->any ? Decimal::unpacked(state->total).plus(term) : term;
    if (!total) {
        sqlite3_result_error(context, NumericOverflowMessage, -1);
        return;
    }
    state->total = total->packed();
    state->any = true;
}

void sumFinal(sqlite3_context *context)
{
    const auto *state = static_cast<SumState *>(sqlite3_aggregate_context(context, 0));
    if (!state || !state->any)
        sqlite3_result_null(context);
    else
        finish(context, state->program, Decimal::unpacked(state->total));
}

void calculate(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    // The program is compiled once per statement and kept beside its argument.
    auto *cached = static_cast<const Program *>(sqlite3_get_auxdata(context, 0));
    Program compiled;
    if (!cached) {
        if (!compileArgument(context, argv[0], argc - 1, compiled))
            return;
    }
    const Program &program = cached ? *cached : compiled;
    Decimal value;
    if (anyNull(argc - 1, argv + 1))
        sqlite3_result_null(context);
    else if (evaluate(context, program, argv + 1, value))
        finish(context, program, value);
    if (!cached)
        sqlite3_set_auxdata(context, 0, new Program(compiled),
                            [](void *p) { delete static_cast<Program *>(p); });
}

// ---- collation ----

int compareSlow(std::string_view a, std::string_view b)
{
    return QString::compare(QString::fromUtf8(a.data(), qsizetype(a.size())),
                            QString::fromUtf8(b.data(), qsizetype(b.size())), Qt::CaseInsensitive);
}

int collate(void *, int lengthA, const void *a, int lengthB, const void *b)
{
    return compareText(std::string_view(static_cast<const char *>(a), size_t(lengthA)),
                       std::string_view(static_cast<const char *>(b), size_t(lengthB)));
}

void check(sqlite3 *db, int rc, const char *what)
{
    if (rc != SQLITE_OK)
        throw dm::Error(QStringLiteral("Cannot register %1: %2")
                            .arg(QString::fromUtf8(what), QString::fromUtf8(sqlite3_errmsg(db))));
}

} // namespace

IntStatus varcharToInt(std::string_view text, std::int32_t &out)
{
    const bool negative = takeSign(text);
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return IntStatus::Invalid;
        value = value * 10 + (c - '0');
        if (value > std::int64_t(INT32_MAX) + 1)
            value = std::int64_t(INT32_MAX) + 2; // stays too large, never wraps
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return IntStatus::Overflow;
    out = std::int32_t(value);
    return IntStatus::Ok;
}

std::string intConversionMessage(IntStatus status, std::string_view text)
{
    const std::string value(text);
    if (status == IntStatus::Overflow)
        return "The conversion of the varchar value '" + value + "' overflowed an int column.";
    return "Conversion failed when converting the varchar value '" + value + "' to data type int.";
}

int compareText(std::string_view a, std::string_view b)
{
    while (!a.empty() && a.back() == ' ')
        a.remove_suffix(1);
    while (!b.empty() && b.back() == ' ')
        b.remove_suffix(1);
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        // Beyond ASCII, from the first such character on, Unicode case folding decides.
        if ((x | y) & 0x80)
            return compareSlow(a.substr(i), b.substr(i));
        if (x == y)
            continue;
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

void registerFunctions(sqlite3 *db)
{
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    struct Scalar
    {
        const char *name;
        int argc;
        void (*function)(sqlite3_context *, int, sqlite3_value **);
    };
    const Scalar scalars[] = {
        {DatePart112Function, 2, datePart112}, {DatePartFunction, 2, datePartAny},
        {DateTime112Function, 1, dateTime112}, {IntFunction, 1, toInt},
        {RoundFunction, 2, roundValue},        {RoundFunction, 3, roundValue},
    };
    for (const Scalar &scalar : scalars) {
        check(db,
              sqlite3_create_function_v2(db, scalar.name, scalar.argc, flags, nullptr,
                                         scalar.function, nullptr, nullptr, nullptr),
              scalar.name);
    }
    check(db,
          sqlite3_create_function_v2(db, CalcFunction, -1, flags, nullptr, calculate, nullptr,
                                     nullptr, nullptr),
          CalcFunction);
    check(db,
          sqlite3_create_function_v2(db, DateParts112Function, -1, flags, nullptr, dateParts112,
                                     nullptr, nullptr, nullptr),
          DateParts112Function);
    check(db,
          sqlite3_create_function_v2(db, SumFunction, -1, flags, nullptr, nullptr, sumStep,
                                     sumFinal, nullptr),
          SumFunction);
    check(db, sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr, collate, nullptr),
          "NOCASE");
}

} // namespace sqlcompat
