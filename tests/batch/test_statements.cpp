#include "batch/catalogue.h"
#include "batch/statements.h"
#include "dm/error.h"
#include "dm/shared_values.h"
#include "dm/text.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

class Statements : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSharedValues();
        CompanyCode = QStringLiteral("C_QVT");
    }
    void TearDown() override { resetSharedValues(); }
};

struct Golden
{
    const char *code;
    const char *summary;
    const char *completion;
};

// Year "2024", month 6, week 23.
const Golden golden[] = {
    {"W101",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'W101' XX001,'2024' XX002,:Week "
     "XX003,SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y' AND TC001 IN "
     "('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) ='2024' AND DATEPART ( "
     "Week , convert(datetime,TC003,112)) ='23' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','W101','2024',:Week)"},
    {"W102",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'W102' XX001,'2024' XX002,:Week "
     "XX003,ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE "
     "TC027='Y' AND TC001 IN ('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) "
     "='2024' AND DATEPART ( Week , convert(datetime,TC003,112)) ='23' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','W102','2024',:Week)"},
    {"M101",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M101' XX001,'2024' XX002,:Month "
     "XX003,SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y' AND TC001 IN "
     "('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) ='2024' AND DATEPART ( "
     "Month , convert(datetime,TC003,112)) ='6' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','M101','2024',:Month)"},
    {"M102",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M102' XX001,'2024' XX002,:Month "
     "XX003,ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE "
     "TC027='Y' AND TC001 IN ('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) "
     "='2024' AND DATEPART ( Month , convert(datetime,TC003,112)) ='6' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','M102','2024',:Month)"},
    {"Y101",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y101' XX001,'2024' XX002,'113' "
     "XX003,SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y' AND TC001 IN "
     "('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) ='2024' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','Y101','2024','113')"},
    {"Y102",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y102' XX001,'2024' XX002,'113' "
     "XX003,ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE "
     "TC027='Y' AND TC001 IN ('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) "
     "='2024' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','Y102','2024','113')"},
    {"W103",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'W103' XX001,'2024' XX002,:Week "
     "XX003,ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE "
     "TC027='Y' AND TC001 IN ('2221','222U') AND DATEPART ( YEAR , convert(datetime,TC003,112)) "
     "='2024' AND DATEPART ( Week , convert(datetime,TC003,112)) ='23' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','W103','2024',:Week)"},
    {"M103",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M103' XX001,'2024' XX002,:Month "
     "XX003,ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE "
     "TC027='Y' AND TC001 IN ('2221','222U') AND DATEPART ( YEAR , convert(datetime,TC003,112)) "
     "='2024' AND DATEPART ( Month , convert(datetime,TC003,112)) ='6' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','M103','2024',:Month)"},
    {"Y103",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y103' XX001,'2024' XX002,'113' "
     "XX003,ROUND(SUM((TC029+TC030)*TC009),2) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE "
     "TC027='Y' AND TC001 IN ('2221','222U') AND DATEPART ( YEAR , convert(datetime,TC003,112)) "
     "='2024' GROUP BY TC006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','Y103','2024','113')"},
    {"W301",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'W301' XX001,'2024' XX002,:Week "
     "XX003,ROUND(SUM(TG045+TG046),2) XX004,TG006 XX005,'' XX006 FROM COPTG WHERE TG023 = 'Y' AND "
     "TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' ,'C059' ,'C108' "
     ",'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998') AND TG004 NOT LIKE 'A%' AND "
     "DATEPART ( YEAR , convert(datetime,TG003,112)) ='2024' AND DATEPART ( Week , "
     "convert(datetime,TG003,112)) ='23' GROUP BY TG006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','W301','2024',:Week)"},
    {"M301",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M301' XX001,'2024' XX002,:Month "
     "XX003,ROUND(SUM(TG045+TG046),2) XX004,TG006 XX005,'' XX006 FROM COPTG WHERE TG023 = 'Y' AND "
     "TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' ,'C059' ,'C108' "
     ",'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998') AND TG004 NOT LIKE 'A%' AND "
     "DATEPART ( YEAR , convert(datetime,TG003,112)) ='2024' AND DATEPART ( Month , "
     "convert(datetime,TG003,112)) ='6' GROUP BY TG006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','M301','2024',:Month)"},
    {"Y301",
     "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y301' XX001,'2024' XX002,'113' "
     "XX003,ROUND(SUM(TG045+TG046),2) XX004,TG006 XX005,'' XX006 FROM COPTG WHERE TG023 = 'Y' AND "
     "TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' ,'C059' ,'C108' "
     ",'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998') AND TG004 NOT LIKE 'A%' AND "
     "DATEPART ( YEAR , convert(datetime,TG003,112)) ='2024' GROUP BY TG006",
     "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
     "('C_QVT','1','Y301','2024','113')"},
};

// The statement with each text literal replaced by '?': what the database parses as SQL.
QString outsideLiterals(const QString &sql)
{
    QString out;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        if (sql.at(i) != u'\'') {
            out += sql.at(i);
            continue;
        }
        for (++i; i < sql.size(); ++i) {
            if (sql.at(i) == u'\'' && i + 1 < sql.size() && sql.at(i + 1) == u'\'')
                ++i;
            else if (sql.at(i) == u'\'')
                break;
        }
        out += QLatin1String("'?'");
    }
    return out;
}

} // namespace

TEST_F(Statements, EveryCodeSendsItsExactTexts)
{
    ASSERT_EQ(std::size(golden), batchCatalogue().size());
    for (std::size_t i = 0; i < std::size(golden); ++i) {
        const BatchDef &b = batchCatalogue()[i];
        SCOPED_TRACE(b.code.toStdString());
        EXPECT_EQ(b.code, QLatin1String(golden[i].code));
        FakePeriod period;
        const BatchStatements s = statementsFor(b, period);
        EXPECT_EQ(s.summary, QLatin1String(golden[i].summary));
        EXPECT_EQ(s.completion, QLatin1String(golden[i].completion));
        switch (b.kind) {
        case PeriodKind::Week:
            EXPECT_EQ(s.parameterName, QLatin1String("Week"));
            EXPECT_EQ(s.period, 23);
            break;
        case PeriodKind::Month:
            EXPECT_EQ(s.parameterName, QLatin1String("Month"));
            EXPECT_EQ(s.period, 6);
            break;
        case PeriodKind::Year:
            EXPECT_TRUE(s.parameterName.isEmpty());
            break;
        }
    }
}

TEST_F(Statements, WorkedExamples)
{
    FakePeriod may(QStringLiteral("2024"), 5, 1);
    const BatchStatements m101 = statementsFor(batchByCode(QStringLiteral("M101")), may);
    EXPECT_EQ(
        m101.summary,
        QLatin1String("Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M101' XX001,'2024' "
                      "XX002,:Month XX003,SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE "
                      "TC027='Y' AND TC001 IN ('3221','5221') AND DATEPART ( YEAR , "
                      "convert(datetime,TC003,112)) ='2024' AND DATEPART ( Month , "
                      "convert(datetime,TC003,112)) ='5' GROUP BY TC006"));
    EXPECT_EQ(m101.completion, QLatin1String("Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) "
                                             "Values ('C_QVT','1','M101','2024',:Month)"));
    EXPECT_EQ(m101.parameterName, QLatin1String("Month"));
    EXPECT_EQ(m101.period, 5);

    FakePeriod year(QStringLiteral("2024"));
    const BatchStatements y301 = statementsFor(batchByCode(QStringLiteral("Y301")), year);
    EXPECT_EQ(
        y301.summary,
        QLatin1String(
            "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y301' XX001,'2024' XX002,'113' "
            "XX003,ROUND(SUM(TG045+TG046),2) XX004,TG006 XX005,'' XX006 FROM COPTG WHERE TG023 = "
            "'Y' AND TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' "
            ",'C059' ,'C108' ,'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998') AND "
            "TG004 NOT LIKE 'A%' AND DATEPART ( YEAR , convert(datetime,TG003,112)) ='2024' "
            "GROUP BY TG006"));
    EXPECT_EQ(y301.completion, QLatin1String("Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) "
                                             "Values ('C_QVT','1','Y301','2024','113')"));
    EXPECT_TRUE(y301.parameterName.isEmpty());
}

TEST_F(Statements, YearTextIsTrimmed)
{
    for (const BatchDef &b : batchCatalogue()) {
        SCOPED_TRACE(b.code.toStdString());
        FakePeriod plain(QStringLiteral("2024"));
        const BatchStatements expected = statementsFor(b, plain);
        for (const char *typed : {" 2024 ", "\t2024\r\n", "2024  "}) {
            FakePeriod padded{QLatin1String(typed)};
            const BatchStatements s = statementsFor(b, padded);
            EXPECT_EQ(s.summary, expected.summary);
            EXPECT_EQ(s.completion, expected.completion);
        }
        EXPECT_EQ(summaryStatement(b, QStringLiteral(" 2024 "), 23, QStringLiteral("113")),
                  summaryStatement(b, QStringLiteral("2024"), 23, QStringLiteral("113")));
    }
}

TEST_F(Statements, PeriodNumberIsPlainDecimalAndBoundAsInteger)
{
    FakePeriod period(QStringLiteral("2024"), 3, 7);
    const BatchStatements w = statementsFor(batchByCode(QStringLiteral("W101")), period);
    EXPECT_TRUE(w.summary.contains(
        QLatin1String("DATEPART ( Week , convert(datetime,TC003,112)) ='7' GROUP BY")));
    EXPECT_FALSE(w.summary.contains(QLatin1String("'07'")));
    EXPECT_EQ(w.period, 7);
    const BatchStatements m = statementsFor(batchByCode(QStringLiteral("M301")), period);
    EXPECT_TRUE(m.summary.contains(
        QLatin1String("DATEPART ( Month , convert(datetime,TG003,112)) ='3' GROUP BY")));
    EXPECT_EQ(m.period, 3);
}

TEST_F(Statements, EachKindReadsOnlyItsOwnSpinBox)
{
    for (const BatchDef &b : batchCatalogue()) {
        SCOPED_TRACE(b.code.toStdString());
        FakePeriod period;
        const BatchStatements s = statementsFor(b, period);
        EXPECT_EQ(period.weekReads, b.kind == PeriodKind::Week ? 1 : 0);
        EXPECT_EQ(period.monthReads, b.kind == PeriodKind::Month ? 1 : 0);
        // A W statement never carries :Month and the reverse; Y carries neither.
        EXPECT_EQ(s.summary.count(QLatin1String(":Week")), b.kind == PeriodKind::Week ? 1 : 0);
        EXPECT_EQ(s.completion.count(QLatin1String(":Week")), b.kind == PeriodKind::Week ? 1 : 0);
        EXPECT_EQ(s.summary.count(QLatin1String(":Month")), b.kind == PeriodKind::Month ? 1 : 0);
        EXPECT_EQ(s.completion.count(QLatin1String(":Month")), b.kind == PeriodKind::Month ? 1 : 0);
    }
}

TEST_F(Statements, YearlyBatchesTakeTheRocYearOfTheYearFieldNow)
{
    // RocYearText from start-up is not what the yearly batches write.
    RocYearText = QStringLiteral("113");
    FakePeriod changed(QStringLiteral("2025"));
    const BatchStatements s = statementsFor(batchByCode(QStringLiteral("Y101")), changed);
    EXPECT_TRUE(s.summary.contains(QLatin1String("'2025' XX002,'114' XX003,")));
    EXPECT_TRUE(s.completion.endsWith(QLatin1String("'2025','114')")));

    FakePeriod notANumber(QStringLiteral("abc"));
    try {
        statementsFor(batchByCode(QStringLiteral("Y101")), notANumber);
        ADD_FAILURE() << "no failure for a year that is not a number";
    } catch (const dm::Error &e) {
        EXPECT_EQ(e.message(), QLatin1String("'abc' is not a valid integer value"));
    }
    // Weeks and months do not convert the year.
    EXPECT_NO_THROW(statementsFor(batchByCode(QStringLiteral("W101")), notANumber));
}

TEST_F(Statements, RocYearMatchesTheCompletionCheck)
{
    EXPECT_EQ(rocYearOf(QStringLiteral("2024")), QLatin1String("113"));
    EXPECT_EQ(rocYearOf(QStringLiteral(" 2024 ")), QLatin1String("113"));
    EXPECT_EQ(rocYearOf(QStringLiteral("1911")), QLatin1String("0"));
    EXPECT_EQ(rocYearOf(QStringLiteral("1900")), QLatin1String("-11"));
    EXPECT_EQ(rocYearOf(QStringLiteral("+2024")), QLatin1String("113"));
    // 32-bit arithmetic wraps at the bottom end.
    EXPECT_EQ(rocYearOf(QStringLiteral("-2147483648")), QLatin1String("2147481737"));
    EXPECT_THROW(rocYearOf(QStringLiteral("20 24")), dm::Error);
}

TEST_F(Statements, HostileYearTextStaysInsideItsLiteral)
{
    EXPECT_EQ(sqlTextLiteral(QStringLiteral("2024")), QLatin1String("'2024'"));
    EXPECT_EQ(sqlTextLiteral(QStringLiteral("O'Neil")), QLatin1String("'O''Neil'"));
    EXPECT_EQ(sqlTextLiteral(QString()), QLatin1String("''"));
    EXPECT_EQ(sqlTextLiteral(QStringLiteral("''")), QLatin1String("''''''"));

    const char *hostile[] = {
        "2024'; DELETE FROM FADMXY; --",
        "2024' OR '1'='1",
        "'",
        "''",
        "2024 -- rest",
        "2024' --",
        "2024 /* x */",
        "2024'/*",
        "*/'",
        "x');DROP TABLE FADMXX;--",
        "2024;",
        ":Month",
        "2024' GROUP BY TC006; SELECT '",
    };
    for (const BatchDef &b : batchCatalogue()) {
        FakePeriod plain(QStringLiteral("2024"));
        const BatchStatements expected = statementsFor(b, plain);
        for (const char *text : hostile) {
            SCOPED_TRACE(b.code.toStdString() + " with year " + text);
            FakePeriod period(QString::fromUtf8(text));
            if (b.kind == PeriodKind::Year) {
                // The yearly batches cannot even build their statements from such a year.
                EXPECT_THROW(statementsFor(b, period), dm::Error);
                continue;
            }
            const BatchStatements s = statementsFor(b, period);
            // The SQL around the literals is the same as for a year of digits.
            EXPECT_EQ(outsideLiterals(s.summary), outsideLiterals(expected.summary));
            EXPECT_EQ(outsideLiterals(s.completion), outsideLiterals(expected.completion));
            const QString literal = sqlTextLiteral(dm::trimText(QString::fromUtf8(text)));
            EXPECT_EQ(s.summary.count(literal), 2);
            EXPECT_EQ(s.completion.count(literal), 1);
        }
    }
}

TEST_F(Statements, Catalogue)
{
    QStringList codes;
    for (const BatchDef &b : batchCatalogue()) {
        codes << b.code;
        EXPECT_EQ(&batchByCode(b.code), &b);
        EXPECT_EQ(b.codeBoxAfterSummary, b.code == QLatin1String("W301"));
        const QChar letter = b.code.at(0);
        EXPECT_EQ(b.kind, letter == u'W'   ? PeriodKind::Week
                          : letter == u'M' ? PeriodKind::Month
                                           : PeriodKind::Year);
    }
    EXPECT_EQ(codes.join(u' '),
              QLatin1String("W101 W102 M101 M102 Y101 Y102 W103 M103 Y103 W301 M301 Y301"));
    try {
        batchByCode(QStringLiteral("w101"));
        ADD_FAILURE() << "a lower-case code was found";
    } catch (const dm::Error &e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
    EXPECT_THROW(batchByCode(QString()), dm::Error);
}
