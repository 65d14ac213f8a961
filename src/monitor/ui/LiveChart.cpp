#include "monitor/ui/LiveChart.h"

#include "sensors/TColorConvert.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double NullValue = std::numeric_limits<double>::quiet_NaN();
constexpr int LegendIconWidth = 40;

} // namespace

LiveChart::LiveChart(QWidget *parent)
    : QWidget(parent)
    , m_plot(new QCustomPlot(this))
    , m_ticker(new QCPAxisTickerText)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);

    m_plot->setInteractions(QCP::Interactions()); // no zoom, no pan, no selection
    m_plot->xAxis->setTicker(m_ticker);
    m_plot->xAxis->setSubTicks(false);
    m_plot->xAxis->setTickLabelRotation(0);
    m_plot->yAxis->setRange(-50, 50);
    m_plot->xAxis2->setVisible(false);
    m_plot->yAxis2->setVisible(false);

    // Legend in a row of its own below the plot, filled left to right.
    m_plot->legend->setVisible(true);
    m_plot->legend->setIconSize(LegendIconWidth, 8);
    m_plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    m_plot->legend->setBorderPen(Qt::NoPen);
    m_plot->legend->setRowSpacing(0);
    m_plot->legend->setColumnSpacing(8);
    m_plot->plotLayout()->setRowSpacing(0);
    placeLegend();

    connect(m_plot, &QCustomPlot::beforeReplot, this, &LiveChart::refreshAxes);
    // The first picture must come with the legend placed as the lines say.
    m_plot->installEventFilter(this);
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent *) { emit doubleClicked(); });
}

LiveChart::~LiveChart() = default;

QPointer<QCPGraph> LiveChart::addLine(const QString &title, TColor color, int points)
{
    QCPGraph *graph = m_plot->addGraph();
    graph->setName(title);
    graph->setPen(QPen(toQColor(color), 1));
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, 1));
    graph->setLineStyle(QCPGraph::lsLine);
    graph->addToLegend();
    placeLegend();
    fillNullPoints(graph, points);
    scheduleReplot();
    return QPointer<QCPGraph>(graph);
}

void LiveChart::removeLine(const QPointer<QCPGraph> &line)
{
    if (!line)
        return;
    m_plot->removeGraph(line.data()); // also leaves the legend
    placeLegend();
    pruneLabels();
    scheduleReplot();
}

void LiveChart::setLineTitle(const QPointer<QCPGraph> &line, const QString &title)
{
    if (!line)
        return;
    line->setName(title);
    scheduleReplot();
}

void LiveChart::setLineColor(const QPointer<QCPGraph> &line, TColor color)
{
    if (!line)
        return;
    line->setPen(QPen(toQColor(color), 1));
    scheduleReplot();
}

void LiveChart::fillNullPoints(QCPGraph *graph, int points)
{
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(std::max(points, 0));
    values.reserve(std::max(points, 0));
    for (int x = 1; x <= points; ++x) {
        keys << x;
        values << NullValue;
        m_labels.insert(x, QStringLiteral(" "));
    }
    graph->setData(keys, values, true);
}

void LiveChart::deleteOldest(QCPGraph *graph)
{
    QSharedPointer<QCPGraphDataContainer> data = graph->data();
    if (data->isEmpty())
        return;
    auto first = data->constBegin();
    auto second = first + 1;
    if (second == data->constEnd()) {
        data->clear();
    } else if (second->key > first->key) {
        data->removeBefore(second->key);
    } else {
        // Two points share the oldest x (only after x went back without a reset): drop
        // exactly one of them.
        QVector<QCPGraphData> rest(second, data->constEnd());
        data->set(rest, true);
    }
}

void LiveChart::addPoint(const QPointer<QCPGraph> &line, qint64 x, double y, const QString &label)
{
    if (!line)
        return;
    line->addData(static_cast<double>(x), y);
    m_labels.insert(x, label);
    deleteOldest(line.data());
    pruneLabels();
    scheduleReplot();
}

void LiveChart::addNullPoint(const QPointer<QCPGraph> &line, qint64 x, const QString &label)
{
    addPoint(line, x, NullValue, label);
}

void LiveChart::ResetChart(ChartState &state, int CharMaxCount)
{
    m_labels.clear();
    for (int i = 0; i < m_plot->graphCount(); ++i)
        fillNullPoints(m_plot->graph(i), CharMaxCount);
    state.reset(CharMaxCount);
    scheduleReplot();
}

void LiveChart::setLeftAxis(double minimum, double maximum)
{
    // The plot refuses an empty range and would keep the old one: equal bounds show a degree
    // either side of their value.
    if (!(maximum > minimum)) {
        minimum -= 1;
        maximum = minimum + 2;
    }
    m_plot->yAxis->setRange(minimum, maximum);
    scheduleReplot();
}

double LiveChart::leftMinimum() const
{
    return m_plot->yAxis->range().lower;
}

double LiveChart::leftMaximum() const
{
    return m_plot->yAxis->range().upper;
}

int LiveChart::lineCount() const
{
    return m_plot->graphCount();
}

int LiveChart::pointCount(const QPointer<QCPGraph> &line) const
{
    return line ? line->data()->size() : 0;
}

double LiveChart::keyAt(const QPointer<QCPGraph> &line, int index) const
{
    if (!line || index < 0 || index >= line->data()->size())
        return NullValue;
    return (line->data()->constBegin() + index)->key;
}

double LiveChart::valueAt(const QPointer<QCPGraph> &line, int index) const
{
    if (!line || index < 0 || index >= line->data()->size())
        return NullValue;
    return (line->data()->constBegin() + index)->value;
}

QString LiveChart::lineTitle(const QPointer<QCPGraph> &line) const
{
    return line ? line->name() : QString();
}

QColor LiveChart::lineColor(const QPointer<QCPGraph> &line) const
{
    return line ? line->pen().color() : QColor();
}

bool LiveChart::inLegend(const QPointer<QCPGraph> &line) const
{
    return line && m_plot->legend->hasItemWithPlottable(line.data());
}

QString LiveChart::labelAt(qint64 x) const
{
    return m_labels.value(x);
}

QMap<double, QString> LiveChart::shownLabels() const
{
    return m_ticker->ticks();
}

void LiveChart::pruneLabels()
{
    // Labels live as long as some line still has a point at or after their x.
    double oldest = std::numeric_limits<double>::infinity();
    for (int i = 0; i < m_plot->graphCount(); ++i) {
        const auto data = m_plot->graph(i)->data();
        if (!data->isEmpty())
            oldest = std::min(oldest, data->constBegin()->key);
    }
    if (std::isinf(oldest)) {
        m_labels.clear();
        return;
    }
    while (!m_labels.isEmpty() && static_cast<double>(m_labels.firstKey()) < oldest)
        m_labels.erase(m_labels.begin());
}

void LiveChart::placeLegend()
{
    // An empty legend's size limit is its margins, and a layout column is no wider than its
    // narrowest element allows: with no line the plot would be drawn 50 pixels wide. The
    // legend takes its row only while it lists something.
    QCPLayoutGrid *layout = m_plot->plotLayout();
    const bool wanted = m_plot->graphCount() > 0;
    const bool placed = layout->rowCount() > 1 && layout->element(1, 0) == m_plot->legend;
    if (wanted && !placed) {
        layout->addElement(1, 0, m_plot->legend);
        layout->setRowStretchFactor(1, 0.001);
    } else if (!wanted && placed) {
        layout->take(m_plot->legend);
        layout->simplify();
    }
    m_plot->legend->setVisible(wanted);
}

void LiveChart::refreshAxes()
{
    placeLegend();
    if (m_labels.isEmpty()) {
        m_ticker->clear();
        return;
    }
    // The axis spans the newest x that a line's points can cover. A line created while the
    // chart runs starts with null points at x = 1 .. CharMaxCount, far behind the others:
    // spanning those too would squeeze every line into the axis's right end.
    int points = 1;
    for (int i = 0; i < m_plot->graphCount(); ++i)
        points = std::max(points, m_plot->graph(i)->data()->size());
    const qint64 last = m_labels.lastKey();
    const qint64 first = std::max(m_labels.firstKey(), last - points + 1);
    m_plot->xAxis->setRange(static_cast<double>(first) - 0.5, static_cast<double>(std::max(last, first + 1)) + 0.5);

    // Show every k-th label so that none overlaps; a label stays at its x as the chart
    // scrolls, since k divides x. The step follows the x the axis spans, not the labels
    // there are: x without a label take their room too.
    const QFontMetrics metrics(m_plot->xAxis->tickLabelFont());
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 12;
    const int axisWidth = std::max(m_plot->axisRect()->width(), 1);
    const qint64 span = last - first + 1;
    // Consecutive x hold a multiple of any step up to their count: at least one label shows.
    const qint64 step = std::clamp<qint64>((span * labelWidth + axisWidth - 1) / axisWidth, 1, span);
    QMap<double, QString> ticks;
    for (auto it = m_labels.lowerBound(first); it != m_labels.cend(); ++it) {
        if (it.key() % step == 0)
            ticks.insert(static_cast<double>(it.key()), it.value());
    }
    m_ticker->setTicks(ticks);

    // As many legend columns as fit across the chart.
    int itemWidth = 0;
    const QFontMetrics legendMetrics(m_plot->legend->font());
    for (int i = 0; i < m_plot->graphCount(); ++i)
        itemWidth = std::max(itemWidth, legendMetrics.horizontalAdvance(m_plot->graph(i)->name()));
    itemWidth += LegendIconWidth + 20;
    const int columns = std::max(1, (m_plot->width() - 10) / std::max(itemWidth, 1));
    if (m_plot->legend->wrap() != columns) {
        m_plot->legend->setWrap(columns);
        m_plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst, true);
    }
}

void LiveChart::scheduleReplot()
{
    if (m_held) {
        m_replotWanted = true;
        return;
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void LiveChart::holdReplots(bool hold)
{
    m_held = hold;
    if (!hold && m_replotWanted) {
        m_replotWanted = false;
        scheduleReplot();
    }
}

bool LiveChart::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_plot && event->type() == QEvent::Show)
        scheduleReplot();
    return QWidget::eventFilter(watched, event);
}

void LiveChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    scheduleReplot();
}
