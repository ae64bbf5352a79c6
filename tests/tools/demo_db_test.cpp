#include "tools/demo_db.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDate>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>

namespace {

using Rows = QVector<QStringList>;

// Reads a generated file with a plain SQLite connection; NULL reads as "<null>".
class Reader
{
public:
    explicit Reader(const QString &path)
    {
        EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READONLY,
                                  nullptr),
                  SQLITE_OK);
    }
    ~Reader() { sqlite3_close(m_db); }

    Rows rows(const char *sql) const
    {
        Rows result;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(m_db) << " in " << sql;
            return result;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i)
                row << (sqlite3_column_type(stmt, i) == SQLITE_NULL
                            ? QStringLiteral("<null>")
                            : QString::fromUtf8(
                                  reinterpret_cast<const char *>(sqlite3_column_text(stmt, i))));
            result << row;
        }
        sqlite3_finalize(stmt);
        return result;
    }

    QString value(const char *sql) const
    {
        const Rows r = rows(sql);
        return r.isEmpty() ? QString() : r.first().first();
    }

    // Values of the first column (ask for DISTINCT ... COLLATE BINARY to tell spellings apart).
    QSet<QString> distinct(const char *sql) const
    {
        QSet<QString> result;
        for (const QStringList &row : rows(sql))
            result << row.first();
        return result;
    }

private:
    sqlite3 *m_db = nullptr;
};

class DemoDb : public ::testing::Test
{
protected:
    QString create(qint64 rows, quint64 seed = demodb::DefaultSeed,
                   const QString &name = QStringLiteral("QVT.sqlite"))
    {
        demodb::Options options;
        options.path = m_dir.filePath(name);
        options.rows = rows;
        options.seed = seed;
        const demodb::Summary summary = demodb::createDemoDatabase(options);
        EXPECT_EQ(summary.orders, rows);
        EXPECT_EQ(summary.invoices, rows);
        return options.path;
    }

    QTemporaryDir m_dir;
};

QDate date(const QString &text)
{
    return QDate::fromString(text, QStringLiteral("yyyyMMdd"));
}

// Week of the year as the database counts it with Sunday as the first day of the week.
int weekOf(const QDate &d)
{
    const int jan1Offset = QDate(d.year(), 1, 1).dayOfWeek() % 7; // Sunday 0
    return (d.dayOfYear() - 1 + jan1Offset) / 7 + 1;
}

TEST_F(DemoDb, CalendarHoldsEachDayOnceNumberedByTheWeekRule)
{
    const Reader db(create(0));
    const Rows weeks = db.rows("SELECT DT001, DT002, DT003, DT004 FROM FCMSDT ORDER BY DT003");
    ASSERT_FALSE(weeks.isEmpty());
    QDate expectedFirst(demodb::FirstCalendarYear, 1, 1);
    std::map<int, int> rowsPerYear;
    for (const QStringList &w : weeks) {
        const QDate first = date(w[2]);
        const QDate last = date(w[3]);
        ASSERT_EQ(first, expectedFirst) << w.join(QLatin1Char(' ')).toStdString();
        ASSERT_TRUE(last.isValid() && first <= last && first.daysTo(last) <= 6);
        EXPECT_EQ(first.year(), last.year());
        EXPECT_EQ(w[0], QString::number(first.year()));
        EXPECT_EQ(w[1], QString::number(weekOf(first)));
        EXPECT_EQ(weekOf(first), weekOf(last));
        // Weeks break only at Saturdays and at the end of a year.
        EXPECT_TRUE(last.dayOfWeek() == 6 || (last.month() == 12 && last.day() == 31));
        ++rowsPerYear[first.year()];
        expectedFirst = last.addDays(1);
    }
    EXPECT_EQ(expectedFirst, QDate(demodb::LastCalendarYear + 1, 1, 1));
    for (const auto &[year, count] : rowsPerYear)
        EXPECT_TRUE(count == 53 || count == 54) << year << ": " << count;
    EXPECT_EQ(rowsPerYear.size(),
              std::size_t(demodb::LastCalendarYear - demodb::FirstCalendarYear + 1));

    // The turn of 2025/2026 is one Sunday-to-Saturday week in two rows; 2028 ends in week 54.
    EXPECT_EQ(db.rows("SELECT DT001, DT002, DT004 FROM FCMSDT WHERE DT003 = '20251228'"),
              Rows({{"2025", "53", "20251231"}}));
    EXPECT_EQ(db.rows("SELECT DT001, DT002, DT004 FROM FCMSDT WHERE DT003 = '20260101'"),
              Rows({{"2026", "1", "20260103"}}));
    EXPECT_EQ(
        db.value("SELECT DT002 FROM FCMSDT WHERE DT003 <= '20281231' AND DT004 >= '20281231'"),
        QStringLiteral("54"));
    EXPECT_EQ(
        db.value("SELECT DT002 FROM FCMSDT WHERE DT003 <= '20261208' AND DT004 >= '20261208'"),
        QStringLiteral("50"));
}

// What the batches must tell apart, checked on the default size and on a small table,
// where the last rows make up for values that did not come up by chance.
void expectEveryFilterValue(const Reader &db)
{
    const QSet<QString> types = db.distinct("SELECT DISTINCT TC001 COLLATE BINARY FROM COPTC");
    for (const char *t : {"3221", "5221", "2221", "222U", "222u", "3221 ", "1221"})
        EXPECT_TRUE(types.contains(QString::fromLatin1(t))) << t;

    for (const char *sql : {"SELECT DISTINCT TC027 COLLATE BINARY FROM COPTC",
                            "SELECT DISTINCT TG023 COLLATE BINARY FROM COPTG"}) {
        const QSet<QString> flags = db.distinct(sql);
        for (const char *f : {"Y", "N", "y", "Y ", "<null>"})
            EXPECT_TRUE(flags.contains(QString::fromLatin1(f))) << sql << ": " << f;
    }

    const QSet<QString> customers = db.distinct("SELECT DISTINCT TG004 COLLATE BINARY FROM COPTG");
    for (const char *c : {"C000", "C0005", "C0007", "C003",   "C015",  "C016", "C037", "C059",
                          "C108", "C122",  "C158",  "C163",   "C190",  "C198", "C903", "C997",
                          "C998", "C0006", "c003",  "C000  ", " C000", "A001", "a099", "<null>"})
        EXPECT_TRUE(customers.contains(QString::fromLatin1(c))) << c;
    EXPECT_GT(
        db.value("SELECT COUNT(DISTINCT TG004) FROM COPTG WHERE TG004 GLOB 'C1[0-9][0-9][0-9]'")
            .toInt(),
        0);

    for (const char *sql : {"SELECT DISTINCT TC006 COLLATE BINARY FROM COPTC",
                            "SELECT DISTINCT TG006 COLLATE BINARY FROM COPTG"}) {
        const QSet<QString> keys = db.distinct(sql);
        EXPECT_GE(keys.size(), 30) << sql;
        EXPECT_TRUE(keys.contains(QStringLiteral("s03")) && keys.contains(QStringLiteral("S03 ")))
            << sql;
    }

    for (const char *sql : {"SELECT DISTINCT TC003 COLLATE BINARY FROM COPTC",
                            "SELECT DISTINCT TG003 COLLATE BINARY FROM COPTG"}) {
        const QSet<QString> dates = db.distinct(sql);
        EXPECT_TRUE(dates.contains(QStringLiteral("<null>")) && dates.contains(QString()) &&
                    dates.contains(QStringLiteral("        ")))
            << sql;
        // Any other date text would fail every statement that converts it.
        for (const QString &d : dates) {
            if (d == QLatin1String("<null>") || d.trimmed().isEmpty())
                continue;
            const QDate parsed = date(d);
            EXPECT_TRUE(d.size() == 8 && parsed.isValid() &&
                        parsed.year() >= demodb::FirstSalesYear &&
                        parsed.year() <= demodb::LastSalesYear)
                << d.toStdString();
        }
    }
}

TEST_F(DemoDb, SalesRowsHoldEveryValueTheFiltersTellApart)
{
    const Reader db(create(demodb::DefaultRows));
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTC"), QString::number(demodb::DefaultRows));
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTG"), QString::number(demodb::DefaultRows));
    expectEveryFilterValue(db);
    EXPECT_EQ(db.distinct("SELECT DISTINCT substr(TC003, 1, 4) FROM COPTC WHERE TC003 > '2'"),
              QSet<QString>({"2024", "2025", "2026", "2027"}));
    for (const char *column : {"TC009", "TC029", "TC030", "TC031"}) {
        const QString sql =
            QStringLiteral("SELECT COUNT(*) FROM COPTC WHERE %1 IS NULL").arg(column);
        EXPECT_GT(db.value(sql.toUtf8().constData()).toInt(), 0) << column;
    }
    EXPECT_GT(db.value("SELECT COUNT(*) FROM COPTG WHERE TG045 IS NULL").toInt(), 0);
    EXPECT_GT(db.value("SELECT COUNT(*) FROM COPTC WHERE TC009 <> 1").toInt(), 0);
}

TEST_F(DemoDb, SmallTablesStillHoldEveryFilterValue)
{
    const Reader db(create(300));
    expectEveryFilterValue(db);
}

TEST_F(DemoDb, AmountsAreNumbersWithTheirColumnsDecimals)
{
    const Reader db(create(5000));
    // Stored as numbers, never as texts, and no finer than the column's scale.
    EXPECT_EQ(
        db.value("SELECT COUNT(*) FROM COPTC WHERE typeof(TC009) = 'text' OR "
                 "typeof(TC029) = 'text' OR typeof(TC030) = 'text' OR typeof(TC031) = 'text'"),
        QStringLiteral("0"));
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTG WHERE typeof(TG045) = 'text' OR "
                       "typeof(TG046) = 'text'"),
              QStringLiteral("0"));
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTC WHERE abs(TC029*100 - round(TC029*100)) > 1e-6 "
                       "OR abs(TC030*100 - round(TC030*100)) > 1e-6 "
                       "OR abs(TC031*1000 - round(TC031*1000)) > 1e-6 "
                       "OR abs(TC009*1000000 - round(TC009*1000000)) > 1e-6"),
              QStringLiteral("0"));
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM COPTG WHERE abs(TG045*100 - round(TG045*100)) > 1e-6 "
                       "OR abs(TG046*100 - round(TG046*100)) > 1e-6"),
              QStringLiteral("0"));
    // Some of them use those decimals, and returns or credit notes are negative.
    EXPECT_GT(db.value("SELECT COUNT(*) FROM COPTC WHERE TC029*100 <> round(TC029)*100").toInt(),
              0);
    EXPECT_GT(db.value("SELECT COUNT(*) FROM COPTC WHERE TC031 <> round(TC031)").toInt(), 0);
    EXPECT_GT(
        db.value("SELECT COUNT(*) FROM COPTC WHERE TC009*10000 <> round(TC009*10000)").toInt(), 0);
    EXPECT_GT(db.value("SELECT COUNT(*) FROM COPTG WHERE TG045 < 0").toInt(), 0);
}

TEST_F(DemoDb, ListedItemsCanAllBeShown)
{
    const Reader db(create(0));
    // A null text in a listed row would stop the start-up; the demo must start.
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM FCMSFL WHERE rtrim(FL000) IN ('40','41','42','43') "
                       "AND (FL001 IS NULL OR FL002 IS NULL)"),
              QStringLiteral("0"));
    EXPECT_EQ(db.distinct("SELECT DISTINCT rtrim(FL000) FROM FCMSFL "
                          "WHERE rtrim(FL000) IN ('40','41','42','43')")
                  .size(),
              4);
    EXPECT_GT(
        db.value("SELECT COUNT(*) FROM FCMSFL WHERE FL000 NOT IN ('40','41','42','43')").toInt(),
        0);
    EXPECT_GT(db.value("SELECT COUNT(*) FROM FCMSFL WHERE FL001 <> trim(FL001)").toInt(), 0);
    EXPECT_GT(db.value("SELECT COUNT(*) FROM FCMSFL WHERE FL002 GLOB '*維修*'").toInt(), 0);
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

TEST_F(DemoDb, TheSeedDecidesTheData)
{
    const QString a = create(2000, 7, QStringLiteral("a.sqlite"));
    const QString b = create(2000, 7, QStringLiteral("b.sqlite"));
    const QString c = create(2000, 8, QStringLiteral("c.sqlite"));
    EXPECT_EQ(fileHash(a), fileHash(b));
    const char *dump = "SELECT TC001, TC003, TC006, TC029 FROM COPTC";
    EXPECT_NE(Reader(a).rows(dump), Reader(c).rows(dump));
    // A fixed point of the generator, so that a change of its numbers does not go unnoticed.
    demodb::Random rng(0);
    EXPECT_EQ(rng.next(), 0xE220A8397B1DCDAFULL);
}

TEST_F(DemoDb, NeverOverwritesAFile)
{
    const QString path = m_dir.filePath(QStringLiteral("taken.sqlite"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    demodb::Options options;
    options.path = path;
    try {
        demodb::createDemoDatabase(options);
        ADD_FAILURE() << "no failure";
    } catch (const dm::Error &e) {
        EXPECT_TRUE(e.message().contains(path)) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("already exists"))) << e.what();
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me"));

    options.path = m_dir.filePath(QStringLiteral("no/such/folder/QVT.sqlite"));
    EXPECT_THROW(demodb::createDemoDatabase(options), dm::Error);
    EXPECT_FALSE(QFile::exists(options.path));
}

TEST(DemoDbArguments, ReadsPathRowsAndSeed)
{
    demodb::Options o = demodb::parseArguments({"x.sqlite"});
    EXPECT_EQ(o.path, QStringLiteral("x.sqlite"));
    EXPECT_EQ(o.rows, demodb::DefaultRows);
    EXPECT_EQ(o.seed, demodb::DefaultSeed);
    o = demodb::parseArguments({"--rows", "1000000", "x.sqlite", "--seed=18446744073709551615"});
    EXPECT_EQ(o.rows, 1000000);
    EXPECT_EQ(o.seed, 18446744073709551615ULL);
    EXPECT_EQ(o.path, QStringLiteral("x.sqlite"));
    EXPECT_EQ(demodb::parseArguments({"--rows=0", "y"}).rows, 0);
    EXPECT_TRUE(demodb::parseArguments({"--help"}).help);
}

TEST(DemoDbArguments, RefusesWhatItCannotUse)
{
    const QList<QStringList> bad = {{},
                                    {"a", "b"},
                                    {"a", "--rows"},
                                    {"a", "--rows", "-5"},
                                    {"a", "--rows", "1e6"},
                                    {"a", "--rows", "100000001"},
                                    {"a", "--seed", "18446744073709551616"},
                                    {"a", "--seed", " 5"},
                                    {"a", "--size", "5"},
                                    {""}};
    for (const QStringList &args : bad)
        EXPECT_THROW(demodb::parseArguments(args), demodb::UsageError)
            << args.join(QLatin1Char(' ')).toStdString();
}

struct ToolRun
{
    int exitCode;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(DEMO_DB_TOOL), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(DemoDbCommand, CreatesOnceAndSaysWhyItStops)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QVT.sqlite"));
    ToolRun run = runTool({path, QStringLiteral("--rows"), QStringLiteral("100")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(path));
    EXPECT_EQ(Reader(path).value("SELECT COUNT(*) FROM COPTG"), QStringLiteral("100"));

    run = runTool({path});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("already exists"))) << run.err.toStdString();

    run = runTool({path, QStringLiteral("--rows"), QStringLiteral("many")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Usage:"))) << run.err.toStdString();

    run = runTool({QStringLiteral("--help")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage:"))) << run.out.toStdString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
