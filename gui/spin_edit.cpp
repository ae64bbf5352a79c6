#include "gui/spin_edit.h"

#include "dm/error.h"
#include "dm/text.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QStyle>
#include <QToolButton>
#include <algorithm>
#include <limits>

void (*SpinEdit::beep)() = &QApplication::beep;

SpinEdit::SpinEdit(QWidget *parent) : QLineEdit(QStringLiteral("0"), parent)
{
    // Characters are filtered one key at a time; a composing input method would bypass that.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    m_up = makeButton(Qt::UpArrow, &SpinEdit::stepUp);
    m_down = makeButton(Qt::DownArrow, &SpinEdit::stepDown);
    setTextMargins(0, 0, ButtonWidth, 0);
    connect(this, &QLineEdit::textChanged, this, &SpinEdit::changed);
}

QToolButton *SpinEdit::makeButton(Qt::ArrowType arrow, void (SpinEdit::*step)())
{
    auto *button = new QToolButton(this);
    button->setArrowType(arrow);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::ArrowCursor);
    // clicked() comes on release and on every repeat while held.
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(RepeatDelayMs);
    button->setAutoRepeatInterval(RepeatIntervalMs);
    // Pressing a button puts the focus into the field, as clicking the field would.
    connect(button, &QToolButton::pressed, this, [this] {
        if (!hasFocus())
            setFocus(Qt::MouseFocusReason);
    });
    connect(button, &QToolButton::clicked, this, step);
    return button;
}

int SpinEdit::value() const
{
    try {
        return dm::strToInt(text());
    } catch (const dm::Error &) {
        return m_min;
    }
}

int SpinEdit::clamped(int value) const
{
    if (m_min == m_max)
        return value;
    if (value < m_min)
        return m_min;
    if (value > m_max)
        return m_max;
    return value;
}

void SpinEdit::setValue(int value)
{
    // QLineEdit reports a change only when the text really differs.
    setText(QString::number(clamped(value)));
}

int SpinEdit::stepped(int delta) const
{
    // Stepping past the ends of int saturates instead of wrapping round.
    const qint64 next = qint64(value()) + delta;
    const qint64 lowest = std::numeric_limits<int>::min();
    const qint64 highest = std::numeric_limits<int>::max();
    return int(qBound(lowest, next, highest));
}

bool SpinEdit::acceptsChar(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return true;
    if (c == u'+' || c == u'-' || QLocale().decimalPoint() == QString(c))
        return true;
    const bool control = c.unicode() < 32 || c.unicode() == 127;
    return control && c != u'\r';
}

void SpinEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        event->key() == Qt::Key_Up ? stepUp() : stepDown();
        event->accept();
        return;
    }
    const bool typing =
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (typing) {
        const QString typed = event->text();
        if (!std::all_of(typed.begin(), typed.end(), &SpinEdit::acceptsChar)) {
            beep();
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void SpinEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    // Another window taking the focus (a message box, a popup) is not leaving the field.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    const int current = value();
    if (clamped(current) != current)
        setValue(current);
}

void SpinEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    placeButtons();
}

void SpinEdit::placeButtons()
{
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int x = width() - frame - ButtonWidth;
    const int inner = height() - 2 * frame;
    const int upHeight = inner / 2;
    m_up->setGeometry(x, frame, ButtonWidth, upHeight);
    m_down->setGeometry(x, frame + upHeight, ButtonWidth, inner - upHeight);
}
