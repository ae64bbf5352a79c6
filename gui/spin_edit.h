#pragma once

#include <QLineEdit>

class QToolButton;

// A text field with up and down buttons holding a whole number. Unlike QSpinBox it keeps
// whatever the operator types until the field loses the focus, reads a text that is not a
// number as its minimum, and never touches the value when its range changes.
class SpinEdit : public QLineEdit
{
    Q_OBJECT
public:
    static constexpr int ButtonWidth = 15;
    static constexpr int RepeatDelayMs = 400;    // a held button first repeats after this
    static constexpr int RepeatIntervalMs = 100; // and then this often

    explicit SpinEdit(QWidget *parent = nullptr);

    // The text as a decimal integer, or the minimum when it is not one.
    int value() const;
    // Clamped to the range unless both ends are equal; written as decimal text.
    void setValue(int value);

    int minValue() const { return m_min; }
    int maxValue() const { return m_max; }
    void setMinValue(int value) { m_min = value; } // the value stays as it is
    void setMaxValue(int value) { m_max = value; }

    void stepUp() { setValue(stepped(+1)); }
    void stepDown() { setValue(stepped(-1)); }

    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

    // True for a character typing may put into the field.
    static bool acceptsChar(QChar c);
    // How a refused key is signalled; tests listen here.
    static void (*beep)();

signals:
    // Emitted exactly when the text changes, by typing or by the program.
    void changed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int clamped(int value) const;
    int stepped(int delta) const;
    QToolButton *makeButton(Qt::ArrowType arrow, void (SpinEdit::*step)());
    void placeButtons();

    int m_min = 0;
    int m_max = 0;
    QToolButton *m_up;
    QToolButton *m_down;
};
