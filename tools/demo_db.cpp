#include "tools/demo_db.h"

#include "sql/schema.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace demodb {

std::uint64_t Random::next()
{
    m_state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = m_state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint32_t Random::below(std::uint32_t n)
{
    return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32);
}

namespace {

// ---- command line -------------------------------------------------------------------------

template <typename Number>
Number parseNumber(const QString &option, const QString &text, Number max)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    const bool digitsOnly = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (!ok || !digitsOnly || value > static_cast<qulonglong>(max))
        throw UsageError(QStringLiteral("%1 needs a whole number from 0 to %2, not '%3'")
                             .arg(option)
                             .arg(static_cast<qulonglong>(max))
                             .arg(text));
    return static_cast<Number>(value);
}

// ---- SQLite ---------------------------------------------------------------------------------

// One value of a row to insert: NULL, text, or a number stored as REAL.
struct Value
{
    enum Kind { Null, Text, Real } kind = Null;
    std::string text;
    double real = 0;

    static Value null() { return {}; }
    static Value of(std::string s) { return {Text, std::move(s), 0}; }
    static Value of(double d) { return {Real, {}, d}; }
};

class Database
{
public:
    explicit Database(const QString &path)
    {
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                                       SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK)
            fail(QStringLiteral("Cannot open %1").arg(path));
    }
    ~Database() { sqlite3_close(m_db); }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    sqlite3 *handle() const { return m_db; }

    void exec(const QByteArray &sql)
    {
        if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(QStringLiteral("SQL failed"));
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw dm::Error(
            QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(m_db))));
    }

private:
    sqlite3 *m_db = nullptr;
};

// A prepared INSERT, executed once per row.
class Insert
{
public:
    Insert(Database &db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            db.fail(QStringLiteral("Cannot prepare %1").arg(QString::fromUtf8(sql)));
    }
    ~Insert() { sqlite3_finalize(m_stmt); }
    Insert(const Insert &) = delete;
    Insert &operator=(const Insert &) = delete;

    void row(std::initializer_list<Value> values)
    {
        int index = 1;
        for (const Value &v : values)
            bind(index++, v);
        if (sqlite3_step(m_stmt) != SQLITE_DONE)
            m_db.fail(QStringLiteral("Insert failed"));
        sqlite3_reset(m_stmt);
    }

private:
    void bind(int index, const Value &v)
    {
        int rc = SQLITE_OK;
        switch (v.kind) {
        case Value::Null:
            rc = sqlite3_bind_null(m_stmt, index);
            break;
        case Value::Text:
            rc = sqlite3_bind_text(m_stmt, index, v.text.data(), static_cast<int>(v.text.size()),
                                   SQLITE_TRANSIENT);
            break;
        case Value::Real:
            rc = sqlite3_bind_double(m_stmt, index, v.real);
            break;
        }
        if (rc != SQLITE_OK)
            m_db.fail(QStringLiteral("Cannot bind a value"));
    }

    Database &m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

// ---- value pickers --------------------------------------------------------------------------

struct Choice
{
    std::string value;
    std::uint32_t weight = 1;
    bool isNull = false;
    bool required = true; // must appear in every table with enough rows
};

Choice nullChoice(std::uint32_t weight)
{
    return {{}, weight, true};
}

// Weighted choice among texts. Draws by weight, except that the last rows of a table take
// the required choices that have not come up yet, so that even a small database holds
// every value the batches must tell apart.
class Picker
{
public:
    explicit Picker(std::vector<Choice> choices)
        : m_choices(std::move(choices)), m_seen(m_choices.size(), false)
    {
        for (const Choice &c : m_choices) {
            m_total += c.weight;
            m_cumulative.push_back(m_total);
            m_missing += c.required ? 1 : 0;
        }
    }

    // The index of the choice for a row, remainingRows counting that row and those after it.
    std::size_t pickIndex(std::int64_t remainingRows, Random &rng)
    {
        const std::size_t index = remainingRows <= m_missing ? firstMissing() : draw(rng);
        if (m_choices[index].required && !m_seen[index]) {
            m_seen[index] = true;
            --m_missing;
        }
        return index;
    }

    Value pick(std::int64_t remainingRows, Random &rng)
    {
        const Choice &c = m_choices[pickIndex(remainingRows, rng)];
        return c.isNull ? Value::null() : Value::of(c.value);
    }

private:
    std::size_t draw(Random &rng) const
    {
        const std::uint32_t r = rng.below(m_total);
        return static_cast<std::size_t>(
            std::upper_bound(m_cumulative.begin(), m_cumulative.end(), r) - m_cumulative.begin());
    }

    std::size_t firstMissing() const
    {
        for (std::size_t i = 0; i < m_choices.size(); ++i)
            if (m_choices[i].required && !m_seen[i])
                return i;
        return 0;
    }

    std::vector<Choice> m_choices;
    std::vector<bool> m_seen;
    std::vector<std::uint32_t> m_cumulative;
    std::uint32_t m_total = 0;
    std::int64_t m_missing = 0;
};

// Confirmation flags: mostly 'Y', and the spellings the filter must tell apart.
Picker flagPicker()
{
    return Picker(
        {{"Y", 900}, {"N", 40}, {"y", 20}, {"Y ", 10}, nullChoice(15), {"n", 5}, {"V", 10}});
}

// Order types: the two pairs the batches select, their spellings, and types they ignore.
Picker orderTypePicker()
{
    return Picker({{"3221", 300},
                   {"5221", 200},
                   {"2221", 150},
                   {"222U", 100},
                   {"222u", 8},
                   {"3221 ", 8},
                   {"1221", 80},
                   {"3222", 60},
                   {"2222", 50},
                   {"4221", 30},
                   {"522", 4},
                   nullChoice(2)});
}

Picker invoiceTypePicker()
{
    return Picker({{"2301", 600}, {"2302", 250}, {"2303", 100}, {"230X", 50}});
}

// A few dozen departments, the busy ones first, with the occasional other spelling of
// a key that the totals group together with it.
Picker groupKeyPicker()
{
    std::vector<Choice> choices{{"s03", 4}, {"S03 ", 4}, {"e02", 2}, {"S10  ", 2}};
    for (int k = 1; k <= 24; ++k)
        choices.push_back({QStringLiteral("S%1").arg(k, 2, 10, QLatin1Char('0')).toStdString(),
                           static_cast<std::uint32_t>(120 / (1 + k / 3))});
    for (int k = 1; k <= 8; ++k)
        choices.push_back(
            {QStringLiteral("E%1").arg(k, 2, 10, QLatin1Char('0')).toStdString(), 10});
    return Picker(std::move(choices));
}

// The customers the invoice batches leave out, and spellings that they do or do not catch.
const std::array<const char *, 17> ExcludedCustomers = {
    "C000", "C0005", "C0007", "C003", "C015", "C016", "C037", "C059", "C108",
    "C122", "C158",  "C163",  "C190", "C198", "C903", "C997", "C998"};

Picker customerPicker()
{
    std::vector<Choice> choices;
    for (const char *code : ExcludedCustomers)
        choices.push_back({code, 60});
    // Excluded all the same: letter case and trailing blanks do not count.
    for (const char *code : {"c003", "C000  ", "c0005", "C998 ", "C0007 "})
        choices.push_back({code, 15});
    // Not excluded: near misses, and a leading blank, which counts.
    for (const char *code : {"C0006", "C004", "C017", "C109", "C999", "CA01", " C000", "C00005"})
        choices.push_back({code, 20});
    // Left out by the leading "A", in either case.
    for (const char *code : {"A001", "A015", "AB12", "A-200", "a099", "a001 "})
        choices.push_back({code, 80});
    choices.push_back(nullChoice(30));
    for (int k = 1000; k < 1400; ++k)
        choices.push_back({"C" + std::to_string(k), 20, false, false});
    return Picker(std::move(choices));
}

// ---- dates ----------------------------------------------------------------------------------

std::string dateText(const QDate &d)
{
    return d.toString(QStringLiteral("yyyyMMdd")).toStdString();
}

// The days of the sales years, with their date texts.
class SalesDays
{
public:
    SalesDays()
    {
        for (QDate d(FirstSalesYear, 1, 1); d <= QDate(LastSalesYear, 12, 31); d = d.addDays(1))
            m_days.push_back({dateText(d), d.dayOfWeek() >= 6});
    }

    std::size_t size() const { return m_days.size(); }
    const std::string &text(std::size_t day) const { return m_days[day].text; }
    bool weekend(std::size_t day) const { return m_days[day].weekend; }

private:
    struct Day
    {
        std::string text;
        bool weekend;
    };
    std::vector<Day> m_days;
};

// Sales dates of one table: any day of the sales years, weekends quieter; now and then no
// date at all, or a blank one, which the database reads as 1900-01-01.
class SalesDates
{
public:
    explicit SalesDates(const SalesDays &days) : m_days(days) {}

    // The day's index (days.size() for a missing date) and the date value.
    std::pair<std::size_t, Value> pick(std::int64_t remainingRows, Random &rng)
    {
        switch (m_kinds.pickIndex(remainingRows, rng)) {
        case 1:
            return {m_days.size(), Value::null()};
        case 2:
            return {m_days.size(), Value::of(std::string())};
        case 3:
            return {m_days.size(), Value::of(std::string(8, ' '))};
        }
        const auto count = static_cast<std::uint32_t>(m_days.size());
        std::size_t day = rng.below(count);
        if (m_days.weekend(day) && rng.chance(700))
            day = rng.below(count);
        return {day, Value::of(m_days.text(day))};
    }

private:
    const SalesDays &m_days;
    Picker m_kinds{{{"day", 1994}, nullChoice(3), {"empty", 1}, {"blank", 2}}};
};

// Document numbers: the date, then a serial number within that day.
class DocumentNumbers
{
public:
    explicit DocumentNumbers(const SalesDays &days) : m_days(days), m_serial(days.size() + 1, 0) {}

    std::string next(std::size_t day)
    {
        const int serial = m_serial[day]++ % 999 + 1;
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%s%03d",
                      day < m_days.size() ? m_days.text(day).c_str() : "00000000", serial);
        return buffer;
    }

private:
    const SalesDays &m_days;
    std::vector<int> m_serial;
};

// ---- amounts --------------------------------------------------------------------------------

// Decimals are made as whole numbers of their smallest unit; dividing by a power of ten gives
// the double nearest to the decimal, which SQLite stores as REAL.
Value decimal(std::int64_t units, double scale)
{
    return Value::of(static_cast<double>(units) / scale);
}

Value maybeNull(Random &rng, Value v)
{
    return rng.chance(1) ? Value::null() : std::move(v);
}

// Five percent tax, rounded half away from zero; some sales are tax-free.
std::int64_t taxCents(std::int64_t amountCents, Random &rng)
{
    if (rng.chance(150))
        return 0;
    const std::int64_t tax = (std::abs(amountCents) * 5 + 50) / 100;
    return amountCents < 0 ? -tax : tax;
}

// Mostly the home currency; otherwise a rate with four or six decimals.
Value exchangeRate(Random &rng)
{
    const std::uint32_t r = rng.below(100);
    if (r < 80)
        return Value::of(1.0);
    if (r < 90)
        return decimal(295000 + rng.below(35000), 1e4);
    if (r < 95)
        return decimal(200000 + rng.below(40000), 1e6);
    return decimal(41000 + rng.below(4000), 1e4);
}

// ---- tables ---------------------------------------------------------------------------------

// One row per week of each year, clipped at the year's ends: a week runs Sunday to Saturday
// and week 1 is the one that holds 1 January.
std::int64_t fillCalendar(Database &db)
{
    Insert insert(db, "INSERT INTO FCMSDT (DT001, DT002, DT003, DT004) VALUES (?, ?, ?, ?)");
    std::int64_t rows = 0;
    for (int year = FirstCalendarYear; year <= LastCalendarYear; ++year) {
        const QDate first(year, 1, 1);
        const QDate last(year, 12, 31);
        int week = 1;
        for (QDate sunday = first.addDays(-(first.dayOfWeek() % 7)); sunday <= last;
             sunday = sunday.addDays(7), ++week) {
            insert.row({Value::of(std::to_string(year)), Value::of(std::to_string(week)),
                        Value::of(dateText(std::max(sunday, first))),
                        Value::of(dateText(std::min(sunday.addDays(6), last)))});
            ++rows;
        }
    }
    return rows;
}

struct Item
{
    const char *type;
    const char *code;
    const char *name;
};

// Items of the four listed types and of others, with the blanks, empty and missing texts
// that real item tables hold. Items outside the listed types may lack texts.
const Item Items[] = {
    {"40", "FG-1001", "筆記型電腦 14吋"},
    {"40", "FG-1002", "Notebook 15.6\""},
    {"40", "FG-1003", "平板電腦 10吋"},
    {"40", " FG-1004 ", "  桌上型主機  "},
    {"40", "FG-1005", "Mini PC"},
    {"40", "FG-1006", "顯示器 27吋"},
    {"41", "SP-2001", "電源供應器 65W"},
    {"41", "SP-2002", "Power adapter 90W"},
    {"41", "SP-2003", "鍵盤(繁體注音)"},
    {"41 ", "SP-2004", "滑鼠"},
    {"41", "SP-2005", "USB-C 擴充座"},
    {"42", "RM-3001", "鋁合金外殼"},
    {"42", "RM-3002", ""},
    {"42", "RM-3003", "主機板 B760"},
    {"42", "RM-3004", "記憶體 16GB DDR5"},
    {"42", "RM-3005\t", "固態硬碟 1TB"},
    {"43", "SV-4001", "維修服務"},
    {"43", "SV-4001", "維修服務"},
    {"43", "SV-4002", "延長保固 2年"},
    {"43", "SV-4003", "On-site service"},
    {"10", "AD-0001", "行政用品"},
    {"10", "AD-0002", "Office supplies"},
    {"10", nullptr, nullptr},
    {"20", "PK-0001", "包材 紙箱"},
    {"30", "TR-0001", "運費"},
    {"50", "OT-0001", "Other"},
    {"50", "OT-0002", "雜項"},
    {"4", "XX-0004", "not a listed type"},
    {"040", "XX-0040", "not a listed type"},
    {nullptr, "XX-0000", "no type"},
};

std::int64_t fillItems(Database &db)
{
    Insert insert(db, "INSERT INTO FCMSFL (FL000, FL001, FL002) VALUES (?, ?, ?)");
    auto text = [](const char *s) { return s ? Value::of(std::string(s)) : Value::null(); };
    std::int64_t rows = 0;
    for (const Item &item : Items) {
        insert.row({text(item.type), text(item.code), text(item.name)});
        ++rows;
    }
    return rows;
}

void fillOrders(Database &db, std::int64_t rows, Random &rng, const SalesDays &days)
{
    Insert insert(db, "INSERT INTO COPTC (TC001, TC002, TC003, TC006, TC009, TC027, TC029, TC030, "
                      "TC031) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    SalesDates dates(days);
    Picker types = orderTypePicker();
    Picker groups = groupKeyPicker();
    Picker flags = flagPicker();
    DocumentNumbers numbers(days);
    for (std::int64_t left = rows; left > 0; --left) {
        auto [day, date] = dates.pick(left, rng);
        const std::uint32_t kind = rng.below(100);
        std::int64_t qty = kind < 70   ? (1 + rng.below(200)) * 1000LL
                           : kind < 90 ? (1 + rng.below(5000)) * 1000LL
                                       : 1 + rng.below(100000); // by weight, three decimals
        const std::int64_t priceCents = 100 + rng.below(200000);
        std::int64_t amount = (qty * priceCents + 500) / 1000;
        if (rng.chance(10)) { // a return
            qty = -qty;
            amount = -amount;
        }
        const std::int64_t tax = taxCents(amount, rng);
        insert.row({types.pick(left, rng), Value::of(numbers.next(day)), date,
                    groups.pick(left, rng), maybeNull(rng, exchangeRate(rng)),
                    flags.pick(left, rng), maybeNull(rng, decimal(amount, 100)),
                    maybeNull(rng, decimal(tax, 100)), maybeNull(rng, decimal(qty, 1000))});
    }
}

void fillInvoices(Database &db, std::int64_t rows, Random &rng, const SalesDays &days)
{
    Insert insert(db, "INSERT INTO COPTG (TG001, TG002, TG003, TG004, TG006, TG023, TG045, TG046) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    SalesDates dates(days);
    Picker types = invoiceTypePicker();
    Picker customers = customerPicker();
    Picker groups = groupKeyPicker();
    Picker flags = flagPicker();
    DocumentNumbers numbers(days);
    for (std::int64_t left = rows; left > 0; --left) {
        auto [day, date] = dates.pick(left, rng);
        std::int64_t amount = 100 + rng.below(5000000);
        if (rng.chance(20)) // a credit note
            amount = -amount;
        const std::int64_t tax = taxCents(amount, rng);
        insert.row({types.pick(left, rng), Value::of(numbers.next(day)), date,
                    customers.pick(left, rng), groups.pick(left, rng), flags.pick(left, rng),
                    maybeNull(rng, decimal(amount, 100)), maybeNull(rng, decimal(tax, 100))});
    }
}

Summary fill(Database &db, const Options &options)
{
    const QByteArray schema = embeddedSchemaSql().toUtf8();
    if (schema.isEmpty())
        throw dm::Error(QStringLiteral("The embedded schema is missing from this program"));
    // Nothing to protect while the file is new: a failure removes it.
    db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    db.exec(schema);
    db.exec("BEGIN");
    Random rng(options.seed);
    const SalesDays days;
    Summary summary;
    summary.weeks = fillCalendar(db);
    summary.items = fillItems(db);
    fillOrders(db, options.rows, rng, days);
    summary.orders = options.rows;
    fillInvoices(db, options.rows, rng, days);
    summary.invoices = options.rows;
    db.exec("COMMIT");
    return summary;
}

} // namespace

Options parseArguments(const QStringList &arguments)
{
    Options options;
    bool havePath = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            options.help = true;
            return options;
        }
        QString name = arg;
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            name = arg.section(QLatin1Char('='), 0, 0);
            value = arg.section(QLatin1Char('='), 1);
            inlineValue = true;
        }
        if (name == QLatin1String("--rows") || name == QLatin1String("--seed")) {
            if (!inlineValue) {
                if (i + 1 >= arguments.size())
                    throw UsageError(QStringLiteral("%1 needs a value").arg(name));
                value = arguments[++i];
            }
            if (name == QLatin1String("--rows"))
                options.rows = parseNumber<std::int64_t>(name, value, MaxRows);
            else
                options.seed = parseNumber<std::uint64_t>(name, value, UINT64_MAX);
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            throw UsageError(QStringLiteral("unknown option '%1'").arg(arg));
        } else if (havePath) {
            throw UsageError(QStringLiteral("only one database path, please: '%1'").arg(arg));
        } else if (arg.isEmpty()) {
            throw UsageError(QStringLiteral("the database path is empty"));
        } else {
            options.path = arg;
            havePath = true;
        }
    }
    if (!havePath)
        throw UsageError(QStringLiteral("the database path is missing"));
    return options;
}

QString usageText(const QString &program)
{
    return QStringLiteral(
               "Usage: %1 PATH [--rows N] [--seed S]\n"
               "Creates the demo company database PATH (it must not exist yet) with a week\n"
               "calendar for %2-%3, items, and N sales orders and N sales invoices dated\n"
               "%4-%5 (default N %6, seed %7). The same seed gives the same data.\n")
        .arg(program)
        .arg(FirstCalendarYear)
        .arg(LastCalendarYear)
        .arg(FirstSalesYear)
        .arg(LastSalesYear)
        .arg(DefaultRows)
        .arg(DefaultSeed);
}

Summary createDemoDatabase(const Options &options)
{
    QFile file(options.path);
    if (QFileInfo::exists(options.path) || QFileInfo(options.path).isSymLink())
        throw dm::Error(QStringLiteral("%1 already exists; remove it first or choose another path")
                            .arg(options.path));
    // NewOnly: never replace a file that appeared meanwhile.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw dm::Error(
            QStringLiteral("Cannot create %1: %2").arg(options.path, file.errorString()));
    file.close();
    try {
        Database db(options.path);
        return fill(db, options);
    } catch (...) {
        QFile::remove(options.path);
        throw;
    }
}

} // namespace demodb
