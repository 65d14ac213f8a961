#pragma once

#include "history/HistoryQuery.h"

#include <QColor>
#include <QMap>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSharedPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class QCustomPlot;
class QCPGraph;
class QMouseEvent;
class QRubberBand;
class PointLabelTicker;

// The history window's chart Chart1: one line per serial, x in whole seconds since
// 1899-12-30, the points' labels on the bottom axis. A left drag towards the lower right
// zooms to the dragged rectangle, a left drag in any other direction goes back to the full
// view (both animated in 8 steps), a right drag moves the view both ways.
class HistoryChart : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryChart(QWidget *parent = nullptr);
    ~HistoryChart() override;

    static constexpr int AnimationSteps = 8;

    // Destroys every line, the last first.
    void clear();
    // The label of the point at x, for the lines added after; made only for the ticks drawn.
    void setLabelText(std::function<QString(qint64)> text);
    // A new line in the next automatic colour, titled `title` and listed in the legend.
    void addLine(const QString &title, const std::vector<history::ChartPoint> &points);
    // Every point in view; drawn at once.
    void fullView();

    // The view as x (seconds) and y ranges: left = x lower, width = x span, top = y lower,
    // height = y span.
    QRectF view() const;
    // Moves the view to `target` in AnimationSteps steps (at once when `animate` is false).
    void zoomTo(const QRectF &target, bool animate = true);
    bool animating() const { return m_animation.isActive(); }
    // The rectangle a left drag from `from` to `to` (widget pixels) zooms to.
    QRectF rectOfDrag(QPoint from, QPoint to) const;

    int lineCount() const;
    QString lineTitle(int line) const;
    QColor lineColor(int line) const;
    bool inLegend(int line) const;
    int pointCount(int line) const;
    double keyAt(int line, int index) const;
    double valueAt(int line, int index) const;
    // The label of the point at x, empty when no line has a point there.
    QString labelAt(qint64 x) const;

    QCustomPlot *plot() const { return m_plot; }
    // The plot as a widget (mouse events go there), for code that does not include QCustomPlot.
    QWidget *plotArea() const;

private:
    void mousePress(QMouseEvent *event);
    void mouseMove(QMouseEvent *event);
    void mouseRelease(QMouseEvent *event);
    void animationStep();
    void setView(const QRectF &view);
    QRectF dataBounds() const;
    void keepRoomForFirstLabel();

    // Before the ticker, which reads them: every line's x once each, ascending, and the label
    // of an x.
    std::vector<qint64> m_keys;
    std::function<QString(qint64)> m_labelText = [](qint64) { return QString(); };
    QCustomPlot *m_plot;
    QSharedPointer<PointLabelTicker> m_ticker;
    QRubberBand *m_band = nullptr;
    // The axis rectangle the labels were chosen for.
    QRect m_tickRect;

    enum class Drag { None, Zoom, Pan };
    Drag m_drag = Drag::None;
    QPoint m_dragStart;
    QRectF m_panStart;

    QTimer m_animation;
    QRectF m_animFrom;
    QRectF m_animTo;
    int m_animStep = 0;
};
