#pragma once

#include "batch/boxes.h"
#include "batch/period_source.h"
#include "dm/query.h"

#include <QDate>
#include <QPoint>
#include <QSize>
#include <QWidget>
#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class SpinEdit;

// The main window: the reporting period, the item list and the OK button that runs the batches.
class TForm1 : public QWidget, public PeriodSource
{
    Q_OBJECT
public:
    using Clock = std::function<QDate()>;

    static constexpr QPoint DesignPosition{317, 394};
    static constexpr QSize OuterSize{365, 149};
    // The outer size less a 4-pixel border on each side and a 19-pixel caption bar.
    static constexpr QSize ClientSize{357, 122};
    static constexpr int PanelHeight = 118;

    // Builds the controls with their design values, then runs FormCreate. dm::FDM must exist.
    explicit TForm1(Boxes &boxes, Clock clock = &QDate::currentDate, QWidget *parent = nullptr);
    ~TForm1() override;

    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLabel *Label2 = nullptr;
    SpinEdit *MSpinEdit = nullptr;
    QLabel *Label3 = nullptr;
    SpinEdit *WSpinEdit = nullptr;
    QLabel *StaticText1 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *StaticText2 = nullptr;
    QLabel *Label5 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    dm::Query adoInSert; // the batches' statements

    // Start-up: company code, connection, today and its week, the proposed period, the item
    // list, empty summary tables (under the run lock; another run holding it is a failure).
    // A failure ends it at that step and shows the error box.
    void FormCreate();
    // Year, month and week proposed from the shared values; ends by applying the week.
    void InitPeriodFields();
    // Shows the week's first and last day and moves the month to the week's end. Throws
    // dm::Error, changing nothing, when the year text is not a usable year.
    void WSpinEditChange();
    void LoadItemList(); // throws dm::Error
    // The batch run under the run lock; throws dm::Error when a completion check fails,
    // dm::RunBusy when another run holds the company database.
    void BitBtn1Click();

    QString yearText() const override;
    int month() const override;
    int week() const override;

private:
    void createControls();
    void createPeriodControls();
    void createListControls();
    void setTabOrder();
    void bindEvents();
    template <class Handler> void handle(Handler handler);
    static void setCaption(QLabel *label, const QString &caption);

    void pressOk();

    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    Boxes &m_boxes;
    Clock m_clock;
};

extern TForm1 *Form1;
