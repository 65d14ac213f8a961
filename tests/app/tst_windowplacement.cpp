#include "app/ui/WindowPlacement.h"

#include <QTest>

class TestWindowPlacement : public QObject
{
    Q_OBJECT

private slots:
    void fit_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("placed");
        const QRect designed(664, 115, 1219, 906);
        QTest::newRow("fits: designed place kept") << designed << QRect(0, 0, 1920, 1080) << designed;
        QTest::newRow("fits exactly") << QRect(0, 0, 1280, 1024) << QRect(0, 0, 1280, 1024) << QRect(0, 0, 1280, 1024);
        QTest::newRow("1280 x 1024: moved left, keeps its size")
            << designed << QRect(0, 0, 1280, 1024) << QRect(61, 115, 1219, 906);
        QTest::newRow("1366 x 768 with a panel: moved, then shrunk")
            << designed << QRect(0, 27, 1366, 741) << QRect(147, 27, 1219, 741);
        QTest::newRow("1024 x 600: shrunk both ways") << designed << QRect(0, 0, 1024, 600) << QRect(0, 0, 1024, 600);
        QTest::newRow("off the top-left") << QRect(-50, -20, 400, 300) << QRect(0, 0, 1280, 1024)
                                          << QRect(0, 0, 400, 300);
        QTest::newRow("second screen to the right")
            << QRect(1700, 900, 800, 600) << QRect(1280, 0, 1920, 1080) << QRect(1700, 480, 800, 600);
        QTest::newRow("second screen, larger than it")
            << designed << QRect(1280, 0, 1024, 768) << QRect(1280, 0, 1024, 768);
    }
    void fit()
    {
        QFETCH(QRect, frame);
        QFETCH(QRect, available);
        QFETCH(QRect, placed);
        const QRect result = windowplacement::fit(frame, available);
        QCOMPARE(result, placed);
        QVERIFY(available.contains(result));
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
