#include "company_database.h"
#include "recording_boxes.h"

#include "dm/run_lock.h"
#include "dm/shared_values.h"
#include "gui/look.h"
#include "gui/main_form.h"
#include "gui/spin_edit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGlyphRun>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRawFont>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

// What the week handler shows: the week's days, WeekEndText and the month.
struct Shown
{
    QString first, last, weekEnd, month;
    bool operator==(const Shown &) const = default;
};

void PrintTo(const Shown &s, std::ostream *os)
{
    *os << s.first.toStdString() << " ~ " << s.last.toStdString() << ", " << s.weekEnd.toStdString()
        << ", month " << s.month.toStdString();
}

// The window after a normal start on 2026-12-08: year 2026, week 49 (1 to 49), month 12.
class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (dm::configuredBackend() != dm::Backend::Embedded)
            GTEST_SKIP() << "built for a database server";
        resetSharedValues();
        db.emplace();
        db->addCalendar(2025, 2027);
        db->addItem("'40'", "'A1'", "'Alpha'");
        db->addItem("'41'", "'B2'", "'Beta'");
        form = std::make_unique<TForm1>(boxes, [] { return QDate(2026, 12, 8); });
        ASSERT_EQ(boxes.shown, QStringList());
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    void retype(QLineEdit *field, const QString &text)
    {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }

    Shown shown() const
    {
        return {form->StaticText1->text(), form->StaticText2->text(), WeekEndText,
                form->MSpinEdit->text()};
    }

    RecordingBoxes boxes;
    std::optional<CompanyDatabase> db;
    std::unique_ptr<TForm1> form;
};

TEST_F(WindowTest, WindowAndControlsHaveTheirDesignGeometry)
{
    EXPECT_EQ(form->windowTitle(), "Form1");
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->size(), QSize(357, 122));
    EXPECT_EQ(form->Panel1->geometry(), QRect(0, 0, 357, 118));
    EXPECT_EQ(form->palette().color(QPalette::Window), form->palette().color(QPalette::Button));

    const struct
    {
        QWidget *widget;
        const char *name;
        QRect geometry;
        int pixelSize;
    } sized[] = {
        {form->Edit1, "Edit1", {49, 7, 51, 27}, 16},
        {form->MSpinEdit, "MSpinEdit", {137, 7, 51, 29}, 16},
        {form->WSpinEdit, "WSpinEdit", {233, 8, 51, 29}, 16},
        {form->ComboBox1, "ComboBox1", {96, 76, 196, 27}, 16},
        {form->BitBtn1, "BitBtn1", {294, 76, 41, 25}, 11},
    };
    for (const auto &c : sized) {
        EXPECT_EQ(c.widget->objectName(), c.name);
        EXPECT_EQ(c.widget->parentWidget(), form->Panel1) << c.name;
        EXPECT_EQ(c.widget->geometry(), c.geometry) << c.name;
        EXPECT_EQ(c.widget->font().pixelSize(), c.pixelSize) << c.name;
    }
    EXPECT_EQ(form->Edit1->font().families().first(), "Times New Roman");
    EXPECT_EQ(form->BitBtn1->font().families().first(), "MS Sans Serif");

    // Labels and static texts keep their position and fit their captions.
    const struct
    {
        QLabel *label;
        const char *name;
        QPoint position;
        const char *caption;
        int pixelSize;
    } labels[] = {
        {form->Label1, "Label1", {21, 11}, "年：", 16},
        {form->Label2, "Label2", {109, 12}, "月：", 16},
        {form->Label3, "Label3", {205, 13}, "週：", 16},
        {form->Label4, "Label4", {208, 43}, "~", 16},
        {form->Label5, "Label5", {16, 78}, "Batch_資料", 16},
        {form->StaticText1, "StaticText1", {136, 47}, nullptr, 11},
        {form->StaticText2, "StaticText2", {222, 47}, nullptr, 11},
    };
    for (const auto &l : labels) {
        EXPECT_EQ(l.label->objectName(), l.name);
        EXPECT_EQ(l.label->pos(), l.position) << l.name;
        if (l.caption) {
            EXPECT_EQ(l.label->text(), QString::fromUtf8(l.caption)) << l.name;
        }
        EXPECT_EQ(l.label->font().pixelSize(), l.pixelSize) << l.name;
        // Nothing of the caption is cut off.
        EXPECT_GE(l.label->width(), l.label->sizeHint().width()) << l.name;
        EXPECT_GE(l.label->height(), l.label->sizeHint().height()) << l.name;
        EXPECT_EQ(l.label->focusPolicy(), Qt::NoFocus) << l.name;
    }
    EXPECT_EQ(form->BitBtn1->text(), "OK");
    EXPECT_FALSE(form->ComboBox1->isEditable());
    EXPECT_EQ(form->ComboBox1->view()->sizeHintForRow(0), 19);
}

TEST_F(WindowTest, ChineseCaptionsAreDrawnWithATraditionalChineseFace)
{
    for (QLabel *label : {form->Label1, form->Label2, form->Label3, form->Label5}) {
        QTextLayout layout(label->text(), label->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun &run : layout.glyphRuns()) {
            for (quint32 glyph : run.glyphIndexes())
                EXPECT_NE(glyph, 0u) << "missing glyph in " << label->text().toStdString();
        }
        bool traditional = false;
        for (const QGlyphRun &run : layout.glyphRuns())
            traditional |= run.rawFont().familyName().contains(QLatin1String("CJK TC"));
        EXPECT_TRUE(traditional) << label->text().toStdString();
    }
}

TEST_F(WindowTest, TabOrderRunsMonthWeekYearOkList)
{
    EXPECT_TRUE(form->MSpinEdit->hasFocus()) << "the first control in tab order starts focused";
    const QWidget *expected[] = {form->WSpinEdit, form->Edit1, form->BitBtn1, form->ComboBox1,
                                 form->MSpinEdit};
    for (const QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST_F(WindowTest, OkGlyphIsGreenAndGreyWhenDisabled)
{
    const QIcon icon = form->BitBtn1->icon();
    EXPECT_EQ(form->BitBtn1->iconSize(), QSize(18, 18));
    const QImage normal = icon.pixmap(18, 18, QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(18, 18, QIcon::Disabled).toImage();
    ASSERT_EQ(normal.size(), QSize(18, 18));
    ASSERT_EQ(disabled.size(), QSize(18, 18));
    int green = 0, greyInDisabled = 0, colouredInDisabled = 0;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 18; ++x) {
            const QColor n = normal.pixelColor(x, y), d = disabled.pixelColor(x, y);
            green += n.alpha() > 200 && n.green() > 100 && n.red() < 60 && n.blue() < 60;
            const bool grey = qAbs(d.red() - d.green()) < 8 && qAbs(d.green() - d.blue()) < 8;
            greyInDisabled += d.alpha() > 200 && grey && d.red() < 200;
            colouredInDisabled += d.alpha() > 0 && !grey;
        }
    }
    EXPECT_GT(green, 20);
    EXPECT_GT(greyInDisabled, 10);
    EXPECT_EQ(colouredInDisabled, 0);
}

TEST_F(WindowTest, TypingAWeekShowsItsDaysAndMovesTheMonth)
{
    retype(form->WSpinEdit, "2");
    // Emptying the box on the way applied its minimum, week 1; the 2 then applied week 2.
    EXPECT_EQ(shown(), (Shown{"1/4/26", "1/10/26", "20260110", "1"}));
    EXPECT_EQ(boxes.shown, QStringList());

    QTest::keyClick(form->WSpinEdit, Qt::Key_Backspace);
    EXPECT_EQ(shown(), (Shown{"12/28/25", "1/3/26", "20260103", "1"}));

    QTest::keyClicks(form->WSpinEdit, "22");
    EXPECT_EQ(shown(), (Shown{"5/24/26", "5/30/26", "20260530", "5"}));

    // Up and down, by key and by button.
    QTest::keyClick(form->WSpinEdit, Qt::Key_Up);
    EXPECT_EQ(shown(), (Shown{"5/31/26", "6/6/26", "20260606", "6"}));
    QTest::mouseClick(form->WSpinEdit->downButton(), Qt::LeftButton);
    QTest::mouseClick(form->WSpinEdit->downButton(), Qt::LeftButton);
    EXPECT_EQ(shown(), (Shown{"5/17/26", "5/23/26", "20260523", "5"}));
}

TEST_F(WindowTest, AWeekTypedPastTheRangeIsAppliedAndClampedOnLeaving)
{
    retype(form->WSpinEdit, "53");
    EXPECT_EQ(shown(), (Shown{"12/27/26", "1/2/27", "20270102", "1"}));
    QTest::keyClick(form->WSpinEdit, Qt::Key_Tab);
    EXPECT_EQ(form->WSpinEdit->text(), "49");
    EXPECT_EQ(shown(), (Shown{"11/29/26", "12/5/26", "20261205", "12"}));
}

TEST_F(WindowTest, TheMonthFollowsTheMonthBoxRangeUnlessItsEndsAreEqual)
{
    form->MSpinEdit->setMaxValue(3);
    retype(form->WSpinEdit, "21"); // 2026-05-17 to 2026-05-23
    EXPECT_EQ(form->MSpinEdit->text(), "3");
    form->MSpinEdit->setMaxValue(1);
    QTest::keyClick(form->WSpinEdit, Qt::Key_Up);
    EXPECT_EQ(form->MSpinEdit->text(), "5");
}

TEST_F(WindowTest, ChangingTheYearOrMonthRecomputesNothing)
{
    const Shown before = shown();
    retype(form->Edit1, "2020");
    retype(form->MSpinEdit, "3");
    QTest::keyClick(form->MSpinEdit, Qt::Key_Up);
    EXPECT_EQ(form->MSpinEdit->text(), "4");
    EXPECT_EQ(form->StaticText1->text(), before.first);
    EXPECT_EQ(WeekEndText, before.weekEnd);

    // The next week change uses the new year.
    retype(form->Edit1, " 2020 ");
    QTest::keyClick(form->WSpinEdit, Qt::Key_Down);
    EXPECT_EQ(shown(), (Shown{"11/22/20", "11/28/20", "20201128", "11"}));
    EXPECT_EQ(RocYearText, "115") << "the ROC year stays the one proposed at start";
    EXPECT_EQ(boxes.shown, QStringList());
}

TEST_F(WindowTest, AYearThatIsNotUsableShowsTheErrorAndChangesNothing)
{
    const Shown before = shown();
    const struct
    {
        const char *year;
        const char *message;
    } cases[] = {
        {"2O26", "'2O26' is not a valid integer value"},
        {"", "'' is not a valid integer value"},
        {"99999999999", "'99999999999' is not a valid integer value"},
        {"0", "Invalid argument to date encode"},
        {"10000", "Invalid argument to date encode"},
    };
    for (const auto &c : cases) {
        boxes.shown.clear();
        retype(form->Edit1, c.year);
        QTest::keyClick(form->WSpinEdit, Qt::Key_Down);
        EXPECT_EQ(boxes.shown, QStringList(QStringLiteral("error:") + c.message)) << c.year;
        EXPECT_EQ(shown(), before) << c.year;
        QTest::keyClick(form->WSpinEdit, Qt::Key_Up);
    }
    EXPECT_TRUE(form->isVisible());
}

TEST_F(WindowTest, EnterAnywhereWithoutShiftCtrlOrAltPressesOk)
{
    QSignalSpy clicks(form->BitBtn1, &QPushButton::clicked);
    form->Edit1->setFocus();
    QTest::keyClick(form->Edit1, Qt::Key_Return);
    ASSERT_EQ(clicks.count(), 1);
    // The run it started: the first batch showed its code box.
    ASSERT_FALSE(boxes.shown.isEmpty());
    EXPECT_EQ(boxes.shown.first(), "code:W101");
    EXPECT_EQ(db->value("SELECT count(*) FROM FADMXY"), "12");

    for (QWidget *focus :
         QList<QWidget *>{form->WSpinEdit, form->MSpinEdit, form->ComboBox1, form->BitBtn1}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        QTest::keyClick(focus, Qt::Key_Enter, Qt::KeypadModifier);
    }
    EXPECT_EQ(clicks.count(), 9);

    int beeps = 0;
    static int *counter = nullptr;
    counter = &beeps;
    SpinEdit::beep = [] { ++*counter; };
    for (auto modifier : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
        QTest::keyClick(form->Edit1, Qt::Key_Return, modifier);
        QTest::keyClick(form->WSpinEdit, Qt::Key_Return, modifier);
    }
    SpinEdit::beep = &QApplication::beep;
    EXPECT_EQ(clicks.count(), 9);
    EXPECT_EQ(beeps, 1) << "Shift+Enter types a refused character into the spin box";
}

TEST_F(WindowTest, EscapeNeverClosesTheWindow)
{
    for (QWidget *focus :
         QList<QWidget *>{form->Edit1, form->WSpinEdit, form->ComboBox1, form->BitBtn1}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Escape);
    }
    QTest::qWait(20);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(WindowTest, AnOpenItemListTakesEnterAndEscapeOnlyToClose)
{
    QSignalSpy clicks(form->BitBtn1, &QPushButton::clicked);
    for (auto key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Enter}) {
        form->ComboBox1->setFocus();
        form->ComboBox1->showPopup();
        QWidget *popup = form->ComboBox1->view()->window();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
        QTest::keyClick(form->ComboBox1->view(), key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !popup->isVisible(); }, 1000));
    }
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(boxes.shown, QStringList());
}

TEST_F(WindowTest, AFailingCompletionCheckIsShownAndTheWindowStaysUsable)
{
    retype(form->Edit1, "abc");
    QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    ASSERT_FALSE(boxes.shown.isEmpty());
    EXPECT_EQ(boxes.shown.last(), "error:'abc' is not a valid integer value");
    EXPECT_FALSE(boxes.shown.contains("code:Y101"));

    boxes.shown.clear();
    db->exec("DROP TABLE FADMXY");
    retype(form->Edit1, "2026");
    QTest::keyClick(form->Edit1, Qt::Key_Return);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown.first().startsWith("error:")) << boxes.shown.first().toStdString();
    EXPECT_TRUE(form->isVisible());
}

// A window left standing in the box of a failed emptying holds no lock that keeps the weekly
// run out.
TEST(WindowStartUp, FailedEmptyingShowsItsBoxWithTheLockFreed)
{
    if (dm::configuredBackend() != dm::Backend::Embedded)
        GTEST_SKIP() << "built for a database server";
    resetSharedValues();
    CompanyDatabase db;
    db.addCalendar(2025, 2027);
    db.exec("DROP TABLE FADMXY");
    struct LockSeen : RecordingBoxes
    {
        QString lockFile;
        bool held = false;
        void batchError() override
        {
            held = QFile::exists(lockFile);
            RecordingBoxes::batchError();
        }
    } boxes;
    boxes.lockFile = dm::RunLock::lockFilePath(db.linkPath());
    TForm1 form(boxes, [] { return QDate(2026, 12, 8); });
    EXPECT_EQ(boxes.shown, QStringList{QStringLiteral("batchError")});
    EXPECT_FALSE(boxes.held) << "the box came while the lock was held";
}

} // namespace
