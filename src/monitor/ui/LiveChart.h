#pragma once

#include "monitor/ChartState.h"
#include "sensors/TDSItem.h"

#include <QMap>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

class QCustomPlot;
class QCPGraph;
class QCPAxisTickerText;

// The live chart Chart1: one line per sensor, x from the cycle's PointCounter, a "hh:mm:ss"
// label per x on the bottom axis, null points as gaps, the legend below the plot, no zoom or
// pan. Lines are handed out as QPointer<QCPGraph> (the slot's Series); callers that do not
// include qcustomplot.h only copy them and test them with isNull().
class LiveChart : public QWidget
{
    Q_OBJECT

public:
    explicit LiveChart(QWidget *parent = nullptr);
    ~LiveChart() override;

    // A new line titled `title` in `color`, listed in the legend, with 1 x 1 point markers,
    // holding `points` null points at x = 1..points labelled " ".
    QPointer<QCPGraph> addLine(const QString &title, TColor color, int points);
    // Removes the line from the chart and the legend; a null line is ignored.
    void removeLine(const QPointer<QCPGraph> &line);
    void setLineTitle(const QPointer<QCPGraph> &line, const QString &title);
    void setLineColor(const QPointer<QCPGraph> &line, TColor color);

    // Adds the point (x, y) labelled `label`, then deletes the line's oldest point, so the
    // line keeps its number of points.
    void addPoint(const QPointer<QCPGraph> &line, qint64 x, double y, const QString &label);
    // The same with a null point: a gap in the line.
    void addNullPoint(const QPointer<QCPGraph> &line, qint64 x, const QString &label);

    // Every line back to `CharMaxCount` null points at x = 1..CharMaxCount labelled " ";
    // the x counter back to CharMaxCount and the automatic bounds cleared.
    void ResetChart(ChartState &state, int CharMaxCount);

    // The left axis range (-50..50 until set).
    void setLeftAxis(double minimum, double maximum);
    double leftMinimum() const;
    double leftMaximum() const;

    // What the chart holds, for the cycle's checks and for tests.
    int lineCount() const;
    int pointCount(const QPointer<QCPGraph> &line) const;
    double keyAt(const QPointer<QCPGraph> &line, int index) const;
    double valueAt(const QPointer<QCPGraph> &line, int index) const; // NaN for a null point
    QString lineTitle(const QPointer<QCPGraph> &line) const;
    QColor lineColor(const QPointer<QCPGraph> &line) const;
    bool inLegend(const QPointer<QCPGraph> &line) const;
    // The label of x, empty when no point of any line has that x.
    QString labelAt(qint64 x) const;
    // The labels the bottom axis shows now (a subset when they would overlap).
    QMap<double, QString> shownLabels() const;

    // While held, changes are drawn only when released (a monitoring cycle draws its points
    // once, not once per sensor: a replot lays out every line's legend text).
    void holdReplots(bool hold);

    QCustomPlot *plot() const { return m_plot; }

signals:
    // Chart1DblClick.
    void doubleClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillNullPoints(QCPGraph *graph, int points);
    void deleteOldest(QCPGraph *graph);
    void pruneLabels();
    void refreshAxes();
    void placeLegend();
    void scheduleReplot();

    QCustomPlot *m_plot = nullptr;
    QSharedPointer<QCPAxisTickerText> m_ticker;
    QMap<qint64, QString> m_labels;
    bool m_held = false;
    bool m_replotWanted = false;
};
