#include "gui/main_form.h"

#include "batch/batch_run.h"
#include "batch/startup.h"
#include "calendar/default_period.h"
#include "calendar/period.h"
#include "dm/error.h"
#include "dm/fdm.h"
#include "dm/run_lock.h"
#include "dm/shared_values.h"
#include "dm/text.h"
#include "gui/look.h"
#include "gui/spin_edit.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>

TForm1 *Form1 = nullptr;

namespace {

constexpr int ItemHeight = 19;

// Entries of the item list are ItemHeight pixels high.
class ItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), ItemHeight};
    }
};

template <class W> W *place(QWidget *parent, const char *name, QRect geometry, const QFont &font)
{
    auto *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    widget->setFont(font);
    return widget;
}

// A label sizes itself to its caption and draws it from its top left corner.
QLabel *label(QWidget *parent, const char *name, QPoint position, const QString &caption)
{
    auto *widget = place<QLabel>(parent, name, QRect(position, QSize(0, 0)), largeFont());
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widget->setText(caption);
    // Measured on the laid-out text: a fallback face for the Chinese glyphs can make the line
    // taller than the designed font's.
    widget->resize(widget->sizeHint());
    return widget;
}

} // namespace

TForm1::TForm1(Boxes &boxes, Clock clock, QWidget *parent)
    : QWidget(parent), adoInSert(&dm::FDM->PUB_DB), m_boxes(boxes), m_clock(std::move(clock))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFont(windowFont());
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);
    setAutoFillBackground(true);
    move(DesignPosition);
    resize(ClientSize);
    createControls();
    setTabOrder();
    bindEvents();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::createControls()
{
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(0, 0, ClientSize.width(), PanelHeight);
    createPeriodControls();
    createListControls();
}

void TForm1::createPeriodControls()
{
    Label1 = label(Panel1, "Label1", {21, 11}, QStringLiteral("年："));
    // Edit1 prefers a Traditional Chinese phonetic input method, which has no equivalent here.
    Edit1 = place<QLineEdit>(Panel1, "Edit1", {49, 7, 51, 27}, largeFont());
    Label2 = label(Panel1, "Label2", {109, 12}, QStringLiteral("月："));
    MSpinEdit = place<SpinEdit>(Panel1, "MSpinEdit", {137, 7, 51, 29}, largeFont());
    MSpinEdit->setMinValue(1);
    MSpinEdit->setMaxValue(12);
    MSpinEdit->setValue(1);
    Label3 = label(Panel1, "Label3", {205, 13}, QStringLiteral("週："));
    WSpinEdit = place<SpinEdit>(Panel1, "WSpinEdit", {233, 8, 51, 29}, largeFont());
    WSpinEdit->setMinValue(1);
    WSpinEdit->setMaxValue(53);
    WSpinEdit->setValue(1);
    StaticText1 = place<QLabel>(Panel1, "StaticText1", {136, 47, 58, 17}, windowFont());
    setCaption(StaticText1, QStringLiteral("StaticText1"));
    Label4 = label(Panel1, "Label4", {208, 43}, QStringLiteral("~"));
    StaticText2 = place<QLabel>(Panel1, "StaticText2", {222, 47, 58, 17}, windowFont());
    setCaption(StaticText2, QStringLiteral("StaticText2"));
}

void TForm1::createListControls()
{
    Label5 = label(Panel1, "Label5", {16, 78}, QStringLiteral("Batch_資料"));
    ComboBox1 = place<QComboBox>(Panel1, "ComboBox1", {96, 76, 196, 27}, largeFont());
    ComboBox1->setEditable(false);
    ComboBox1->setItemDelegate(new ItemDelegate(ComboBox1));
    BitBtn1 = place<QPushButton>(Panel1, "BitBtn1", {294, 76, 41, 25}, windowFont());
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn1->setIcon(okGlyph());
    BitBtn1->setIconSize({OkGlyphSize, OkGlyphSize});
    BitBtn1->setDefault(true);
}

// A static text sizes itself to its caption, with a 2-pixel margin all round.
void TForm1::setCaption(QLabel *label, const QString &caption)
{
    label->setText(caption);
    const QFontMetrics metrics(label->font());
    label->resize(metrics.horizontalAdvance(caption) + 4, metrics.height() + 4);
}

void TForm1::setTabOrder()
{
    QWidget::setTabOrder(MSpinEdit, WSpinEdit);
    QWidget::setTabOrder(WSpinEdit, Edit1);
    QWidget::setTabOrder(Edit1, BitBtn1);
    QWidget::setTabOrder(BitBtn1, ComboBox1);
    MSpinEdit->setFocus(); // the first control in tab order starts with the focus
}

void TForm1::bindEvents()
{
    connect(WSpinEdit, &SpinEdit::changed, this, [this] { handle([this] { WSpinEditChange(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { handle([this] { BitBtn1Click(); }); });
    // Enter anywhere in the window presses OK: each control hands it over before using it.
    for (QWidget *control : Panel1->findChildren<QWidget *>())
        control->installEventFilter(this);
}

static bool isPlainEnter(const QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<const QKeyEvent *>(event);
    const auto held = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           !(key->modifiers() & held);
}

void TForm1::pressOk()
{
    if (BitBtn1->isEnabled())
        BitBtn1->click();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    // The drop-down list of ComboBox1 is its child but a window of its own.
    const bool inWindow =
        watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this;
    if (inWindow && isPlainEnter(event)) {
        pressOk();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::keyPressEvent(QKeyEvent *event)
{
    if (isPlainEnter(event))
        pressOk();
    else
        QWidget::keyPressEvent(event);
}

// An event handler's failure ends the handler and is shown; the window stays usable.

template <class Handler> void TForm1::handle(Handler handler)
{
    try {
        handler();
    } catch (const dm::Error &error) {
        m_boxes.error(error.message());
    } catch (const std::exception &error) {
        m_boxes.error(QString::fromLocal8Bit(error.what()));
    }
}

void TForm1::FormCreate()
{
    handle([this] {
        StartUp steps;
        steps.today = m_clock();
        steps.proposed = [this] {
            InitPeriodFields();
            LoadItemList();
        };
        // The lock goes with the emptying: the window standing open keeps no other run out.
        runStartUp(steps, m_boxes);
    });
}

void TForm1::InitPeriodFields()
{
    const calendar::ProposedPeriod period = calendar::proposePeriod(CurYear, CurMonth, CurWeek);
    Edit1->setText(period.yearText);
    // Each value before its range: the box clamps to the range it had until then.
    MSpinEdit->setValue(period.monthValue);
    MSpinEdit->setMinValue(period.monthMin);
    MSpinEdit->setMaxValue(period.monthMax);
    WSpinEdit->setValue(period.weekValue); // runs WSpinEditChange when the text changes
    WSpinEdit->setMinValue(period.weekMin);
    WSpinEdit->setMaxValue(period.weekMax);
    RocYearText = period.rocYearText;
    WSpinEditChange();
}

void TForm1::WSpinEditChange()
{
    const calendar::AppliedWeek applied = calendar::applyWeek(Edit1->text(), WSpinEdit->value());
    setCaption(StaticText1, calendar::shortDate(applied.first));
    setCaption(StaticText2, calendar::shortDate(applied.last));
    WeekEndText = applied.weekEndText;
    MSpinEdit->setValue(applied.month);
}

void TForm1::LoadItemList()
{
    dm::Query items(&dm::FDM->PUB_DB);
    items.setSQL(QStringLiteral(" Select * from FCMSFL WHERE FL000 IN ('40','41','42','43')"));
    items.setPrepared(true);
    items.open();
    const int count = items.recordCount();
    try {
        for (int row = 0; row < count; ++row) {
            const QString code =
                dm::trimText(items.fieldByName(QStringLiteral("FL001")).asString());
            const QString name =
                dm::trimText(items.fieldByName(QStringLiteral("FL002")).asString());
            ComboBox1->addItem(code + u'_' + name);
            items.next();
        }
    } catch (...) {
        // The entries read so far stay; none is selected (the box selects its first entry).
        ComboBox1->setCurrentIndex(-1);
        throw;
    }
    if (ComboBox1->count() > 0)
        ComboBox1->setCurrentIndex(0);
    items.close();
}

void TForm1::BitBtn1Click()
{
    // Held for this press only: the window standing open keeps no other run out.
    dm::RunLock lock(dm::FDM->PUB_DB, CompanyCode);
    lock.acquire();
    BatchRun run(adoInSert, *this, m_boxes, nullptr, &lock);
    run.BitBtn1Click();
}

QString TForm1::yearText() const
{
    return Edit1->text();
}

int TForm1::month() const
{
    return MSpinEdit->value();
}

int TForm1::week() const
{
    return WSpinEdit->value();
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (Panel1)
        Panel1->setGeometry(0, 0, width(), PanelHeight); // aligned to the top, full client width
}
