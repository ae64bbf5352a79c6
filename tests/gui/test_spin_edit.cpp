#include "gui/spin_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

int beeps = 0;
void countBeep()
{
    ++beeps;
}

// Two spin boxes and a text field in a shown, active window, so that focus really moves.
class SpinEditTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        beeps = 0;
        SpinEdit::beep = &countBeep;
        auto *layout = new QHBoxLayout(&window);
        layout->addWidget(spin = new SpinEdit);
        layout->addWidget(other = new SpinEdit);
        layout->addWidget(field = new QLineEdit);
        spin->resize(51, 29);
        spin->setMinValue(1);
        spin->setMaxValue(12);
        spin->setValue(1);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        spin->setFocus(Qt::OtherFocusReason);
    }
    void TearDown() override { SpinEdit::beep = &QApplication::beep; }

    void retype(SpinEdit *box, const QString &text)
    {
        box->setFocus(Qt::OtherFocusReason);
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

    QWidget window;
    SpinEdit *spin = nullptr;
    SpinEdit *other = nullptr;
    QLineEdit *field = nullptr;
};

TEST_F(SpinEditTest, ReadsTheMinimumWhenTheTextIsNotAnInteger)
{
    spin->setMinValue(3);
    for (const char *text : {"", "abc", "1.5", "+", "99999999999", "7x"}) {
        spin->setText(text);
        EXPECT_EQ(spin->value(), 3) << text;
    }
    spin->setText(" 7 ");
    EXPECT_EQ(spin->value(), 7);
    spin->setText("-20");
    EXPECT_EQ(spin->value(), -20); // read as it stands, not clamped
    spin->setText("+4");
    EXPECT_EQ(spin->value(), 4);
}

TEST_F(SpinEditTest, SettingTheValueClampsUnlessBothEndsAreEqual)
{
    spin->setValue(13);
    EXPECT_EQ(spin->text(), "12");
    spin->setValue(-4);
    EXPECT_EQ(spin->text(), "1");
    spin->setMinValue(3);
    spin->setMaxValue(3);
    spin->setValue(5);
    EXPECT_EQ(spin->text(), "5");
    spin->setValue(-7);
    EXPECT_EQ(spin->text(), "-7");
    // A reversed range checks the minimum first: 1 to -1 turns 5 into -1 and -5 into 1.
    spin->setMinValue(1);
    spin->setMaxValue(-1);
    spin->setValue(5);
    EXPECT_EQ(spin->text(), "-1");
    spin->setValue(-5);
    EXPECT_EQ(spin->text(), "1");
}

TEST_F(SpinEditTest, ChangingTheRangeNeverTouchesTheValue)
{
    spin->setValue(9);
    QSignalSpy changes(spin, &SpinEdit::changed);
    spin->setMaxValue(5);
    spin->setMinValue(7);
    EXPECT_EQ(spin->text(), "9");
    EXPECT_EQ(changes.count(), 0);
    spin->setText("");
    spin->setMinValue(4);
    EXPECT_EQ(spin->value(), 4); // an empty text follows the new minimum
}

TEST_F(SpinEditTest, ATypedValueOutsideTheRangeIsKeptUntilTheFocusLeaves)
{
    retype(spin, "40");
    EXPECT_EQ(spin->text(), "40");
    EXPECT_EQ(spin->value(), 40);
    QTest::keyClick(spin, Qt::Key_Tab);
    ASSERT_TRUE(other->hasFocus());
    EXPECT_EQ(spin->text(), "12");

    retype(spin, "-3");
    field->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(spin->text(), "1");

    // In range, empty, or with equal ends: nothing is written back.
    retype(spin, "007");
    field->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(spin->text(), "007");
    retype(spin, "");
    field->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(spin->text(), "");
    spin->setMaxValue(1);
    retype(spin, "40");
    field->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(spin->text(), "40");
}

TEST_F(SpinEditTest, AnotherWindowTakingTheFocusDoesNotClamp)
{
    retype(spin, "40");
    for (auto reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(spin, &out);
        EXPECT_EQ(spin->text(), "40");
    }
}

TEST_F(SpinEditTest, TypingRefusesAnythingButDigitsSignsTheDecimalSeparatorAndControls)
{
    retype(spin, "1a2");
    EXPECT_EQ(spin->text(), "12");
    EXPECT_EQ(beeps, 1);
    retype(spin, "+-.9");
    EXPECT_EQ(spin->text(), "+-.9"); // the pinned locale's separator is "."
    EXPECT_EQ(beeps, 1);
    retype(spin, ", x/");
    EXPECT_EQ(spin->text(), "");
    EXPECT_EQ(beeps, 5);

    // Full-width digits are not digits here.
    QKeyEvent fullWidth(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("１"));
    QApplication::sendEvent(spin, &fullWidth);
    EXPECT_EQ(spin->text(), "");
    EXPECT_EQ(beeps, 6);

    // Enter is the one control character refused; backspace and escape pass.
    retype(spin, "34");
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(beeps, 7);
    QTest::keyClick(spin, Qt::Key_Backspace);
    QTest::keyClick(spin, Qt::Key_Escape);
    EXPECT_EQ(spin->text(), "3");
    EXPECT_EQ(beeps, 7);
}

TEST_F(SpinEditTest, PastingIsNotFiltered)
{
    QApplication::clipboard()->setText(QStringLiteral("x7y"));
    retype(spin, "");
    QTest::keyClick(spin, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(spin->text(), "x7y");
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(spin->value(), 1);
}

TEST_F(SpinEditTest, ChangedFiresExactlyWhenTheTextChanges)
{
    QSignalSpy changes(spin, &SpinEdit::changed);
    spin->setValue(1); // already "1"
    EXPECT_EQ(changes.count(), 0);
    spin->setValue(5);
    EXPECT_EQ(changes.count(), 1);
    spin->setValue(12);
    spin->setValue(13); // clamps to the "12" already shown
    EXPECT_EQ(changes.count(), 2);
    QTest::keyClick(spin, Qt::Key_Up); // at the maximum: the text stays
    EXPECT_EQ(changes.count(), 2);
    retype(spin, "7"); // select all + backspace, then one digit
    EXPECT_EQ(changes.count(), 4);
    QTest::keyClick(spin, Qt::Key_X); // refused: no change
    EXPECT_EQ(changes.count(), 4);
}

TEST_F(SpinEditTest, ArrowKeysAndButtonsStepByOneWithinTheRange)
{
    spin->setValue(11);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "12");
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "12");
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "11");
    QTest::mouseClick(spin->downButton(), Qt::LeftButton);
    EXPECT_EQ(spin->text(), "10");
    QTest::mouseClick(spin->upButton(), Qt::LeftButton);
    EXPECT_EQ(spin->text(), "11");

    // An empty text reads as the minimum, so up gives minimum + 1.
    spin->setText("");
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "2");

    // A typed value outside the range steps back into it.
    retype(spin, "40");
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "12");

    // Equal ends never clamp.
    spin->setMinValue(1);
    spin->setMaxValue(1);
    spin->setValue(1);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "2");
    QTest::keyClick(spin, Qt::Key_Down);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "0");

    // Stepping past the largest integer stays there instead of wrapping round.
    spin->setMaxValue(1);
    spin->setText("2147483647");
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), "2147483647");
    spin->setText("-2147483648");
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->text(), "-2147483648");
}

TEST_F(SpinEditTest, PressingAButtonMovesTheFocusIntoTheBox)
{
    other->setMinValue(1);
    other->setMaxValue(12);
    retype(other, "40");
    spin->setValue(5);
    QTest::mouseClick(spin->upButton(), Qt::LeftButton);
    EXPECT_TRUE(spin->hasFocus());
    EXPECT_EQ(other->text(), "12"); // the box left behind clamps
    EXPECT_EQ(spin->text(), "6");
}

TEST_F(SpinEditTest, AHeldButtonRepeatsAfter400MsThenEvery100Ms)
{
    spin->setMinValue(0);
    spin->setMaxValue(1000);
    spin->setValue(0);
    QVector<qint64> stepTimes;
    QElapsedTimer clock;
    QObject::connect(spin, &SpinEdit::changed, [&] { stepTimes << clock.elapsed(); });
    clock.start();
    QTest::mousePress(spin->upButton(), Qt::LeftButton);
    QTest::qWait(300);
    EXPECT_TRUE(stepTimes.isEmpty()) << "stepped before the first repeat";
    QTest::qWait(700);
    QTest::mouseRelease(spin->upButton(), Qt::LeftButton);
    const qint64 released = clock.elapsed();
    ASSERT_GE(stepTimes.size(), 3);
    // Timers may fire up to 5% early and, on a busy machine, late; the pattern must hold. The
    // button restarts its timer before it steps, so a step held up on a loaded machine makes
    // the next gap look shorter; the count below bounds the rate over the whole press.
    EXPECT_GE(stepTimes.first(), 380);
    EXPECT_LT(stepTimes.first(), 700);
    for (int i = 1; i + 1 < stepTimes.size(); ++i) {
        const qint64 gap = stepTimes[i] - stepTimes[i - 1];
        EXPECT_GE(gap, 80) << "repeat " << i;
        EXPECT_LT(gap, 300) << "repeat " << i;
    }
    // The release itself is the last step.
    EXPECT_GE(stepTimes.last(), released - 5);
    EXPECT_LE(stepTimes.size(), 2 + (released - 380) / 95);
    EXPECT_EQ(spin->value(), stepTimes.size());

    // Nothing more after the release.
    const int steps = spin->value();
    QTest::qWait(250);
    EXPECT_EQ(spin->value(), steps);
}

} // namespace
