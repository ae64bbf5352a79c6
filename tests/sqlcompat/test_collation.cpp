// Texts under the server's default collation: case and trailing blanks ignored.
#include "test_db.h"

#include "sqlcompat/functions.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

using sqlcompat::compareText;

namespace {

int sign(int value)
{
    return (value > 0) - (value < 0);
}

class Collation : public ::testing::Test
{
protected:
    // Invoices (customer, group, flag); amounts 1 each.
    void invoices(std::initializer_list<std::array<const char *, 3>> rows)
    {
        for (const auto &row : rows) {
            const auto result = db.runPlain(
                QStringLiteral("INSERT INTO COPTG(TG003, TG004, TG006, TG023, TG045, TG046) "
                               "VALUES('20240518', ?, ?, ?, 1, 0)"),
                {row[0] ? QVariant(QString::fromUtf8(row[0])) : QVariant(),
                 QString::fromUtf8(row[1]), QString::fromUtf8(row[2])});
            ASSERT_TRUE(result.ok()) << result.error.toStdString();
        }
    }

    // The groups the filter selects, as "group:count" sorted by group.
    QString groups(const QString &filter)
    {
        const auto result = db.run(QStringLiteral("SELECT UPPER(RTRIM(TG006)), COUNT(*) FROM "
                                                  "COPTG WHERE %1 GROUP BY TG006 ORDER BY 1")
                                       .arg(filter));
        EXPECT_TRUE(result.ok()) << result.error.toStdString();
        QStringList out;
        for (const QStringList &row : result.rows)
            out << row.join(u':');
        return out.join(u' ');
    }

    CompatDb db;
};

} // namespace

TEST(CompareText, IgnoresCaseAndTrailingBlanksOnly)
{
    EXPECT_EQ(compareText("C000  ", "C000"), 0);
    EXPECT_EQ(compareText("c000", "C000 "), 0);
    EXPECT_EQ(compareText("y", "Y"), 0);
    EXPECT_EQ(compareText("", "   "), 0);
    EXPECT_NE(compareText(" C000", "C000"), 0);
    EXPECT_NE(compareText("C000\t", "C000"), 0);
    EXPECT_NE(compareText("C0005", "C000"), 0);
    EXPECT_LT(compareText("a", "B"), 0);
    EXPECT_GT(compareText("b", "A"), 0);
    EXPECT_LT(compareText("C00", "c000"), 0);
    // Beyond ASCII letters fold too, accents stay.
    EXPECT_EQ(compareText("ÉTÉ", "été "), 0);
    EXPECT_NE(compareText("ete", "été"), 0);
    EXPECT_EQ(compareText("客戶A", "客戶a"), 0);
    EXPECT_NE(compareText("客戶A", "客户A"), 0);
}

TEST(CompareText, IsATotalOrderAcrossAsciiAndBeyond)
{
    // GROUP BY sorts with it: it must be antisymmetric and transitive.
    const std::vector<std::string> alphabet = {"a", "A",  "z", "Z", " ", "0", "_", "é",   "É",
                                               "ß", "客", "K", "k", "Ω", "ω", "~", "\x7f"};
    std::mt19937 random(7);
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
        std::string text;
        for (int n = int(random() % 5); n > 0; --n)
            text += alphabet[random() % alphabet.size()];
        texts.push_back(text);
    }
    std::sort(texts.begin(), texts.end(),
              [](const std::string &a, const std::string &b) { return compareText(a, b) < 0; });
    for (size_t i = 0; i < texts.size(); ++i) {
        for (size_t j = i; j < texts.size(); ++j) {
            const int forward = sign(compareText(texts[i], texts[j]));
            ASSERT_EQ(forward, -sign(compareText(texts[j], texts[i])))
                << texts[i] << " / " << texts[j];
            ASSERT_LE(forward, 0) << texts[i] << " sorted before " << texts[j];
        }
    }
}

TEST_F(Collation, ComparisonsIgnoreCaseAndTrailingBlanks)
{
    invoices({{"C1", "S01", "Y"},
              {"C1", "S02", "y"},
              {"C1", "S03", "Y "},
              {"C1", "S04", " Y"},
              {"C1", "S05", "N"},
              {"C1", "S06", ""}});
    EXPECT_EQ(groups(QStringLiteral("TG023 = 'Y'")), "S01:1 S02:1 S03:1");
    EXPECT_EQ(groups(QStringLiteral("'y ' = TG023")), "S01:1 S02:1 S03:1");
    EXPECT_EQ(groups(QStringLiteral("TG023 <> 'Y'")), "S04:1 S05:1 S06:1");
    EXPECT_EQ(groups(QStringLiteral("TG023 = ''")), "S06:1");
}

TEST_F(Collation, InAndNotInMatchValueByValue)
{
    invoices({{"C000", "S01", "Y"},
              {"c000  ", "S02", "Y"},
              {" C000", "S03", "Y"},
              {"C0005", "S04", "Y"},
              {"C0006", "S05", "Y"},
              {"c998", "S06", "Y"},
              {nullptr, "S07", "Y"},
              {"C00", "S08", "Y"}});
    const QString excluded = QStringLiteral(
        "TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' ,'C059' ,'C108' "
        ",'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998')");
    EXPECT_EQ(groups(excluded), "S03:1 S05:1 S08:1");
    EXPECT_EQ(groups(QStringLiteral("TG004 IN ('C000', 'c0005')")), "S01:1 S02:1 S04:1");
    EXPECT_EQ(groups(QStringLiteral("TG004 IN ('C000 ')")), "S01:1 S02:1");
}

TEST_F(Collation, LikeIsCaseInsensitiveAndNullMatchesNeither)
{
    invoices({{"A1", "S01", "Y"},
              {"a99", "S02", "Y"},
              {" A1", "S03", "Y"},
              {"BA", "S04", "Y"},
              {nullptr, "S05", "Y"}});
    EXPECT_EQ(groups(QStringLiteral("TG004 LIKE 'A%'")), "S01:1 S02:1");
    EXPECT_EQ(groups(QStringLiteral("TG004 NOT LIKE 'A%'")), "S03:1 S04:1");
}

TEST_F(Collation, GroupByPutsEqualTextsInOneGroup)
{
    invoices({{"C1", "S01", "Y"},
              {"C1", "s01", "Y"},
              {"C1", "S01 ", "Y"},
              {"C1", " S01", "Y"},
              {"C1", "S02", "Y"}});
    const auto result = db.run(QStringLiteral(
        "SELECT TG006, ROUND(SUM(TG045+TG046),2) FROM COPTG GROUP BY TG006 ORDER BY 2 DESC, 1"));
    ASSERT_EQ(result.rows.size(), 3);
    EXPECT_EQ(compareText(result.rows[0][0].toStdString(), "S01"), 0);
    EXPECT_EQ(result.rows[0][1], "3");
    EXPECT_EQ(result.rows[1], (QStringList{" S01", "1"}));
    EXPECT_EQ(result.rows[2], (QStringList{"S02", "1"}));
    EXPECT_EQ(db.value("SELECT COUNT(*) FROM (SELECT DISTINCT TG006 FROM COPTG)"), "3");
}

TEST_F(Collation, CalendarAndItemLookups)
{
    db.exec(QStringLiteral("INSERT INTO FCMSDT VALUES "
                           "('2026', '49', '20261129', '20261205'), "
                           "('2026', '50', '20261206', '20261212 '), "
                           "('2026', '51', '20261213', '20261219')"));
    EXPECT_EQ(
        db.run("select DT002 from FCMSDT WHERE DT003 <='20261208' AND DT004 >='20261208'").rows,
        (QVector<QStringList>{{"50"}}));
    EXPECT_EQ(
        db.run("select DT002 from FCMSDT WHERE DT003 <='20261212' AND DT004 >='20261212'").rows,
        (QVector<QStringList>{{"50"}}));
    db.exec(QStringLiteral("INSERT INTO FCMSFL VALUES ('40', 'A1', 'B1'), ('41 ', 'A2', 'B2'), "
                           "(' 42', 'A3', 'B3'), ('44', 'A4', 'B4'), (NULL, 'A5', 'B5')"));
    EXPECT_EQ(db.run(" Select * from FCMSFL WHERE FL000 IN ('40','41','42','43')").rows,
              (QVector<QStringList>{{"40", "A1", "B1"}, {"41 ", "A2", "B2"}}));
}
