#include "history/ui/TFormStats.h"

#include "base/Clock.h"
#include "base/DialogBoxes.h"
#include "base/ErrorGuard.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/ChartWorker.h"
#include "history/HistoryQuery.h"
#include "history/ReadingStore.h"
#include "history/SensorListWorker.h"
#include "history/ui/HistoryChart.h"
#include "history/ui/HistoryGlyphs.h"
#include "history/ui/HistoryLook.h"
#include "history/ui/HistorySnsView.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QToolButton *flatButton(QWidget *parent, const char *name, int left, const QString &hint, historyglyphs::Button glyph)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 3, 34, 34);
    button->setAutoRaise(true);
    button->setToolTip(hint);
    button->setIcon(QIcon(historyglyphs::button(glyph)));
    button->setIconSize(QSize(32, 32));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// The window's style with a narrower drop-down arrow: a date picker of the designed 85 pixels
// then holds the whole date in this font.
class PickerStyle final : public QProxyStyle
{
public:
    PickerStyle()
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {
    }
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl part,
                         const QWidget *widget) const override
    {
        QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        if (control == CC_ComboBox && (part == SC_ComboBoxArrow || part == SC_ComboBoxEditField)) {
            const int arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget).width();
            const int spare = std::max(0, arrow - arrowWidth);
            if (part == SC_ComboBoxArrow)
                rect.setLeft(rect.left() + spare);
            else
                rect.setRight(rect.right() + spare);
        }
        return rect;
    }

private:
    static constexpr int arrowWidth = 13;
};

// 85 x 19 as designed.
QDateEdit *datePicker(QWidget *parent, const char *name, int left)
{
    auto *picker = new QDateEdit(parent);
    picker->setObjectName(QString::fromLatin1(name));
    auto *style = new PickerStyle;
    style->setParent(picker);
    picker->setStyle(style);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(Formats::current().shortDate);
    picker->setGeometry(left, 12, 85, 19);
    return picker;
}

// a / 2 rounded to the nearest whole number, a half to the even neighbour.
int halfToEven(int twice)
{
    const int down = twice >= 0 ? twice / 2 : -((-twice + 1) / 2);
    if (twice % 2 == 0)
        return down;
    return down % 2 == 0 ? down : down + 1;
}

} // namespace

TFormStats::TFormStats(TFormStatsContext context, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_boxes(context.boxes)
    , m_clock(context.clock)
    , m_store(std::move(context.store))
    , m_nameBySerial(std::move(context.NameBySerial))
    , m_list(Sns)
{
    setupUi();
    connect(SnsView, &HistorySnsView::rowDoubleClicked, this, &TFormStats::SnsDblClick);
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { guarded(m_boxes, [this] { SpeedButton4Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { guarded(m_boxes, [this] { SpeedButton2Click(); }); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { guarded(m_boxes, [this] { SpeedButton3Click(); }); });
    m_sensors = new SensorListWorker(this);
    connect(m_sensors, &SensorListWorker::finished, this, [this](const QStringList &serials) {
        guarded(m_boxes, [&] { m_list.LoadSns(serials, m_nameBySerial); });
        emit sensorsLoaded();
    });
    connect(m_sensors, &SensorListWorker::failed, this, [this](const QString &message) {
        m_boxes.error(message);
        emit sensorsLoaded();
    });
    m_chart = new ChartWorker(this);
    connect(m_chart, &ChartWorker::progress, this, [this](int position, int maximum) {
        if (m_progress) {
            // No maximum yet: the bar runs to and fro while the statement works.
            m_progress->setMaximum(maximum);
            m_progress->setValue(position);
        }
    });
    connect(m_chart, &ChartWorker::finished, this, [this](const std::vector<history::ChartLine> &lines) {
        guarded(m_boxes, [&] {
            for (const history::ChartLine &line : lines)
                Chart1->addLine(GetNameSer(line.serial), line.points);
            Chart1->fullView();
        });
        hideLoading();
        emit chartDrawn();
    });
    connect(m_chart, &ChartWorker::failed, this, [this](const QString &message) {
        hideLoading();
        m_boxes.error(message);
        emit chartDrawn();
    });
    FormCreate();
}

TFormStats::~TFormStats()
{
    m_sensors->cancel();
    cancelChart();
    if (m_hourglass)
        hideLoading();
}

bool TFormStats::chartRunning() const
{
    return m_chart->running();
}

void TFormStats::showLoading()
{
    // The screen's cursor, set once however often a chart is started before the last one ends.
    if (!m_hourglass)
        m_hourglass.emplace(Qt::WaitCursor);
    if (m_progress) {
        m_progress->setMaximum(0);
        m_progress->setValue(0);
    }
    if (m_loading) {
        m_loading->show();
        m_loading->move(loadingPosition(frameGeometry()));
    }
}

void TFormStats::hideLoading()
{
    if (m_progress) {
        m_progress->setMaximum(100);
        m_progress->setValue(0);
    }
    if (m_loading)
        m_loading->hide();
    m_hourglass.reset();
}

void TFormStats::cancelChart()
{
    if (!m_chart->running())
        return;
    m_chart->cancel();
    hideLoading();
}

void TFormStats::setupUi()
{
    setObjectName(QStringLiteral("FormStats"));
    setWindowTitle(QStringLiteral("История"));
    resize(926, 407);
    move(261, 123);
    historylook::apply(*this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(40);
    Label1 = new QLabel(QStringLiteral("с:"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(10, 16);
    Label1->adjustSize();
    DateFrom = datePicker(Panel1, "DateFrom", 23);
    Label2 = new QLabel(QStringLiteral("по:"), Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(110, 16);
    Label2->adjustSize();
    DateTo = datePicker(Panel1, "DateTo", 127);
    Detal = new QComboBox(Panel1);
    Detal->setObjectName(QStringLiteral("Detal"));
    Detal->setEditable(true);
    Detal->setInsertPolicy(QComboBox::NoInsert);
    Detal->addItems(history::levelItems());
    Detal->setCurrentText(QStringLiteral("Час"));
    Detal->setToolTip(QStringLiteral("Детализация"));
    Detal->setGeometry(216, 11, 113, 21);
    SpeedButton4 = flatButton(Panel1, "SpeedButton4", 338, QStringLiteral("Обновить"), historyglyphs::Button::Refresh);
    SpeedButton2 = flatButton(Panel1, "SpeedButton2", 378, QStringLiteral("Справка"), historyglyphs::Button::Help);
    SpeedButton3 = flatButton(Panel1, "SpeedButton3", 418, QStringLiteral("Удалить историю"),
                              historyglyphs::Button::Delete);
    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(810, 24, 17, 16);
    Image1->setPixmap(historyglyphs::tick());
    Image1->hide();
    layout->addWidget(Panel1);

    auto *body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    Chart1 = new HistoryChart(this);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    body->addWidget(Chart1, 1);
    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto *right = new QVBoxLayout(Panel2);
    right->setContentsMargins(0, 0, 0, 0);
    SnsView = new HistorySnsView(Sns, Panel2);
    // As designed, and as much wider as the serial numbers need in this font.
    Panel2->setFixedWidth(198 + SnsView->serialColumnWidth() - 102);
    SnsView->setObjectName(QStringLiteral("Sns"));
    SnsView->setTickPicture(Image1->pixmap());
    right->addWidget(SnsView);
    body->addWidget(Panel2);
    layout->addLayout(body, 1);

    // Keys reach the window before its controls, so Esc hides it from anywhere in it.
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *child : children)
        child->installEventFilter(this);
}

void TFormStats::FormCreate()
{
    const QDate today = m_clock.now().date();
    DateFrom->setDate(today);
    DateTo->setDate(today);
}

void TFormStats::setLoadingWindow(QWidget *window, QProgressBar *ProgressBar1)
{
    m_loading = window;
    m_progress = ProgressBar1;
}

void TFormStats::setHelpWindow(QDialog *Form4)
{
    m_help = Form4;
}

void TFormStats::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    guarded(m_boxes, [this] { LoadSns(); });
}

bool TFormStats::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        // An open pop-up (a calendar, Detal's list) takes its own Esc. Detal's list closes on
        // the key's shortcut check, before the key itself reaches it: a key that went to a
        // pop-up is never the window's, open or not by now.
        const auto *widget = qobject_cast<QWidget *>(watched);
        const bool inPopup = widget && widget->window()->windowType() == Qt::Popup;
        if (!inPopup && !QApplication::activePopupWidget()) {
            hide();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFormStats::takeConnection()
{
    ReadingStore *store = m_store ? m_store() : nullptr;
    if (store)
        store->attachQuery(&ADOQuery1);
    ADOQuery1.setConnectionString(store ? store->ConnectionString() : QString());
}

void TFormStats::requireConnection() const
{
    if (!ADOQuery1.ConnectionString().isEmpty())
        return;
    // A store that could not be opened says why, as its log line does, instead of the query's
    // complaint that it has no connection.
    const ReadingStore *store = m_store ? m_store() : nullptr;
    if (store && !store->failure().isEmpty())
        throw KalvexError(store->failure());
    throw KalvexError(QStringLiteral("Missing Connection or ConnectionString"));
}

void TFormStats::LoadSns()
{
    takeConnection();
    requireConnection();
    m_sensors->start(ADOQuery1.ConnectionString());
}

bool TFormStats::sensorsLoading() const
{
    return m_sensors->running();
}

QString TFormStats::GetNameSer(const QString &Sn) const
{
    return m_list.GetNameSer(Sn);
}

void TFormStats::SnsDblClick()
{
    m_list.toggleTick(SnsView->currentGridRow());
}

void TFormStats::SpeedButton4Click()
{
    cancelChart();
    takeConnection();
    Chart1->clear();
    const QStringList serials = m_list.selection();
    if (serials.isEmpty())
        return;
    requireConnection();
    const QString path = ADOQuery1.ConnectionString();
    const history::ChartRequest request{serials, DateFrom->date(), DateTo->date(), history::levelOf(Detal->currentText())};
    Chart1->setLabelText([level = request.level, separator = history::timeSeparator()](qint64 x) {
        return history::pointLabel(x, level, separator);
    });
    showLoading();
    try {
        m_chart->start(path, request);
    } catch (...) {
        hideLoading();
        throw;
    }
}

void TFormStats::SpeedButton2Click()
{
    if (m_help)
        m_help->exec();
}

void TFormStats::SpeedButton3Click()
{
    const QString format = Formats::current().shortDate;
    if (!m_boxes.confirm(QStringLiteral("Удалить историю выбранных датчиков с ") + DateFrom->date().toString(format)
                         + QStringLiteral(" по ") + DateTo->date().toString(format) + QLatin1Char('?')))
        return;
    // The chart's connection goes before the readings do: the compaction needs the file alone.
    cancelChart();
    takeConnection();
    const QStringList serials = m_list.selection();
    if (serials.isEmpty())
        return;
    ReadingStore *store = m_store ? m_store() : nullptr;
    requireConnection();
    if (store)
        store->readingsDeleting();
    history::deleteReadings(ADOQuery1, serials, DateFrom->date(), DateTo->date());
    if (store)
        store->CompactDB();
    m_boxes.message(QStringLiteral("Итория удалена."));
}

QPoint TFormStats::loadingPosition(const QRect &frame)
{
    return QPoint(halfToEven(2 * (frame.left() - 81) + frame.width()),
                  halfToEven(2 * (frame.top() - 43) + frame.height()));
}
