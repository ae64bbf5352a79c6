// The year field given hostile or odd texts through the real window: the week handler and
// the OK button either treat the text as the year it converts to or answer with their error,
// and nothing reaches a table it should not.
#include "company_database.h"
#include "recording_boxes.h"

#include "dm/shared_values.h"
#include "dm/text.h"
#include "gui/main_form.h"
#include "gui/spin_edit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

// What each part of the system makes of a year text (trimmed of codes 0-32).
enum class Kind {
    // A whole number in 1..9999 for the window, the same number for the database: the run is
    // the run for that year, with the text as typed in XX002 and XY002.
    Year2024,
    // No whole number for either: the week handler and the completion check of Y101 fail with
    // the integer message; the database refuses the weekly and monthly batches' year filter.
    NotANumber,
    // Empty (or a lone sign) after trimming: no whole number for the window, but 0 for the
    // database, so the weekly and monthly batches complete with no figures before the check
    // of Y101 fails.
    Zero,
    // A 32-bit whole number outside 1..9999: the week handler cannot encode its 1 January; the
    // run completes all twelve batches for that year, which has no figures.
    NotAYear,
};

struct Case
{
    QString text;
    Kind kind;
    const char *rocYear = nullptr; // NotAYear: the ROC year the yearly batches write
};

QString repeated(const char *piece, int times)
{
    return QString::fromUtf8(piece).repeated(times);
}

QString units(std::initializer_list<char16_t> codes)
{
    QString text;
    for (char16_t c : codes)
        text += QChar(c);
    return text;
}

std::vector<Case> cases()
{
    using enum Kind;
    const QString nul(QChar(u'\0'));
    return {
        // Blanks and control characters around a year are trimmed.
        {" 2024 ", Year2024},
        {"\t2024\r\n", Year2024},
        {nul + "2024" + nul, Year2024},
        {units({0x1b, 0x01}) + "2024" + units({0x1f, 0x7}), Year2024},
        {"+2024", Year2024},
        {"02024", Year2024},
        // Quotes, comments, statement ends and injection attempts.
        {"'", NotANumber},
        {"''", NotANumber},
        {"'2024'", NotANumber},
        {"\"2024\"", NotANumber},
        {"2024'", NotANumber},
        {"2024'; DROP TABLE FADMXY; --", NotANumber},
        {"2024' OR '1'='1", NotANumber},
        {"2024') GROUP BY TC006; DELETE FROM COPTC; --", NotANumber},
        {"' || (SELECT DT002 FROM FCMSDT) || '", NotANumber},
        {"2024 OR 1=1", NotANumber},
        {"2024--", NotANumber},
        {"2024 -- week", NotANumber},
        {"/*2024*/", NotANumber},
        {"2024/*", NotANumber},
        {"*/", NotANumber},
        {"2024;", NotANumber},
        {";", NotANumber},
        {"2024; DELETE FROM COPTC", NotANumber},
        {"2024\\", NotANumber},
        // Markers and placeholders inside the text stay text.
        {":Week", NotANumber},
        {"2024:XY002", NotANumber},
        {"?", NotANumber},
        {"%1 %s", NotANumber},
        // Numbers in other notations.
        {"2024.0", NotANumber},
        {"2024.", NotANumber},
        {"2,024", NotANumber},
        {"20 24", NotANumber},
        {"+ 2024", NotANumber},
        {"--2024", NotANumber},
        {"2024e0", NotANumber},
        {"0x7E8", NotANumber},
        {"$7E8", NotANumber},
        {"99999999999", NotANumber},
        {"2147483648", NotANumber},
        {"NULL", NotANumber},
        // Other alphabets, and characters above 32 that are not trimmed.
        {"２０２４", NotANumber},
        {"٢٠٢٤", NotANumber},
        {"二〇二四", NotANumber},
        {"民國113年", NotANumber},
        {"2024年", NotANumber},
        {QChar(0x3000) + QStringLiteral("2024"), NotANumber},
        {QChar(0xa0) + QStringLiteral("2024"), NotANumber},
        {"20" + QString(QChar(0x200b)) + "24", NotANumber},
        {"2024" + QString(QChar(0x7f)), NotANumber},
        // Control characters and NUL inside, unpaired surrogates.
        {"20\x01"
         "24",
         NotANumber},
        {"2024\n2025", NotANumber},
        {"20" + nul + "24", NotANumber},
        {"2024" + units({0xd800}), NotANumber},
        {units({0xdc00}) + "2024", NotANumber},
        // Long texts; the field keeps at most 32767 characters of them.
        {repeated("9", 100 * 1024), NotANumber},
        {"2024" + repeated("'", 100 * 1024), NotANumber},
        {repeated("年", 50 * 1024), NotANumber},
        // Nothing, or a lone sign: 0 for the database.
        {"", Zero},
        {"   ", Zero},
        {"\t\r\n" + nul, Zero},
        {"+", Zero},
        {"-", Zero},
        // Whole numbers that are no year of the calendar.
        {"-2024", NotAYear, "-3935"},
        {"0", NotAYear, "-1911"},
        {"-0", NotAYear, "-1911"},
        {"10000", NotAYear, "8089"},
        {"2147483647", NotAYear, "2147481736"},
        {"-2147483648", NotAYear, "2147481737"}, // 32-bit arithmetic wraps
    };
}

const char *const RunOrder[] = {"W101", "W102", "M101", "M102", "Y101", "Y102",
                                "W103", "M103", "Y103", "W301", "M301", "Y301"};

// What the week handler shows: the week's days, WeekEndText and the month.
QStringList shown(const TForm1 &form)
{
    return {form.StaticText1->text(), form.StaticText2->text(), WeekEndText,
            form.MSpinEdit->text()};
}

// Started on 2024-06-19 (week 25): the window proposes 2024, week 24, June.
class HostileYearTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (dm::configuredBackend() != dm::Backend::Embedded)
            GTEST_SKIP() << "built for a database server";
        resetSharedValues();
        db.emplace();
        db->addCalendar(2023, 2025);
        db->addItem("'40'", "'A1'", "'Alpha'");
        addSourceRows();
        form = std::make_unique<TForm1>(boxes, [] { return QDate(2024, 6, 19); });
        ASSERT_EQ(boxes.shown, QStringList());
        ASSERT_EQ(form->Edit1->text(), "2024");
        ASSERT_EQ(form->WSpinEdit->text(), "24");
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Figures for every batch in week 23 (2 to 8 June 2024), more in November and in 2023.
    void addSourceRows()
    {
        const char *orders[] = {
            "'3221','20240605','S01',1,'Y',100,5,2",   "'5221','20240606','S02',1.5,'Y',10,1,3",
            "'2221','20240605','S01',1,'Y',7,0.25,1",  "'222U','20240607','S03',2,'Y',3,0,1",
            "'3221','20241105','S01',1,'Y',50,0,4",    "'2221','20241105','S01',1,'Y',9,0,1",
            "'3221','20230605','S01',1,'Y',1000,0,40", "'3221','20240605','S09',1,'N',1000,0,40",
        };
        for (const char *row : orders)
            db->exec(QStringLiteral("INSERT INTO COPTC (TC001,TC003,TC006,TC009,TC027,TC029,TC030,"
                                    "TC031) VALUES (%1)")
                         .arg(QLatin1String(row)));
        const char *invoices[] = {
            "'20240605','C100','G01','Y',30,1.5",
            "'20241105','C100','G01','Y',20,0",
            "'20230605','C100','G01','Y',500,0",
        };
        for (const char *row : invoices)
            db->exec(QStringLiteral(
                         "INSERT INTO COPTG (TG003,TG004,TG006,TG023,TG045,TG046) VALUES (%1)")
                         .arg(QLatin1String(row)));
    }

    // Everything outside the two summary tables, schema included.
    QVector<QStringList> untouchable()
    {
        QVector<QStringList> all;
        for (const char *query :
             {"SELECT type, name, sql FROM sqlite_master ORDER BY name",
              "SELECT * FROM COPTC ORDER BY rowid", "SELECT * FROM COPTG ORDER BY rowid",
              "SELECT * FROM FCMSDT ORDER BY rowid", "SELECT * FROM FCMSFL ORDER BY rowid"})
            all += db->rows(QLatin1String(query));
        return all;
    }

    QVector<QStringList> summaryRows()
    {
        return db->rows("SELECT COMPANY, XX000, XX001, XX002, XX003, XX004, XX005, XX006 "
                        "FROM FADMXX ORDER BY XX001, XX005");
    }
    QVector<QStringList> completionRows()
    {
        return db->rows("SELECT COMPANY, XY000, XY001, XY002, XY003 FROM FADMXY ORDER BY XY001");
    }

    // The year field as a fresh start leaves it, week 24, and the summary tables emptied.
    void reset()
    {
        form->Edit1->setText(QStringLiteral("2024"));
        form->WSpinEdit->setValue(24);
        db->exec(QStringLiteral("DELETE FROM FADMXX"));
        db->exec(QStringLiteral("DELETE FROM FADMXY"));
        boxes.shown.clear();
    }

    // Types the text into the year field, steps the week down to 23 and presses OK.
    void enterYearAndRun(const QString &text)
    {
        form->Edit1->setText(text);
        QTest::keyClick(form->WSpinEdit, Qt::Key_Down);
        afterWeek = boxes.shown;
        shownAfterWeek = shown(*form);
        boxes.shown.clear();
        QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    }

    RecordingBoxes boxes;
    std::optional<CompanyDatabase> db;
    std::unique_ptr<TForm1> form;
    QStringList afterWeek;
    QStringList shownAfterWeek;
};

TEST_F(HostileYearTest, EveryTextIsTheYearItConvertsToOrAnsweredWithItsError)
{
    const QVector<QStringList> others = untouchable();

    // The run for "2024" that the texts converting to 2024 must repeat.
    reset();
    const QStringList shownForWeek24 = shown(*form);
    enterYearAndRun(QStringLiteral("2024"));
    ASSERT_EQ(afterWeek, QStringList());
    const QStringList shownForWeek23 = shownAfterWeek;
    ASSERT_EQ(shownForWeek23, (QStringList{"6/2/24", "6/8/24", "20240608", "6"}));
    QStringList codeBoxes;
    for (const char *code : RunOrder)
        codeBoxes << QStringLiteral("code:") + QLatin1String(code);
    ASSERT_EQ(boxes.shown, codeBoxes);
    const QVector<QStringList> summary2024 = summaryRows();
    const QVector<QStringList> completion2024 = completionRows();
    ASSERT_EQ(completion2024.size(), 12);
    ASSERT_EQ(summary2024.size(), 21) << "a row per batch and group of week 23, June and 2024";

    const std::vector<Case> all = cases();
    ASSERT_GE(all.size(), 50u);
    for (const Case &c : all) {
        SCOPED_TRACE(("year text \"" + c.text.left(40) + "\"").toStdString());
        reset();
        enterYearAndRun(c.text);
        const QString typed = form->Edit1->text();
        // The field holds the text as set, up to its maximum length.
        EXPECT_EQ(typed, c.text.left(form->Edit1->maxLength()));
        const QString year = dm::trimText(typed);
        const QString integerError =
            QStringLiteral("error:'%1' is not a valid integer value").arg(year);

        switch (c.kind) {
        case Kind::Year2024: {
            EXPECT_EQ(afterWeek, QStringList());
            EXPECT_EQ(shownAfterWeek, shownForWeek23);
            EXPECT_EQ(boxes.shown, codeBoxes);
            QVector<QStringList> summary = summary2024, completion = completion2024;
            for (QStringList &row : summary)
                row[3] = year;
            for (QStringList &row : completion)
                row[3] = year;
            EXPECT_EQ(summaryRows(), summary);
            EXPECT_EQ(completionRows(), completion);
            break;
        }
        case Kind::NotANumber:
        case Kind::Zero: {
            EXPECT_EQ(afterWeek, QStringList(integerError));
            EXPECT_EQ(shownAfterWeek, shownForWeek24) << "the week handler changed nothing";
            // The weekly and monthly batches before the check of Y101, in run order.
            QStringList expected;
            for (const char *code : {"W101", "W102", "M101", "M102"}) {
                expected << QStringLiteral("code:") + QLatin1String(code);
                if (c.kind == Kind::NotANumber)
                    expected << QStringLiteral("batchError");
            }
            QVector<QStringList> completion; // ordered by code
            if (c.kind == Kind::Zero) {
                for (const char *code : {"M101", "M102", "W101", "W102"})
                    completion.append({"C_QVT", "1", code, year, code[0] == 'W' ? "23" : "6"});
            }
            expected << integerError;
            EXPECT_EQ(boxes.shown, expected);
            EXPECT_EQ(summaryRows(), QVector<QStringList>());
            EXPECT_EQ(completionRows(), completion);
            break;
        }
        case Kind::NotAYear: {
            EXPECT_EQ(afterWeek, QStringList("error:Invalid argument to date encode"));
            EXPECT_EQ(shownAfterWeek, shownForWeek24) << "the week handler changed nothing";
            EXPECT_EQ(boxes.shown, codeBoxes);
            EXPECT_EQ(summaryRows(), QVector<QStringList>()) << "no figures in that year";
            QVector<QStringList> completion = completion2024;
            for (QStringList &row : completion) {
                row[3] = year;
                if (row[2].startsWith(u'Y'))
                    row[4] = QLatin1String(c.rocYear);
            }
            EXPECT_EQ(completionRows(), completion);
            break;
        }
        }
        EXPECT_EQ(untouchable(), others);
        EXPECT_TRUE(form->isVisible());
    }
}

} // namespace
