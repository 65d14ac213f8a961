#include "history/ui/HistoryChart.h"

#include <qcustomplot.h>

#include <QRubberBand>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

// Ticks only where points are, each with its point's label. Labels are chosen by where they
// fall, left to right: one is drawn when it starts past the end of the one before (and a gap)
// and lies whole inside the widget, so that a dense stretch of points among sparse ones never
// piles labels on each other. A label's text is made only for the points it looks at, a few
// per tick, never for every point.
class PointLabelTicker : public QCPAxisTicker
{
public:
    PointLabelTicker(const std::vector<qint64> &keys, const std::function<QString(qint64)> &text)
        : m_keys(keys)
        , m_text(text)
    {
    }

    void setAxis(QCPAxis *axis) { m_axis = axis; }

    // The width a label takes on the axis, as the axis draws it.
    static int labelWidth(const QFontMetrics &metrics, const QString &label)
    {
        return metrics.boundingRect(0, 0, 0, 0, Qt::TextDontClip, label).width();
    }

    static constexpr int gap = 8;

protected:
    int getSubTickCount(double) override { return 0; }

    QVector<double> createTickVector(double, const QCPRange &range) override
    {
        QVector<double> ticks;
        if (!m_axis)
            return ticks;
        const QFontMetrics metrics(m_axis->tickLabelFont());
        // The axis leaves out a label the widget's border would cut.
        const int edge = m_axis->parentPlot()->viewport().right();
        const auto last = std::upper_bound(m_keys.begin(), m_keys.end(), static_cast<qint64>(std::floor(range.upper)));
        auto it = std::lower_bound(m_keys.begin(), m_keys.end(), static_cast<qint64>(std::ceil(range.lower)));
        double freeFrom = -std::numeric_limits<double>::infinity();
        while (it != last) {
            const double x = m_axis->coordToPixel(static_cast<double>(*it));
            const int width = labelWidth(metrics, m_text(*it));
            const double left = x - width / 2.0;
            if (left + width > edge)
                break;
            if (left >= freeFrom && left >= 0) {
                ticks << static_cast<double>(*it);
                freeFrom = left + width + gap;
            }
            // The next label that can start where this one leaves room: its middle lies at least
            // half a label further on. Found by key, so a million points cost a few lookups.
            const double room = std::max(freeFrom, 0.0) + width / 2.0 - 1;
            auto next = std::next(it);
            if (next != last && m_axis->coordToPixel(static_cast<double>(*next)) < room) {
                const double key = m_axis->pixelToCoord(room);
                if (std::isfinite(key) && key > static_cast<double>(*next)) {
                    auto jump = std::lower_bound(next, m_keys.end(), static_cast<qint64>(std::floor(key)));
                    next = jump == m_keys.end() || (last != m_keys.end() && *jump > *last) ? last : jump;
                }
            }
            it = next;
        }
        return ticks;
    }

    QString getTickLabel(double tick, const QLocale &, QChar, int) override
    {
        return m_text(static_cast<qint64>(std::llround(tick)));
    }

private:
    const std::vector<qint64> &m_keys;
    const std::function<QString(qint64)> &m_text;
    QCPAxis *m_axis = nullptr;
};

namespace {

// Distinct on the white back wall, in the order lines are created.
const std::array<QColor, 12> lineColors{
    QColor(220, 20, 20),  QColor(0, 140, 0),   QColor(20, 40, 220),  QColor(230, 130, 0),
    QColor(200, 0, 200),  QColor(0, 150, 150), QColor(0, 0, 128),    QColor(128, 0, 0),
    QColor(128, 128, 0),  QColor(128, 0, 128), QColor(110, 110, 110), QColor(0, 0, 0),
};

// A line this short gets point markers, or a line of one point would not show at all.
constexpr int markedPoints = 60;
constexpr int minimumDrag = 4;
constexpr double viewMargin = 0.02;
constexpr int animationIntervalMs = 20;

QRectF rectOf(const QCPRange &x, const QCPRange &y)
{
    return QRectF(x.lower, y.lower, x.size(), y.size());
}

} // namespace

HistoryChart::HistoryChart(QWidget *parent)
    : QWidget(parent)
    , m_plot(new QCustomPlot(this))
    , m_ticker(new PointLabelTicker(m_keys, m_labelText))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);

    m_plot->setInteractions(QCP::Interactions());
    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0, QColor(244, 244, 255));
    gradient.setColorAt(1, QColor(157, 182, 255));
    m_plot->setBackground(QBrush(gradient));
    m_plot->axisRect()->setBackground(Qt::white);
    m_plot->axisRect()->setMinimumMargins(QMargins(1, 2, 2, 2));
    m_plot->xAxis2->setVisible(false);
    m_plot->yAxis2->setVisible(false);
    m_ticker->setAxis(m_plot->xAxis);
    m_plot->xAxis->setTicker(m_ticker);
    m_plot->xAxis->setSubTicks(false);
    m_plot->xAxis->setRange(0, 1);
    m_plot->yAxis->setRange(0, 1);

    // The legend in a column of its own right of the plot.
    m_plot->setAutoAddPlottableToLegend(false);
    auto *legendRect = new QCPLayoutGrid;
    m_plot->plotLayout()->addElement(0, 1, legendRect);
    legendRect->addElement(0, 0, m_plot->legend);
    // Below the legend an empty cell takes the rest of the height, so the legend stays compact.
    legendRect->addElement(1, 0, new QCPLayoutElement(m_plot));
    legendRect->setRowStretchFactor(0, 0.001);
    legendRect->setRowSpacing(0);
    legendRect->setMargins(QMargins(2, 4, 4, 4));
    m_plot->plotLayout()->setColumnStretchFactor(1, 0.001);
    m_plot->legend->setRowSpacing(0);
    m_plot->legend->setIconSize(24, 8);
    m_plot->legend->setVisible(false);
    m_plot->legend->setBrush(Qt::white);

    m_band = new QRubberBand(QRubberBand::Rectangle, m_plot);
    m_animation.setInterval(animationIntervalMs);
    connect(&m_animation, &QTimer::timeout, this, &HistoryChart::animationStep);
    connect(m_plot, &QCustomPlot::mousePress, this, &HistoryChart::mousePress);
    connect(m_plot, &QCustomPlot::mouseMove, this, &HistoryChart::mouseMove);
    connect(m_plot, &QCustomPlot::mouseRelease, this, &HistoryChart::mouseRelease);
    connect(m_plot, &QCustomPlot::beforeReplot, this, &HistoryChart::keepRoomForFirstLabel);
    // The axis rectangle gets its place in the replot's layout, after the labels were chosen
    // for the place it had: they are chosen again when it moved (the legend came or went, the
    // window was resized, the room for the first label changed).
    connect(m_plot, &QCustomPlot::afterReplot, this, [this] {
        if (m_plot->axisRect()->rect() != m_tickRect)
            m_plot->replot(QCustomPlot::rpQueuedReplot);
    });
}

HistoryChart::~HistoryChart() = default;

void HistoryChart::clear()
{
    m_animation.stop();
    for (int i = m_plot->graphCount() - 1; i >= 0; --i)
        m_plot->removeGraph(i);
    m_keys.clear();
    m_keys.shrink_to_fit();
    m_plot->legend->setVisible(false);
    m_plot->replot();
}

void HistoryChart::addLine(const QString &title, const std::vector<history::ChartPoint> &points)
{
    QCPGraph *graph = m_plot->addGraph();
    graph->setName(title);
    const int index = m_plot->graphCount() - 1;
    graph->setPen(QPen(lineColors.at(static_cast<std::size_t>(index) % lineColors.size()), 1));
    graph->setLineStyle(QCPGraph::lsLine);
    if (points.size() <= markedPoints)
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 4));
    // The rows may come in any order: the line keeps its points in ascending x (equal x in
    // the order they came). The plot takes this vector as it is, shared, not copied; a line of
    // hundreds of thousands of points holds the window for a moment only.
    QVector<QCPGraphData> data;
    data.reserve(static_cast<qsizetype>(points.size()));
    for (const history::ChartPoint &p : points)
        data.append(QCPGraphData(static_cast<double>(p.x), p.y));
    const auto byKey = [](const QCPGraphData &a, const QCPGraphData &b) { return a.key < b.key; };
    if (!std::is_sorted(data.cbegin(), data.cend(), byKey))
        std::stable_sort(data.begin(), data.end(), byKey);
    // The axis's points: every x of every line, once each, ascending.
    std::vector<qint64> keys;
    keys.reserve(m_keys.size() + static_cast<std::size_t>(data.size()));
    auto mine = data.cbegin();
    for (auto theirs = m_keys.cbegin(); theirs != m_keys.cend() || mine != data.cend();) {
        qint64 key = 0;
        if (mine == data.cend() || (theirs != m_keys.cend() && *theirs <= static_cast<qint64>(mine->key)))
            key = *theirs++;
        else
            key = static_cast<qint64>((mine++)->key);
        if (keys.empty() || keys.back() != key)
            keys.push_back(key);
    }
    keys.shrink_to_fit();
    m_keys = std::move(keys);
    graph->data()->set(data, true);
    graph->addToLegend();
    m_plot->legend->setVisible(true);
}

QRectF HistoryChart::dataBounds() const
{
    bool found = false;
    QCPRange x(0, 1);
    QCPRange y(0, 1);
    for (int i = 0; i < m_plot->graphCount(); ++i) {
        bool ok = false;
        const QCPRange gx = m_plot->graph(i)->getKeyRange(ok);
        if (!ok)
            continue;
        const QCPRange gy = m_plot->graph(i)->getValueRange(ok);
        x = found ? QCPRange(std::min(x.lower, gx.lower), std::max(x.upper, gx.upper)) : gx;
        y = found ? QCPRange(std::min(y.lower, gy.lower), std::max(y.upper, gy.upper)) : gy;
        found = true;
    }
    // One point (or one level) still needs a span to be drawn in.
    if (x.size() <= 0)
        x = QCPRange(x.lower - 1, x.upper + 1);
    if (y.size() <= 0)
        y = QCPRange(y.lower - 1, y.upper + 1);
    // A little room around, so the first and last points and the extremes show whole.
    const double dx = x.size() * viewMargin;
    const double dy = y.size() * viewMargin;
    return rectOf(QCPRange(x.lower - dx, x.upper + dx), QCPRange(y.lower - dy, y.upper + dy));
}

void HistoryChart::fullView()
{
    zoomTo(dataBounds(), false);
}

QRectF HistoryChart::view() const
{
    return rectOf(m_plot->xAxis->range(), m_plot->yAxis->range());
}

void HistoryChart::setView(const QRectF &view)
{
    m_plot->xAxis->setRange(view.left(), view.left() + view.width());
    m_plot->yAxis->setRange(view.top(), view.top() + view.height());
}

void HistoryChart::zoomTo(const QRectF &target, bool animate)
{
    if (!animate) {
        m_animation.stop();
        setView(target);
        m_plot->replot();
        return;
    }
    m_animFrom = view();
    m_animTo = target;
    m_animStep = 0;
    m_animation.start();
}

void HistoryChart::animationStep()
{
    ++m_animStep;
    const double f = static_cast<double>(m_animStep) / AnimationSteps;
    const auto mix = [f](double a, double b) { return a + (b - a) * f; };
    if (m_animStep >= AnimationSteps) {
        m_animation.stop();
        setView(m_animTo);
    } else {
        setView(QRectF(mix(m_animFrom.left(), m_animTo.left()), mix(m_animFrom.top(), m_animTo.top()),
                       mix(m_animFrom.width(), m_animTo.width()), mix(m_animFrom.height(), m_animTo.height())));
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

QRectF HistoryChart::rectOfDrag(QPoint from, QPoint to) const
{
    const double x1 = m_plot->xAxis->pixelToCoord(from.x());
    const double x2 = m_plot->xAxis->pixelToCoord(to.x());
    // Pixels grow downwards, values upwards.
    const double yTop = m_plot->yAxis->pixelToCoord(from.y());
    const double yBottom = m_plot->yAxis->pixelToCoord(to.y());
    return QRectF(x1, yBottom, x2 - x1, yTop - yBottom);
}

void HistoryChart::mousePress(QMouseEvent *event)
{
    if (m_drag != Drag::None)
        return;
    m_dragStart = event->pos();
    if (event->button() == Qt::LeftButton) {
        m_drag = Drag::Zoom;
        m_band->setGeometry(QRect(m_dragStart, QSize()));
        m_band->show();
    } else if (event->button() == Qt::RightButton) {
        m_drag = Drag::Pan;
        m_animation.stop();
        m_panStart = view();
    }
}

void HistoryChart::mouseMove(QMouseEvent *event)
{
    if (m_drag == Drag::Zoom) {
        m_band->setGeometry(QRect(m_dragStart, event->pos()).normalized());
    } else if (m_drag == Drag::Pan) {
        // Measured against the view at the press, so the point under the mouse stays under it.
        setView(m_panStart);
        const double dx = m_plot->xAxis->pixelToCoord(m_dragStart.x()) - m_plot->xAxis->pixelToCoord(event->pos().x());
        const double dy = m_plot->yAxis->pixelToCoord(m_dragStart.y()) - m_plot->yAxis->pixelToCoord(event->pos().y());
        setView(m_panStart.translated(dx, dy));
        m_plot->replot(QCustomPlot::rpQueuedReplot);
    }
}

void HistoryChart::mouseRelease(QMouseEvent *event)
{
    const Drag drag = m_drag;
    m_drag = Drag::None;
    if (drag != Drag::Zoom)
        return;
    m_band->hide();
    const QPoint delta = event->pos() - m_dragStart;
    if (std::abs(delta.x()) < minimumDrag && std::abs(delta.y()) < minimumDrag)
        return;
    if (delta.x() > 0 && delta.y() > 0)
        zoomTo(rectOfDrag(m_dragStart, event->pos()));
    else
        zoomTo(dataBounds());
}

void HistoryChart::keepRoomForFirstLabel()
{
    // The first point's label is centred on it, a little right of the axis's left end in the
    // full view: the axis keeps room left of it for the label's left half, or the widget's edge
    // would cut the label off and it would not be drawn at all.
    int left = 1;
    if (!m_keys.empty()) {
        const QFontMetrics metrics(m_plot->xAxis->tickLabelFont());
        const double half = PointLabelTicker::labelWidth(metrics, m_labelText(m_keys.front())) / 2.0;
        const double f = viewMargin / (1 + 2 * viewMargin);
        const double right = m_plot->axisRect()->right();
        left = std::clamp(static_cast<int>(std::ceil((half - f * right) / (1 - f))) + 1, 1,
                          std::max(1, static_cast<int>(right) / 3));
    }
    if (m_plot->axisRect()->minimumMargins().left() != left)
        m_plot->axisRect()->setMinimumMargins(QMargins(left, 2, 2, 2));
    m_tickRect = m_plot->axisRect()->rect();
}

int HistoryChart::lineCount() const
{
    return m_plot->graphCount();
}

QString HistoryChart::lineTitle(int line) const
{
    return m_plot->graph(line)->name();
}

QColor HistoryChart::lineColor(int line) const
{
    return m_plot->graph(line)->pen().color();
}

bool HistoryChart::inLegend(int line) const
{
    return m_plot->legend->visible() && m_plot->legend->hasItemWithPlottable(m_plot->graph(line));
}

int HistoryChart::pointCount(int line) const
{
    return m_plot->graph(line)->dataCount();
}

double HistoryChart::keyAt(int line, int index) const
{
    return m_plot->graph(line)->data()->at(index)->key;
}

double HistoryChart::valueAt(int line, int index) const
{
    return m_plot->graph(line)->data()->at(index)->value;
}

QString HistoryChart::labelAt(qint64 x) const
{
    return std::binary_search(m_keys.begin(), m_keys.end(), x) ? m_labelText(x) : QString();
}

void HistoryChart::setLabelText(std::function<QString(qint64)> text)
{
    m_labelText = text ? std::move(text) : [](qint64) { return QString(); };
}

QWidget *HistoryChart::plotArea() const
{
    return m_plot;
}
