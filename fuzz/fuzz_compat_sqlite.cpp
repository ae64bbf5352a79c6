// The compatibility layer end to end: the system's statements, with fuzzed year and period
// literals, fuzzed source rows and fuzzed bound values, translated and run on an in-memory
// SQLite with the layer's functions and collation. Failures the server would report are
// expected; crashes, leaks and undefined behaviour are not.
//
// Input: fields separated by '\n':
//   0 year text, 1 period text (both spliced as quoted literals, quotes doubled),
//   2 a bound value, 3 a row's date text, 4-7 its amount, tax, rate and quantity,
//   8 an arithmetic expression and 9 a DATEPART part name, both spliced as SQL.
#include "dm/markers.h"
#include "sqlcompat/sqlcompat.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int FieldCount = 10;

const char *const Schema =
    "CREATE TABLE COPTC (TC001 VARCHAR(4) COLLATE NOCASE, TC003 VARCHAR(8) COLLATE NOCASE,"
    " TC006 VARCHAR(10) COLLATE NOCASE, TC009 NUMERIC(12,6), TC027 VARCHAR(1) COLLATE NOCASE,"
    " TC029 NUMERIC(16,2), TC030 NUMERIC(16,2), TC031 NUMERIC(16,3));"
    "CREATE TABLE COPTG (TG003 VARCHAR(8) COLLATE NOCASE, TG004 VARCHAR(10) COLLATE NOCASE,"
    " TG006 VARCHAR(10) COLLATE NOCASE, TG023 VARCHAR(1) COLLATE NOCASE, TG045 NUMERIC(16,2),"
    " TG046 NUMERIC(16,2));"
    "CREATE TABLE FADMXX (COMPANY VARCHAR(10) COLLATE NOCASE, XX000 VARCHAR(1) COLLATE NOCASE,"
    " XX001 VARCHAR(4) COLLATE NOCASE, XX002 VARCHAR(4) COLLATE NOCASE,"
    " XX003 VARCHAR(4) COLLATE NOCASE, XX004 NUMERIC(20,6), XX005 VARCHAR(10) COLLATE NOCASE,"
    " XX006 VARCHAR(10) COLLATE NOCASE);"
    "CREATE TABLE FADMXY (COMPANY VARCHAR(10) COLLATE NOCASE, XY000 VARCHAR(1) COLLATE NOCASE,"
    " XY001 VARCHAR(4) COLLATE NOCASE, XY002 VARCHAR(4) COLLATE NOCASE,"
    " XY003 VARCHAR(4) COLLATE NOCASE);";

// The batches' statements as the system writes them; %Y and %P take the quoted literals,
// %E the expression and %D the part name. Markers are bound in order.
const char *const Statements[] = {
    "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'W102' XX001,%Y XX002,:Week XX003,"
    "ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y'"
    " AND TC001 IN ('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) =%Y"
    " AND DATEPART ( Week , convert(datetime,TC003,112)) =%P GROUP BY TC006",
    "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M101' XX001,%Y XX002,:Month XX003,"
    "SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y' AND TC001 IN"
    " ('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) =%Y AND DATEPART ("
    " Month , convert(datetime,TC003,112)) =%P GROUP BY TC006",
    "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y103' XX001,%Y XX002,%P XX003,"
    "ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y'"
    " AND TC001 IN ('2221','222U') AND DATEPART ( YEAR , convert(datetime,TC003,112)) =%Y"
    " GROUP BY TC006",
    "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M301' XX001,%Y XX002,:Month XX003,"
    "ROUND(SUM(TG045+TG046),2) XX004,TG006 XX005,'' XX006 FROM COPTG WHERE TG023 = 'Y' AND"
    " TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' ,'C059' ,'C108'"
    " ,'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998') AND TG004 NOT LIKE 'A%'"
    " AND DATEPART ( YEAR , convert(datetime,TG003,112)) =%Y AND DATEPART ( Month ,"
    " convert(datetime,TG003,112)) =%P GROUP BY TG006",
    "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values ('C_QVT','1','W101',%Y,:Week)",
    "Select XY001 FROM FADMXY Where COMPANY = 'C_QVT' AND XY001 = 'W101' AND XY002 = :XY002"
    " AND XY003 = :XY003",
    "select DT002, DATEPART(%D, :A), DATEPART(%D, convert(datetime, :A, 112)),"
    " convert(datetime, :A, 112), ROUND(:A, 2), ROUND(:A, -1, 1) from (select %P DT002)"
    " WHERE DATEPART(%D, :A) = %Y OR DATEPART(Week, convert(datetime, :A, 112)) IN (%Y, %P)",
    "SELECT ROUND(SUM(%E), 2), SUM(%E), ROUND(%E, 0, 1), ROUND(SUM(%E), %P) FROM COPTC"
    " WHERE %E = %Y",
};

struct Budget
{
    int steps = 0;
};

// Ends a statement that runs away (a raw expression can hold a recursive query).
int progress(void *budget)
{
    return ++static_cast<Budget *>(budget)->steps > 20000;
}

sqlite3 *database(Budget &budget)
{
    static sqlite3 *db = [&budget] {
        sqlite3 *opened = nullptr;
        if (sqlite3_open(":memory:", &opened) != SQLITE_OK)
            std::abort();
        sqlcompat::install(opened);
        if (sqlite3_exec(opened, Schema, nullptr, nullptr, nullptr) != SQLITE_OK)
            std::abort();
        // No fuzzed expression may build values of a gigabyte.
        sqlite3_limit(opened, SQLITE_LIMIT_LENGTH, 1 << 20);
        sqlite3_progress_handler(opened, 100, progress, &budget);
        return opened;
    }();
    return db;
}

std::vector<std::string> fields(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> result(FieldCount);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' && field + 1 < FieldCount)
            ++field;
        else
            result[field] += char(data[i]);
    }
    return result;
}

QString literal(const std::string &text)
{
    QString value = QString::fromUtf8(text);
    value.replace(u'\'', QLatin1String("''"));
    return u'\'' + value + u'\'';
}

// One pass, so that a field holding "%P" stays text.
QString statement(const char *pattern, const std::vector<std::string> &f)
{
    QString sql;
    for (const char *p = pattern; *p; ++p) {
        if (*p != '%' || !p[1]) {
            sql += QLatin1Char(*p);
            continue;
        }
        switch (*++p) {
        case 'Y':
            sql += literal(f[0]);
            break;
        case 'P':
            sql += literal(f[1]);
            break;
        case 'E':
            sql += QString::fromUtf8(f[8]);
            break;
        case 'D':
            sql += QString::fromUtf8(f[9]);
            break;
        default: // "LIKE 'A%'"
            sql += QLatin1Char('%');
            sql += QLatin1Char(*p);
        }
    }
    return sql;
}

void run(sqlite3 *db, Budget &budget, const QString &sql, const std::vector<std::string> &bound,
         const std::vector<std::string> &f)
{
    const QString text = sqlcompat::translate(dm::parseMarkers(sql).text);
    const QByteArray utf8 = text.toUtf8();
    sqlite3_stmt *statement = nullptr;
    budget.steps = 0;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(statement);
        return;
    }
    const int parameters = sqlite3_bind_parameter_count(statement);
    for (int i = 1; i <= parameters; ++i) {
        const std::string &value = bound[size_t(i - 1) % bound.size()];
        switch (i % 3) {
        case 0: // the windows's spin boxes bind 32-bit integers
            sqlite3_bind_int(statement, i, int(std::strtol(f[1].c_str(), nullptr, 10)));
            break;
        case 1:
            sqlite3_bind_text(statement, i, value.data(), int(value.size()), SQLITE_TRANSIENT);
            break;
        default:
            sqlite3_bind_double(statement, i, std::strtod(value.c_str(), nullptr));
            break;
        }
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(statement); ++c)
            sqlite3_column_text(statement, c);
    }
    sqlite3_finalize(statement);
}

void addRows(sqlite3 *db, const std::vector<std::string> &f)
{
    sqlite3_exec(db,
                 "DELETE FROM COPTC; DELETE FROM COPTG; DELETE FROM FADMXX; DELETE FROM FADMXY;"
                 "INSERT INTO COPTC VALUES ('3221','20240605','S01',1,'Y',10.5,0.5,2);"
                 "INSERT INTO COPTG VALUES ('20240605','C100','G01','Y',30,1.5);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *order = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO COPTC VALUES ('3221',?1,'S01',?4,'Y',?2,?3,?5)", -1, &order,
                       nullptr);
    sqlite3_stmt *invoice = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO COPTG VALUES (?1,'C100','G01','Y',?2,?3)", -1, &invoice,
                       nullptr);
    // Once as texts, as a client would store them, once as the doubles their bytes make.
    for (int asDouble = 0; asDouble < 2; ++asDouble) {
        for (sqlite3_stmt *insert : {order, invoice}) {
            sqlite3_reset(insert);
            sqlite3_bind_text(insert, 1, f[3].data(), int(f[3].size()), SQLITE_TRANSIENT);
            for (int i = 2; i <= sqlite3_bind_parameter_count(insert); ++i) {
                const std::string &value = f[size_t(i) + 2];
                if (!asDouble) {
                    sqlite3_bind_text(insert, i, value.data(), int(value.size()), SQLITE_TRANSIENT);
                    continue;
                }
                double number = 0;
                std::memcpy(&number, (value + std::string(8, '\0')).data(), sizeof number);
                sqlite3_bind_double(insert, i, number);
            }
            sqlite3_step(insert);
        }
    }
    sqlite3_finalize(order);
    sqlite3_finalize(invoice);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Budget budget;
    sqlite3 *db = database(budget);
    const std::vector<std::string> f = fields(data, size);
    addRows(db, f);
    const std::vector<std::string> bound = {f[2], f[0], f[1]};
    for (const char *pattern : Statements)
        run(db, budget, statement(pattern, f), bound, f);
    return 0;
}
