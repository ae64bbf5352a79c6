#include "gui/app_title.h"
#include "gui/qt_boxes.h"

#include <gtest/gtest.h>

TEST(ErrorBoxText, AppendsAPeriodOnlyAfterACharacterThatSortsAfterIt)
{
    EXPECT_EQ(errorBoxText("'abc' is not a valid integer value"),
              "'abc' is not a valid integer value.");
    EXPECT_EQ(errorBoxText("Invalid argument to date encode"), "Invalid argument to date encode.");
    EXPECT_EQ(errorBoxText("ends with digit 7"), "ends with digit 7.");
    EXPECT_EQ(errorBoxText("/"), "/."); // 0x2F, just after "."
    // "." itself and everything before it in the code page get nothing.
    EXPECT_EQ(errorBoxText("Conversion failed."), "Conversion failed.");
    EXPECT_EQ(errorBoxText("Really!"), "Really!");
    EXPECT_EQ(errorBoxText("trailing blank "), "trailing blank ");
    EXPECT_EQ(errorBoxText("dash-"), "dash-");
    EXPECT_EQ(errorBoxText("comma,"), "comma,");
    EXPECT_EQ(errorBoxText("line\n"), "line\n");
    EXPECT_EQ(errorBoxText(""), "");
}

TEST(ErrorBoxText, AppendsAPeriodAfterADoubleByteCharacter)
{
    EXPECT_EQ(errorBoxText(QStringLiteral("資料無法新增")), QStringLiteral("資料無法新增."));
    EXPECT_EQ(errorBoxText(QStringLiteral("全形句號。")), QStringLiteral("全形句號。."));
}

TEST(ApplicationTitle, IsTheFileNameCutAtTheFirstDotWithTheRestInLowerCase)
{
    EXPECT_EQ(applicationTitle("/usr/bin/SalesTotals.exe"), "Salestotals");
    EXPECT_EQ(applicationTitle("/opt/app/salestotals"), "salestotals");
    EXPECT_EQ(applicationTitle("SALES.TOTALS.EXE"), "Sales");
    EXPECT_EQ(applicationTitle("/a.b/dir.x/Tool"), "Tool"); // dots in directories don't count
    EXPECT_EQ(applicationTitle("/home/x/.hidden"), "");
    EXPECT_EQ(applicationTitle("/usr/bin/ÄBC.exe"), "Äbc");
    EXPECT_EQ(applicationTitle(""), "");
}
