#include "monitor/ChartState.h"
#include "monitor/ui/LiveChart.h"

#include <qcustomplot.h>

#include <QSignalSpy>
#include <QTest>

#include <cmath>

// The live chart: every line keeps its number of points, null points are gaps, each x has
// its time label, a reset brings every line back to its start.
class TestLiveChart : public QObject
{
    Q_OBJECT

private slots:
    void startState()
    {
        LiveChart chart;
        QCOMPARE(chart.leftMinimum(), -50.0);
        QCOMPARE(chart.leftMaximum(), 50.0);
        QVERIFY(chart.plot()->interactions() == QCP::Interactions()); // no zoom, no pan
        // An empty legend would cap the plot's width at its own: it is placed with the first line.
        QVERIFY(!chart.plot()->legend->visible());
        QCOMPARE(chart.plot()->plotLayout()->elementCount(), 1);
        const QPointer<QCPGraph> line = chart.addLine("Кухня", 255, 5);
        QVERIFY(chart.plot()->legend->visible());
        // The legend lies below the plot, not inside it.
        QCOMPARE(chart.plot()->plotLayout()->elementAt(1), static_cast<QCPLayoutElement *>(chart.plot()->legend));
        chart.removeLine(line);
        QVERIFY(!chart.plot()->legend->visible());
        QCOMPARE(chart.plot()->plotLayout()->elementCount(), 1);
    }

    void emptyChartUsesItsWidth()
    {
        LiveChart chart;
        chart.resize(400, 300);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        chart.plot()->replot();
        QVERIFY(chart.plot()->axisRect()->width() > 300);
    }

    void newLineHoldsNullPoints()
    {
        LiveChart chart;
        const QPointer<QCPGraph> line = chart.addLine("Кухня", 255 | (128 << 16), 5);
        QCOMPARE(chart.lineCount(), 1);
        QCOMPARE(chart.pointCount(line), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(chart.keyAt(line, i), double(i + 1));
            QVERIFY(std::isnan(chart.valueAt(line, i)));
            QCOMPARE(chart.labelAt(i + 1), QStringLiteral(" "));
        }
        QCOMPARE(chart.lineTitle(line), QStringLiteral("Кухня"));
        QCOMPARE(chart.lineColor(line), QColor(255, 0, 128)); // 0x00BBGGRR
        QVERIFY(chart.inLegend(line));
        QCOMPARE(line->scatterStyle().size(), 1.0);
    }

    void pointsShiftThrough()
    {
        LiveChart chart;
        const QPointer<QCPGraph> a = chart.addLine("a", 0, 3);
        const QPointer<QCPGraph> b = chart.addLine("b", 0, 3);
        chart.addPoint(a, 4, 20.54, "14:05:09");
        chart.addNullPoint(b, 4, "14:05:09");
        chart.addPoint(a, 5, 21.0, "14:05:19");
        chart.addPoint(b, 5, -3.5, "14:05:19");
        QCOMPARE(chart.pointCount(a), 3);
        QCOMPARE(chart.pointCount(b), 3);
        QCOMPARE(chart.keyAt(a, 0), 3.0);
        QCOMPARE(chart.valueAt(a, 1), 20.54);
        QVERIFY(std::isnan(chart.valueAt(b, 1)));
        QCOMPARE(chart.valueAt(b, 2), -3.5);
        QCOMPARE(chart.labelAt(4), QStringLiteral("14:05:09"));
        QCOMPARE(chart.labelAt(5), QStringLiteral("14:05:19"));
        // Labels of x no line holds any more are gone.
        QCOMPARE(chart.labelAt(2), QString());
        QCOMPARE(chart.labelAt(3), QStringLiteral(" "));
    }

    void labelsShownWithoutOverlap()
    {
        LiveChart chart;
        chart.resize(300, 200);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        const QPointer<QCPGraph> line = chart.addLine("a", 0, 100);
        for (int x = 101; x <= 200; ++x)
            chart.addPoint(line, x, x % 7, QTime(0, 0).addSecs(x).toString("hh:mm:ss"));
        chart.plot()->replot();
        const QMap<double, QString> shown = chart.shownLabels();
        QVERIFY(!shown.isEmpty());
        QVERIFY(shown.size() < 20);
        QCOMPARE(shown.last(), chart.labelAt(qint64(shown.lastKey())));
        QCOMPARE(chart.plot()->xAxis->range().lower, 100.5);
        QCOMPARE(chart.plot()->xAxis->range().upper, 200.5);
    }

    void resetChart()
    {
        LiveChart chart;
        const QPointer<QCPGraph> a = chart.addLine("a", 0, 3);
        chart.addPoint(a, 4, 20, "14:05:09");
        ChartState state;
        state.PointCounter = 4;
        state.noteReading(20);
        chart.ResetChart(state, 6);
        QCOMPARE(chart.pointCount(a), 6);
        QVERIFY(std::isnan(chart.valueAt(a, 3)));
        QCOMPARE(chart.keyAt(a, 5), 6.0);
        QCOMPARE(chart.labelAt(4), QStringLiteral(" "));
        QCOMPARE(state.PointCounter, qint64(6));
        QCOMPARE(state.AutoMaxY, -100.0);
        QCOMPARE(state.AutoMinY, 100.0);
    }

    void removedLineLeavesLegend()
    {
        LiveChart chart;
        QPointer<QCPGraph> a = chart.addLine("a", 0, 3);
        const QPointer<QCPGraph> b = chart.addLine("b", 0, 3);
        chart.removeLine(a);
        QVERIFY(a.isNull());
        QCOMPARE(chart.lineCount(), 1);
        QCOMPARE(chart.plot()->legend->itemCount(), 1);
        chart.addPoint(a, 4, 1, "x"); // a removed line is ignored
        QCOMPARE(chart.pointCount(b), 3);
    }

    void leftAxisAndDoubleClick()
    {
        LiveChart chart;
        chart.setLeftAxis(16.2, 25.7);
        QCOMPARE(chart.leftMinimum(), 16.2);
        QCOMPARE(chart.leftMaximum(), 25.7);
        QSignalSpy spy(&chart, &LiveChart::doubleClicked);
        chart.resize(200, 100);
        chart.show();
        QTest::mouseDClick(chart.plot(), Qt::LeftButton, {}, QPoint(50, 50));
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_MAIN(TestLiveChart)
#include "tst_livechart.moc"
