#include "base/Formats.h"
#include "base/StringGrid.h"
#include "monitor/ChartState.h"
#include "base/RoundDecimals.h"
#include "monitor/SnsDrawCell.h"
#include "monitor/SnsGrid.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>

// Current-readings grid logic, the shared rounding and the chart's automatic bounds.
class TestSnsGrid : public QObject
{
    Q_OBJECT

    static QStringList row(const StringGrid &g, int r)
    {
        QStringList cells;
        for (int c = 0; c < 5; ++c)
            cells << g.Cells(c, r);
        return cells;
    }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void roundDecimals_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("n");
        QTest::addColumn<double>("expected");
        QTest::newRow("half up") << 21.25 << 10 << 21.3;
        QTest::newRow("half negative") << -21.25 << 10 << -21.3;
        QTest::newRow("below half") << 21.24 << 10 << 21.2;
        QTest::newRow("binary 20.45 below the half") << 20.45 << 10 << 20.5;
        QTest::newRow("binary 0.15") << 0.15 << 10 << 0.2;
        QTest::newRow("binary -0.15") << -0.15 << 10 << -0.2;
        QTest::newRow("binary 1.005 hundredths") << 1.005 << 100 << 1.01;
        QTest::newRow("binary 2.675 hundredths") << 2.675 << 100 << 2.68;
        QTest::newRow("sum near half") << 20.04 + 0.41 << 10 << 20.5;
        QTest::newRow("just below half stays") << 20.449999 << 10 << 20.4;
        QTest::newRow("mean of readings") << (21.3 + 22.0) / 2 << 10 << 21.7; // 21.65
        QTest::newRow("carry to whole") << 9.96 << 10 << 10.0;
        QTest::newRow("negative carry") << -9.96 << 10 << -10.0;
        QTest::newRow("small negative") << -0.04 << 10 << 0.0;
        QTest::newRow("whole") << 22.0 << 10 << 22.0;
        QTest::newRow("quarters") << 1.375 << 4 << 1.5;
        QTest::newRow("large") << 123456.75 << 10 << 123456.8;
        QTest::newRow("sensor step") << 25.0625 << 10 << 25.1;
        QTest::newRow("negative sensor step") << -10.0625 << 10 << -10.1;
    }
    void roundDecimals()
    {
        QFETCH(double, x);
        QFETCH(int, n);
        QFETCH(double, expected);
        // The nearest double to the multiple, not merely close to it.
        QCOMPARE(RoundDecimals(x, n), expected);
    }

    void roundDecimalsOddInput()
    {
        QVERIFY(std::isnan(RoundDecimals(std::nan(""), 10)));
        QCOMPARE(RoundDecimals(INFINITY, 10), INFINITY);
        QCOMPARE(RoundDecimals(1.26, 0), 1.26);
        QCOMPARE(RoundDecimals(1e300, 10), 1e300);
    }

    void firstSensorsAppendRows()
    {
        StringGrid g(3, 5);
        sns::prepare(g);
        QCOMPARE(g.RowCount(), 2);
        QCOMPARE(g.Cells(0, 0), QStringLiteral(" Имя"));
        QCOMPARE(g.Cells(1, 0), QStringLiteral(" t°"));
        QCOMPARE(g.Cells(2, 0), QStringLiteral(" Серийный номер"));

        AddToSns(g, "Кухня", "28A1", "21,5", "2");
        QCOMPARE(g.RowCount(), 2);
        QCOMPARE(row(g, 1), (QStringList{"Кухня", "21,5", "28A1", "", "2"}));
        AddToSns(g, "Улица", "10B2", "err", "0");
        AddToSns(g, "Чердак", "28C3", "off", "5");
        QCOMPARE(g.RowCount(), 4);
        QCOMPARE(row(g, 2), (QStringList{"Улица", "err", "10B2", "", "0"}));
        QCOMPARE(row(g, 3), (QStringList{"Чердак", "off", "28C3", "", "5"}));
    }

    void existingRowUpdated_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("previous");
        QTest::newRow("value after value") << QStringList{"21,5", "21,7"} << "21,7" << "21,5";
        QTest::newRow("err keeps previous") << QStringList{"21,5", "21,7", "err"} << "err" << "21,7";
        QTest::newRow("value after err") << QStringList{"21,5", "err", "22"} << "22" << "21,5";
        QTest::newRow("off keeps previous") << QStringList{"21,5", "off", "off"} << "off" << "21,5";
        QTest::newRow("first err") << QStringList{"err", "20"} << "20" << "";
    }
    void existingRowUpdated()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, current);
        QFETCH(QString, previous);
        StringGrid g(3, 2);
        sns::prepare(g);
        AddToSns(g, "Гостиная", "SN0", "19", "0");
        for (const QString &v : values)
            AddToSns(g, "Новое имя", "SN-new", v, "7");
        QCOMPARE(g.RowCount(), 3);
        // Name and serial of an existing row stay as first written.
        QCOMPARE(row(g, 2), (QStringList{"Новое имя", current, "SN-new", previous, "7"}));
        QCOMPARE(row(g, 1), (QStringList{"Гостиная", "19", "SN0", "", "0"}));
    }

    void sensorWithoutNameKeepsRowOne()
    {
        StringGrid g(3, 2);
        sns::prepare(g);
        AddToSns(g, "", "SN0", "19", "0");
        AddToSns(g, "Второй", "SN1", "20", "1");
        QCOMPARE(g.RowCount(), 3);
        QCOMPARE(g.Cells(4, 1), QStringLiteral("0"));
        QCOMPARE(g.Cells(4, 2), QStringLiteral("1"));
    }

    void trend_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("previous");
        QTest::addColumn<int>("trend");
        QTest::newRow("up") << "21,5" << "21,4" << int(sns::Trend::Up);
        QTest::newRow("down") << "-3" << "-2,9" << int(sns::Trend::Down);
        QTest::newRow("same") << "20" << "20" << int(sns::Trend::Same);
        QTest::newRow("no previous") << "20" << "" << int(sns::Trend::None);
        QTest::newRow("err") << "err" << "20" << int(sns::Trend::None);
        QTest::newRow("off") << "off" << "20" << int(sns::Trend::None);
        QTest::newRow("not a number") << "2x" << "20" << int(sns::Trend::None);
        QTest::newRow("point is not the separator") << "20.5" << "20" << int(sns::Trend::None);
    }
    void trend()
    {
        QFETCH(QString, current);
        QFETCH(QString, previous);
        QFETCH(int, trend);
        QCOMPARE(int(sns::trendOf(current, previous)), trend);
    }

    void drawCellShowsTrendPicture_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("rise is green") << "22" << QColor(0, 170, 0);
        QTest::newRow("fall is red") << "20" << QColor(220, 0, 0);
        QTest::newRow("equal is black") << "21" << QColor(Qt::black);
        QTest::newRow("err: none") << "err" << QColor(Qt::white);
    }
    void drawCellShowsTrendPicture()
    {
        QFETCH(QString, current);
        QFETCH(QColor, colour);
        StringGrid g(3, 2);
        sns::prepare(g);
        AddToSns(g, "a", "s", "21", "0");
        AddToSns(g, "a", "s", current, "0");
        QImage image(52, 16, QImage::Format_RGB32);
        image.fill(Qt::gray);
        QPainter painter(&image);
        SnsDrawCell(painter, g, 1, 1, QRect(0, 0, 52, 16));
        painter.end();
        QCOMPARE(image.pixelColor(0, 15), QColor(Qt::white)); // white ground
        // The middle of every picture is its colour: arrows 11 x 14 at (34, 1), "=" at (32, 0).
        const QPoint probe = colour == QColor(Qt::black) ? QPoint(32 + 5, 4) : QPoint(34 + 5, 1 + 8);
        QCOMPARE(image.pixelColor(probe), colour);
    }

    void autoBounds()
    {
        ChartState state;
        QCOMPARE(state.autoBounds().minimum, -112.0);
        QCOMPARE(state.autoBounds().maximum, -98.0);
        state.reset(100);
        state.noteReading(18.2);
        state.noteReading(23.7);
        state.noteReading(20);
        const ChartState::Range range = state.autoBounds();
        QCOMPARE(range.minimum, 18.2 - 2);
        QCOMPARE(range.maximum, 23.7 + 2);
        QCOMPARE(state.PointCounter, qint64(100));
    }
};

// Painting text needs the font database of a GUI application.
QTEST_MAIN(TestSnsGrid)
#include "tst_snsgrid.moc"
