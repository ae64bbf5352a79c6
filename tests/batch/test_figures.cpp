// What the summary rows hold, computed by the embedded database as SQL Server would.
#include "batch_db.h"

using Figures = BatchDatabase;

TEST_F(Figures, QuantitiesAreSummedExactlyPerGroup)
{
    add(Order{.group = "S01", .quantity = "0.1"});
    add(Order{.group = "S01", .quantity = "0.2"});
    add(Order{.group = "S02", .quantity = "1.125"});
    add(Order{.group = "S02", .quantity = nullptr}); // ignored by SUM
    add(Order{.group = "S03", .quantity = nullptr}); // only nulls: the total is null
    run->W101();
    EXPECT_EQ(totals("W101"), (QStringList{"S01=0.3", "S02=1.125", "S03=<null>"}));
    EXPECT_EQ(listener.events, QStringList{"done W101 3"});
    EXPECT_EQ(db->rows(QStringLiteral("SELECT DISTINCT COMPANY, XX000, XX002, XX003, XX006 FROM "
                                      "FADMXX")),
              (QVector<QStringList>{{"C_QVT", "1", "2024", "23", ""}}));
}

TEST_F(Figures, AmountsAreRoundedHalfAwayFromZero)
{
    // (amount + tax) * rate, summed per group, then rounded to two places.
    add(Order{.group = "A", .amount = "1.00", .tax = "0", .rate = "1.005"});
    add(Order{.group = "B", .amount = "1.50", .tax = "0.50", .rate = "1.3375"});
    add(Order{.group = "C", .amount = "-1.00", .tax = "0", .rate = "0.125"});
    add(Order{.group = "D", .amount = "1.00", .tax = "0", .rate = "0.335"});
    add(Order{.group = "D", .amount = "2.00", .tax = "0", .rate = "0.335"});
    add(Order{.group = "E", .amount = "3.01", .tax = "0", .rate = "0.999999"});
    add(Order{
        .group = "F", .amount = "1.00", .tax = nullptr, .rate = "1"}); // the row's term is null
    add(Order{.group = "F", .amount = "4.00", .tax = "1.00", .rate = "2"});
    run->M102();
    EXPECT_EQ(totals("M102"),
              (QStringList{"A=1.01", "B=2.68", "C=-0.13", "D=1.01", "E=3.01", "F=10"}));
}

TEST_F(Figures, InvoiceTotalsAreRoundedSumsOfAmountAndTax)
{
    add(Invoice{.group = "G01", .amount = "10.00", .tax = "0.01"});
    add(Invoice{.group = "G01", .amount = "0.10", .tax = "0.20"});
    add(Invoice{.group = "G02", .amount = "-1.11", .tax = nullptr}); // null: no total
    add(Invoice{.group = "G03", .amount = "0.70", .tax = "0.10"});
    add(Invoice{.group = "G03", .amount = "0.10", .tax = "0.20"});
    run->Y301();
    EXPECT_EQ(totals("Y301"), (QStringList{"G01=10.31", "G02=<null>", "G03=1.1"}));
}

TEST_F(Figures, OrderTypeListsAndConfirmationFlag)
{
    // Each order in its own group, so that the totals show which ones were counted.
    add(Order{.type = "3221", .group = "t3221", .amount = "1", .quantity = "1"});
    add(Order{.type = "5221", .group = "t5221", .amount = "1", .quantity = "1"});
    add(Order{.type = "2221", .group = "t2221", .amount = "1", .quantity = "1"});
    add(Order{.type = "222U", .group = "t222U", .amount = "1", .quantity = "1"});
    add(Order{.type = "222u", .group = "lower222u", .amount = "1", .quantity = "1"});
    add(Order{.type = "3221 ", .group = "t3221_", .amount = "1", .quantity = "1"});
    add(Order{.type = " 3221", .group = "t_3221", .amount = "1", .quantity = "1"});
    add(Order{.type = "1221", .group = "t1221", .amount = "1", .quantity = "1"});
    add(Order{.type = nullptr, .group = "tnull", .amount = "1", .quantity = "1"});
    add(Order{.group = "fy", .amount = "1", .quantity = "1", .flag = "y"});
    add(Order{.group = "fY_", .amount = "1", .quantity = "1", .flag = "Y "});
    add(Order{.group = "fN", .amount = "1", .quantity = "1", .flag = "N"});
    add(Order{.group = "fnull", .amount = "1", .quantity = "1", .flag = nullptr});
    add(Order{.group = "fblank", .amount = "1", .quantity = "1", .flag = ""});
    run->W101();
    run->W103();
    EXPECT_EQ(totals("W101"), (QStringList{"fY_=1", "fy=1", "t3221=1", "t3221_=1", "t5221=1"}));
    EXPECT_EQ(totals("W103"), (QStringList{"lower222u=1", "t2221=1", "t222U=1"}));
}

TEST_F(Figures, ExcludedCustomersOfInvoices)
{
    const char *excluded[] = {"C000", "C0005", "C0007", "C003", "C015", "C016",
                              "C037", "C059",  "C108",  "C122", "C158", "C163",
                              "C190", "C198",  "C903",  "C997", "C998"};
    for (const char *customer : excluded)
        add(Invoice{.customer = customer, .group = "excluded", .amount = "1"});
    // Compared as SQL Server compares texts: case and trailing blanks do not count.
    add(Invoice{.customer = "c0005", .group = "excluded", .amount = "1"});
    add(Invoice{.customer = "C000  ", .group = "excluded", .amount = "1"});
    add(Invoice{.customer = "A001", .group = "excluded", .amount = "1"});
    add(Invoice{.customer = "a99", .group = "excluded", .amount = "1"});
    add(Invoice{.customer = "A", .group = "excluded", .amount = "1"});
    add(Invoice{.customer = nullptr, .group = "excluded", .amount = "1"});
    add(Invoice{.customer = "C0006", .group = "counted", .amount = "1"});
    add(Invoice{.customer = "C00", .group = "counted", .amount = "1"});
    add(Invoice{.customer = " C000", .group = "counted", .amount = "1"});
    add(Invoice{.customer = "BA01", .group = "counted", .amount = "1"});
    add(Invoice{.customer = "", .group = "counted", .amount = "1"});
    add(Invoice{.group = "flags", .amount = "1", .flag = "y"});
    add(Invoice{.group = "flags", .amount = "1", .flag = "N"});
    add(Invoice{.group = "flags", .amount = "1", .flag = nullptr});
    run->M301();
    EXPECT_EQ(totals("M301"), (QStringList{"counted=5", "flags=1"}));
}

TEST_F(Figures, GroupsThatCompareEqualAreOneGroup)
{
    add(Order{.group = "S01", .quantity = "1"});
    add(Order{.group = "s01", .quantity = "2"});
    add(Order{.group = "S01 ", .quantity = "4"});
    add(Order{.group = " S01", .quantity = "8"});
    run->Y101();
    const auto rows =
        db->rows(QStringLiteral("SELECT upper(rtrim(XX005)), XX004 FROM FADMXX ORDER BY XX004"));
    EXPECT_EQ(rows, (QVector<QStringList>{{"S01", "7"}, {" S01", "8"}}));
}

TEST_F(Figures, WeeksAcrossNewYear)
{
    add(Order{.date = "20251227", .group = "sat", .quantity = "1"});  // week 52 of 2025
    add(Order{.date = "20251228", .group = "sun", .quantity = "1"});  // week 53 of 2025
    add(Order{.date = "20251231", .group = "wed", .quantity = "1"});  // week 53 of 2025
    add(Order{.date = "20260101", .group = "thu", .quantity = "1"});  // week 1 of 2026
    add(Order{.date = "20260103", .group = "sat2", .quantity = "1"}); // week 1 of 2026
    add(Order{.date = "20260104", .group = "sun2", .quantity = "1"}); // week 2 of 2026
    period.year = QStringLiteral("2025");
    period.weekValue = 53;
    run->W101();
    EXPECT_EQ(totals("W101"), (QStringList{"sun=1", "wed=1"}));

    db->exec(QStringLiteral("DELETE FROM FADMXX"));
    period.year = QStringLiteral("2026");
    period.weekValue = 1;
    run->W101();
    EXPECT_EQ(totals("W101"), (QStringList{"sat2=1", "thu=1"}));
}

TEST_F(Figures, BlankDatesAreTheFirstOfJanuary1900AndNullDatesNothing)
{
    add(Order{.date = "", .group = "empty", .quantity = "1"});
    add(Order{.date = "        ", .group = "blanks", .quantity = "1"});
    add(Order{.date = nullptr, .group = "null", .quantity = "1"});
    add(Order{.date = "20240605", .group = "dated", .quantity = "1"});
    run->M101(); // 2024, month 6
    EXPECT_EQ(totals("M101"), QStringList{"dated=1"});

    period.year = QStringLiteral("1900");
    period.monthValue = 1;
    period.weekValue = 1;
    run->M101();
    run->W101();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT XX001, XX005 FROM FADMXX WHERE XX002 = '1900' "
                                      "ORDER BY XX001, XX005")),
              (QVector<QStringList>{
                  {"M101", "blanks"}, {"M101", "empty"}, {"W101", "blanks"}, {"W101", "empty"}}));
}

TEST_F(Figures, MonthlyFiguresDifferOnlyInCodeAndTotal)
{
    add(Order{.group = "S01", .amount = "10", .tax = "0.5", .quantity = "3"});
    run->M101();
    run->M102();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COMPANY,XX000,XX001,XX002,XX003,XX004,XX005,XX006 "
                                      "FROM FADMXX ORDER BY XX001")),
              (QVector<QStringList>{{"C_QVT", "1", "M101", "2024", "6", "3", "S01", ""},
                                    {"C_QVT", "1", "M102", "2024", "6", "10.5", "S01", ""}}));
}

TEST_F(Figures, AnImpossibleDateFailsTheWholeStatement)
{
    add(Order{.group = "S01", .quantity = "1"});
    add(Order{.date = "20240230", .group = "S02", .quantity = "1"});
    run->Y101();
    EXPECT_EQ(boxes.shown, (QStringList{"box Y101", "batchError"}));
    EXPECT_EQ(count(QStringLiteral("FADMXX")), 0);
    EXPECT_EQ(count(QStringLiteral("FADMXY")), 0);
}
