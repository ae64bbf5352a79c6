// translate(): what it leaves alone, and that no text can make it fail or take long.
#include "test_db.h"

#include "sqlcompat/sqlcompat.h"
#include "sqlcompat/tokens.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <random>

using sqlcompat::translate;

TEST(Translate, LeavesStatementsWithoutServerFunctionsAlone)
{
    const char *statements[] = {
        "select DT002 from FCMSDT WHERE DT003 <='20261208' AND DT004 >='20261208'",
        " Select * from FCMSFL WHERE FL000 IN ('40','41','42','43')",
        "Delete from FADMXX",
        "Delete from FADMXY",
        "Select XY001 FROM FADMXY Where COMPANY = 'C_QVT' AND XY001 = 'M101' AND XY002 = ? AND "
        "XY003 = ?",
        "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values ('C_QVT','1','M101','2024',?)",
        "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values "
        "('C_QVT','1','Y301','2024','113')",
        "",
        "   ",
        "SELECT 1; -- done\n",
    };
    for (const char *statement : statements)
        EXPECT_EQ(translate(statement), statement);
}

TEST(Translate, LeavesQuotedTextAndCommentsAlone)
{
    const char *statements[] = {
        "SELECT 'DATEPART(YEAR, convert(datetime,x,112)) = ''5''' FROM t",
        "SELECT \"SUM(a)\", [ROUND(x,2)], \"DATEPART\"(Week, x) FROM t",
        "SELECT a FROM t -- SUM(b) ROUND(c, 2)\nWHERE b = 'it''s'",
        "SELECT a /* DATEPART(Month, convert(datetime,x,112)) = '5' */ FROM t",
        "SELECT 'unterminated SUM(a",
        "SELECT [unterminated SUM(a)",
        "SELECT a /* unterminated ROUND(b, 2)",
    };
    for (const char *statement : statements)
        EXPECT_EQ(translate(statement), statement);
}

TEST(Translate, LeavesUnknownFormsToSqlite)
{
    const char *statements[] = {
        "SELECT SUM(a/b) FROM t",
        "SELECT SUM(DISTINCT a) FROM t",
        "SELECT SUM(a) OVER (PARTITION BY b) FROM t",
        "SELECT SUM(CASE WHEN a > 0 THEN a END) FROM t",
        "SELECT SUM(a + 1e3) FROM t",
        "SELECT SUM(f(a)) FROM t",
        "SELECT convert(datetime, x) FROM t",
        "SELECT convert(varchar, x, 112) FROM t",
        "SELECT convert(datetime, x, 111) FROM t",
        "SELECT DATEPART(fortnight, x) FROM t",
        "SELECT DATEPART(YEAR) FROM t",
        "SELECT ROUND(x) FROM t",
        "SELECT ROUND(x, 1, 2, 3) FROM t",
        "SELECT SUM(a FROM t",
    };
    for (const char *statement : statements)
        EXPECT_EQ(translate(statement), statement);
}

TEST(Translate, DropsTheUnicodePrefixOfLiterals)
{
    CompatDb db;
    EXPECT_EQ(db.value("SELECT N'客戶' || n'''x'''"), "客戶'x'");
}

TEST(Translate, KeepsPlaceholdersInTheirOrder)
{
    CompatDb db;
    db.exec(QStringLiteral("INSERT INTO COPTC(TC003, TC006, TC029, TC030) VALUES "
                           "('20240518', 'G1', 2, 3), ('20240518', 'G2', 5, 7)"));
    const QString sql = QStringLiteral(
        "SELECT ?, ROUND(SUM(TC029*?), ?), SUM(TC030 - ?), ROUND(TC029 + ?, 0) FROM COPTC "
        "WHERE DATEPART(Month, convert(datetime, TC003, 112)) = ? AND TC006 = ?");
    const auto result = db.run(sql, {"first", 0.5, 0, 1, 0.5, "5", "g2"});
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.rows, (QVector<QStringList>{{"first", "3", "6", "6"}}));
    EXPECT_EQ(translate(sql).count(u'?'), sql.count(u'?'));
}

TEST(Translate, NestedCallsAreTranslatedInside)
{
    CompatDb db;
    EXPECT_EQ(db.value("SELECT ROUND(DATEPART(Week, convert(datetime, '20281231', 112)) * 1.005, "
                       "1)"),
              "54.3");
    db.exec(QStringLiteral("INSERT INTO COPTC(TC003) VALUES ('20240512'), ('20240518')"));
    EXPECT_EQ(db.value("SELECT DATEPART(Week, MAX(TC003)) FROM COPTC"), "20");
    EXPECT_EQ(db.value("SELECT SUM(DATEPART(day, convert(datetime, TC003, 112))) FROM COPTC"),
              "30");
}

TEST(Translate, NothingMovesPastAQuoteLeftOpen)
{
    // An open quote runs to the end; text moved after it would be swallowed, and quotes
    // further on would pair differently ('?' becoming a placeholder).
    auto placeholders = [](const QString &text) {
        int count = 0;
        for (const auto &token : sqlcompat::tokenize(text))
            count += token.kind == sqlcompat::TokenKind::Param;
        return count;
    };
    for (const char *text :
         {"SELECT a FROM t WHERE x IN ('?') AND DATEPART(YEAR, d) = '20",
          "SELECT a FROM t WHERE x = 'y' AND DATEPART(YEAR, d) = N'20",
          "SELECT a FROM t WHERE x = 'y' AND DATEPART(YEAR, d) = [20",
          "SELECT a FROM t WHERE x = 'y' AND DATEPART(YEAR, d) BETWEEN '1' AND '2"}) {
        const QString out = translate(text);
        EXPECT_EQ(placeholders(out), 0) << out.toStdString();
        EXPECT_TRUE(out.startsWith(QLatin1String("SELECT a FROM t WHERE x"))) << out.toStdString();
    }
}

TEST(Translate, TokensCoverTheTextWithoutGaps)
{
    const QString text = QStringLiteral("SELECT N'a''b', \"x\"\"y\", [p]]q], 1.5e+3, .5, 0x1F, ?, "
                                        "a<=b, c<>d, e!=f -- note\n /* c */ 客戶 'open");
    qsizetype expected = 0;
    QStringList pieces;
    for (const auto &token : sqlcompat::tokenize(text)) {
        ASSERT_EQ(token.begin, expected);
        ASSERT_GT(token.length, 0);
        expected += token.length;
        if (token.kind != sqlcompat::TokenKind::Blank)
            pieces << text.mid(token.begin, token.length);
    }
    EXPECT_EQ(expected, text.size());
    EXPECT_EQ(pieces,
              (QStringList{"SELECT", "N'a''b'", ",",  "\"x\"\"y\"", ",",    "[p]]q]", ",",
                           "1.5e+3", ",",       ".5", ",",          "0x1F", ",",      "?",
                           ",",      "a",       "<=", "b",          ",",    "c",      "<>",
                           "d",      ",",       "e",  "!=",         "f",    "客戶",   "'open"}));
}

TEST(Translate, NeverFailsAndStaysLinearOnHostileText)
{
    // Pieces of the dialect in random order, unbalanced on purpose.
    const QStringList pieces = {
        "DATEPART", "(",   ")",       ",",     "YEAR", "Week", "convert", "datetime", "112", "SUM",
        "ROUND",    "2",   "-",       "+",     "*",    "'5'",  "'",       "N'x'",     "?",   "=",
        "IN",       "NOT", "BETWEEN", "AND",   "OVER", "[",    "]",       "\"",       "--",  "/*",
        "*/",       " ",   "\n",      "TC003", ".",    "客",   "1e5",     "ALL"};
    std::mt19937 random(1);
    for (int i = 0; i < 20000; ++i) {
        QString text;
        for (int n = int(random() % 40); n > 0; --n)
            text += pieces[int(random() % pieces.size())] + (random() % 2 ? " " : "");
        translate(text); // must return; the fuzz target checks the same under sanitizers
    }
    const QStringList hostile = {
        QStringLiteral("(").repeated(200000),
        QStringLiteral("DATEPART(").repeated(50000),
        QStringLiteral("ROUND(").repeated(50000) + QStringLiteral(",1,1,1)").repeated(50000),
        QStringLiteral("SUM(a+").repeated(50000) + QStringLiteral("a)").repeated(50000),
        QStringLiteral("ROUND(SUM(a),2)+").repeated(50000) + QStringLiteral("0"),
        QStringLiteral("DATEPART(Week, convert(datetime, ").repeated(20000) +
            QStringLiteral("x, 112)) = '5'").repeated(20000),
        QStringLiteral("'").repeated(200001),
    };
    for (const QString &text : hostile) {
        QElapsedTimer timer;
        timer.start();
        const QString out = translate(text);
        EXPECT_LT(timer.elapsed(), 5000) << text.left(40).toStdString();
        EXPECT_FALSE(out.isEmpty());
    }
}

TEST(Translate, DateConditionsGoFirstWithoutChangingResults)
{
    CompatDb db;
    db.exec(QStringLiteral("INSERT INTO COPTC(TC001, TC003, TC027, TC031) VALUES "
                           "('A', '20240518', 'Y', 1), ('B', '20230518', 'N', 2), "
                           "('C', '20240101', 'N', 3), ('D', NULL, 'Y', 4), ('E', '', 'Y', 5)"));
    auto names = [&](const char *where) {
        const auto result = db.run(QStringLiteral("SELECT TC001 FROM COPTC WHERE %1 ORDER BY 1")
                                       .arg(QLatin1String(where)));
        EXPECT_TRUE(result.ok()) << result.error.toStdString();
        QStringList out;
        for (const QStringList &row : result.rows)
            out << row.value(0);
        return out.join(u',');
    };
    const char *year = "DATEPART ( YEAR , convert(datetime,TC003,112)) ='2024'";
    EXPECT_EQ(names(qPrintable(QStringLiteral("TC027 = 'Y' AND %1").arg(year))), "A");
    EXPECT_EQ(names(qPrintable(QStringLiteral("TC027 = 'N' OR %1").arg(year))), "A,B,C");
    EXPECT_EQ(names(qPrintable(QStringLiteral("TC031 BETWEEN 2 AND 3 AND %1").arg(year))), "C");
    EXPECT_EQ(names(qPrintable(QStringLiteral("(TC027 = 'N' OR TC031 = 1) AND %1 AND NOT "
                                              "TC031 BETWEEN 2 AND 2")
                                   .arg(year))),
              "A,C");
    EXPECT_EQ(names("TC031 > 1 AND '1900' = DATEPART(YEAR, convert(datetime,TC003,112)) AND "
                    "TC027 = 'Y'"),
              "E");
    // A consequence worth knowing: a text that is no date fails the statement even in a
    // row that the other conditions would skip, as the server is free to do too.
    db.exec(QStringLiteral("INSERT INTO COPTC(TC001, TC003, TC027) VALUES ('F', 'abc', 'N')"));
    EXPECT_EQ(
        db.run(QStringLiteral("SELECT TC001 FROM COPTC WHERE TC027 = 'Y' AND %1").arg(year)).error,
        "Conversion failed when converting date and/or time from character string.");
}
