#include "company_database.h"
#include "recording_boxes.h"

#include "dm/settings.h"
#include "dm/shared_values.h"
#include "gui/main_form.h"
#include "gui/spin_edit.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

class StartupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (dm::configuredBackend() != dm::Backend::Embedded)
            GTEST_SKIP() << "built for a database server";
        resetSharedValues();
    }

    void start(QDate today)
    {
        form = std::make_unique<TForm1>(boxes, [today] { return today; });
    }

    QStringList items() const
    {
        QStringList entries;
        for (int i = 0; i < form->ComboBox1->count(); ++i)
            entries << form->ComboBox1->itemText(i);
        return entries;
    }

    // What a start that ends before the period is proposed leaves on the window.
    void expectDesignValues()
    {
        EXPECT_EQ(form->Edit1->text(), "");
        EXPECT_EQ(form->MSpinEdit->text(), "1");
        EXPECT_EQ(form->MSpinEdit->minValue(), 1);
        EXPECT_EQ(form->MSpinEdit->maxValue(), 12);
        EXPECT_EQ(form->WSpinEdit->text(), "1");
        EXPECT_EQ(form->WSpinEdit->minValue(), 1);
        EXPECT_EQ(form->WSpinEdit->maxValue(), 53);
        EXPECT_EQ(form->StaticText1->text(), "StaticText1");
        EXPECT_EQ(form->StaticText2->text(), "StaticText2");
        EXPECT_EQ(form->ComboBox1->count(), 0);
        EXPECT_EQ(RocYearText, "");
        EXPECT_EQ(WeekEndText, "");
    }

    // The window goes before the database it works on.
    RecordingBoxes boxes;
    std::optional<CompanyDatabase> db;
    std::unique_ptr<TForm1> form;
};

TEST_F(StartupTest, ANormalStartProposesLastWeekFillsTheListAndEmptiesTheSummaryTables)
{
    db.emplace();
    db->addCalendar(2025, 2027);
    db->addItem("'40'", "'A1'", "'Alpha'");
    db->addItem("'41'", "'B2'", "'Beta'");
    db->addSummaryRows();
    start(QDate(2026, 12, 8));

    EXPECT_EQ(boxes.shown, QStringList());
    EXPECT_EQ(CompanyCode, "C_QVT");
    EXPECT_EQ(CurYear, 2026);
    EXPECT_EQ(CurMonth, 12);
    EXPECT_EQ(CurDay, 8);
    EXPECT_EQ(TodayText, "20261208");
    EXPECT_EQ(CurWeek, 50);
    EXPECT_EQ(RocYearText, "115");
    EXPECT_EQ(WeekEndText, "20261205");
    EXPECT_EQ(form->Edit1->text(), "2026");
    EXPECT_EQ(form->WSpinEdit->text(), "49");
    EXPECT_EQ(form->WSpinEdit->maxValue(), 49);
    EXPECT_EQ(form->MSpinEdit->text(), "12");
    EXPECT_EQ(form->MSpinEdit->maxValue(), 12);
    EXPECT_EQ(form->StaticText1->text(), "11/29/26"); // the pinned locale's short dates
    EXPECT_EQ(form->StaticText2->text(), "12/5/26");
    EXPECT_EQ(items(), QStringList({"A1_Alpha", "B2_Beta"}));
    EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(db->summaryRows(), 0);
    EXPECT_EQ(dm::FDM->PUB_DB.connectionString(), dm::companyConnectionString());
}

struct WorkedDay
{
    QDate today;
    int curWeek;
    const char *year;
    int week, weekMax;
    const char *first, *last, *weekEnd;
    int month, monthMax;
    const char *rocYear;
};

void PrintTo(const WorkedDay &day, std::ostream *os)
{
    *os << day.today.toString(Qt::ISODate).toStdString();
}

class WorkedDays : public StartupTest, public ::testing::WithParamInterface<WorkedDay>
{
};

TEST_P(WorkedDays, ProposeThePeriodThroughTheWindow)
{
    const WorkedDay &day = GetParam();
    db.emplace();
    db->addCalendar(2021, 2027);
    start(day.today);

    EXPECT_EQ(boxes.shown, QStringList());
    EXPECT_EQ(CurWeek, day.curWeek);
    EXPECT_EQ(form->Edit1->text(), day.year);
    EXPECT_EQ(form->WSpinEdit->value(), day.week);
    EXPECT_EQ(form->WSpinEdit->minValue(), 1);
    EXPECT_EQ(form->WSpinEdit->maxValue(), day.weekMax);
    EXPECT_EQ(form->StaticText1->text(), day.first);
    EXPECT_EQ(form->StaticText2->text(), day.last);
    EXPECT_EQ(WeekEndText, day.weekEnd);
    EXPECT_EQ(form->MSpinEdit->value(), day.month);
    EXPECT_EQ(form->MSpinEdit->minValue(), 1);
    EXPECT_EQ(form->MSpinEdit->maxValue(), day.monthMax);
    EXPECT_EQ(RocYearText, day.rocYear);
}

INSTANTIATE_TEST_SUITE_P(
    StartupTest, WorkedDays,
    ::testing::Values(
        WorkedDay{
            {2026, 12, 8}, 50, "2026", 49, 49, "11/29/26", "12/5/26", "20261205", 12, 12, "115"},
        WorkedDay{{2026, 3, 2}, 10, "2026", 9, 9, "2/22/26", "2/28/26", "20260228", 2, 3, "115"},
        WorkedDay{{2026, 1, 5}, 2, "2026", 1, 1, "12/28/25", "1/3/26", "20260103", 1, 1, "115"},
        WorkedDay{{2026, 1, 2}, 1, "2025", 53, 53, "12/28/25", "1/3/26", "20260103", 1, 12, "114"},
        WorkedDay{
            {2023, 1, 5}, 1, "2022", 53, 53, "12/25/22", "12/31/22", "20221231", 12, 12, "111"}),
    [](const ::testing::TestParamInfo<WorkedDay> &info) {
        return "Today" + info.param.today.toString(QStringLiteral("yyyyMMdd")).toStdString();
    });

TEST_F(StartupTest, OddCalendarWeekNumbersAreClampedByTheDesignRange)
{
    {
        db.emplace();
        db->addWeek(2026, "60", {2026, 12, 1}, {2026, 12, 31});
        start(QDate(2026, 12, 8));
        EXPECT_EQ(form->WSpinEdit->text(), "53");
        EXPECT_EQ(form->WSpinEdit->maxValue(), 59);
        EXPECT_EQ(WeekEndText, "20270102"); // week 53 of 2026
        EXPECT_EQ(form->MSpinEdit->text(), "1");
    }
    {
        db.emplace();
        db->addWeek(2026, "0", {2026, 12, 1}, {2026, 12, 31});
        start(QDate(2026, 12, 8));
        EXPECT_EQ(form->WSpinEdit->text(), "1");
        EXPECT_EQ(form->WSpinEdit->minValue(), 1);
        EXPECT_EQ(form->WSpinEdit->maxValue(), -1);
        EXPECT_EQ(WeekEndText, "20260103");
    }
    EXPECT_EQ(boxes.shown, QStringList());
}

TEST_F(StartupTest, AMissingDatabaseFileStopsAtTheFirstStatement)
{
    db.emplace(false);
    start(QDate(2026, 12, 8));
    EXPECT_EQ(
        boxes.shown,
        QStringList("error:" +
                    QStringLiteral("The database file '%1' does not exist").arg(db->linkPath())));
    EXPECT_FALSE(QFile::exists(db->linkPath())) << "no empty database is made";
    EXPECT_EQ(CompanyCode, "C_QVT");
    EXPECT_EQ(TodayText, "20261208");
    EXPECT_EQ(CurWeek, 0);
    expectDesignValues();
}

// The site configuration is wrong: its box names the place, the database is never opened, and
// the window opens all the same.
TEST_F(StartupTest, AWrongConfigurationStopsTheStartWithItsPlace)
{
    db.emplace();
    db->addCalendar(2025, 2027);
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("salestotals.conf")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("backend = embedded\nbackend = sqlserver\n");
    config.close();
    qputenv("SALESTOTALS_CONFIG", config.fileName().toLocal8Bit());
    EXPECT_FALSE(dm::loadSettings());
    qunsetenv("SALESTOTALS_CONFIG");
    start(QDate(2026, 12, 8));
    dm::useSettings(dm::Settings());
    EXPECT_EQ(boxes.shown,
              QStringList("error:" + config.fileName() +
                          QStringLiteral(":2: 'backend' is given twice (first on line 1)")));
    EXPECT_EQ(CurWeek, 0);
    EXPECT_FALSE(dm::FDM->PUB_DB.connected());
    expectDesignValues();
}

TEST_F(StartupTest, AnEmptyCalendarStopsTheStartAndLaterWeekChangesFailOnTheEmptyYear)
{
    db.emplace();
    db->addItem("'40'", "'A1'", "'Alpha'");
    db->addSummaryRows();
    start(QDate(2026, 12, 8));
    EXPECT_EQ(boxes.shown, QStringList("error:Invalid variant type conversion"));
    expectDesignValues();
    EXPECT_EQ(db->summaryRows(), 2);

    boxes.shown.clear();
    form->WSpinEdit->stepUp();
    EXPECT_EQ(boxes.shown, QStringList("error:'' is not a valid integer value"));
    EXPECT_EQ(form->StaticText1->text(), "StaticText1");
    EXPECT_EQ(form->MSpinEdit->text(), "1");
}

TEST_F(StartupTest, ACalendarWeekThatIsNotANumberStopsTheStart)
{
    db.emplace();
    db->addWeek(2026, "ab", {2026, 12, 6}, {2026, 12, 12});
    start(QDate(2026, 12, 8));
    EXPECT_EQ(boxes.shown, QStringList("error:'ab' is not a valid integer value"));
    EXPECT_EQ(CurWeek, 0);
    expectDesignValues();
}

class ItemListTest : public StartupTest
{
protected:
    void SetUp() override
    {
        StartupTest::SetUp();
        if (IsSkipped())
            return;
        db.emplace();
        db->addCalendar(2026, 2026);
        db->addSummaryRows();
    }
};

TEST_F(ItemListTest, EntriesAreTrimmedJoinedAndKeptInResultOrderWithDuplicates)
{
    db->addItem("'43'", "'Z9'", "'Last first'");
    db->addItem("'40'", "'  A1  '", "' B2\t'");
    db->addItem("'44'", "'X'", "'not listed'");
    db->addItem("NULL", "'X'", "'not listed'");
    db->addItem("'4'", "'X'", "'not listed'");
    db->addItem("'41'", "'C3'", "''");
    db->addItem("'42'", "''", "'   '");
    db->addItem("'40'", "'A1'", "'B2'");
    db->addItem("'41  '", "'D4'", "'blank-padded code'");
    db->addItem("'42'", "'E5'", "'名稱'");
    start(QDate(2026, 6, 15));
    EXPECT_EQ(boxes.shown, QStringList());
    EXPECT_EQ(items(), QStringList({"Z9_Last first", "A1_B2", "C3_", "_", "A1_B2",
                                    "D4_blank-padded code", "E5_名稱"}));
    EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(db->summaryRows(), 0);
}

TEST_F(ItemListTest, ANullTextStopsTheListAndTheStartWithNothingSelected)
{
    db->addItem("'40'", "'A1'", "'one'");
    db->addItem("'40'", "'A2'", "'two'");
    db->addItem("'41'", "'A3'", "NULL");
    db->addItem("'41'", "'A4'", "'four'");
    start(QDate(2026, 6, 15));
    EXPECT_EQ(boxes.shown, QStringList("error:Invalid variant type conversion"));
    EXPECT_EQ(items(), QStringList({"A1_one", "A2_two"}));
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);
    EXPECT_EQ(db->summaryRows(), 2) << "the summary tables are emptied only after the list";
    EXPECT_EQ(form->WSpinEdit->text(), "24") << "the steps before the list stay done";
}

TEST_F(ItemListTest, ANullCodeInTheFirstRowLeavesAnEmptyList)
{
    db->addItem("'42'", "NULL", "'x'");
    start(QDate(2026, 6, 15));
    EXPECT_EQ(boxes.shown, QStringList("error:Invalid variant type conversion"));
    EXPECT_EQ(form->ComboBox1->count(), 0);
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);
}

TEST_F(ItemListTest, AnEmptyResultLeavesAnEmptyListAndTheStartGoesOn)
{
    db->addItem("'39'", "'A1'", "'x'");
    start(QDate(2026, 6, 15));
    EXPECT_EQ(boxes.shown, QStringList());
    EXPECT_EQ(form->ComboBox1->count(), 0);
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);
    EXPECT_EQ(db->summaryRows(), 0);
}

TEST_F(ItemListTest, AMissingColumnStopsTheStart)
{
    db->exec(QStringLiteral("DROP TABLE FCMSFL; CREATE TABLE FCMSFL (FL000 TEXT, FL002 TEXT);"
                            "INSERT INTO FCMSFL VALUES ('40', 'x');"));
    start(QDate(2026, 6, 15));
    EXPECT_EQ(boxes.shown, QStringList("error:Field 'FL001' not found"));
    EXPECT_EQ(form->ComboBox1->count(), 0);
    EXPECT_EQ(db->summaryRows(), 2);
}

} // namespace
