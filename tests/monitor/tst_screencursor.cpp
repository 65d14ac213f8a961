#include "base/ScreenCursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTest>

#include <memory>
#include <vector>

namespace {

int shown()
{
    const QCursor *cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : -1;
}

} // namespace

// The cycle's busy cursor, a chart's and a diagnosis's hourglass overlap in any order: each
// letting go leaves the latest remaining shape, and the last one the normal cursor.
class TestScreenCursor : public QObject
{
    Q_OBJECT

private slots:
    void lettingGoInAnyOrder_data()
    {
        QTest::addColumn<QList<int>>("taken");   // shapes, in the order they are held
        QTest::addColumn<QList<int>>("released"); // indexes into `taken`, in the order let go
        QTest::addColumn<QList<int>>("left");     // the shape shown after each (-1: none)
        const int busy = Qt::BusyCursor;
        const int wait = Qt::WaitCursor;
        const int cross = Qt::CrossCursor;
        QTest::newRow("a diagnosis within a cycle") << QList{busy, wait} << QList{1, 0} << QList{busy, -1};
        QTest::newRow("a diagnosis ends while the cycle it held up runs") << QList{wait, busy} << QList{0, 1} << QList{busy, -1};
        QTest::newRow("a cycle ends while a chart is built") << QList{busy, wait} << QList{0, 1} << QList{wait, -1};
        QTest::newRow("three, the middle first") << QList{busy, wait, cross} << QList{1, 2, 0} << QList{cross, busy, -1};
        QTest::newRow("two of one shape") << QList{wait, wait} << QList{0, 1} << QList{wait, -1};
    }
    void lettingGoInAnyOrder()
    {
        QFETCH(QList<int>, taken);
        QFETCH(QList<int>, released);
        QFETCH(QList<int>, left);
        QCOMPARE(shown(), -1);
        std::vector<std::unique_ptr<ScreenCursor>> holds;
        for (const int shape : taken) {
            holds.push_back(std::make_unique<ScreenCursor>(static_cast<Qt::CursorShape>(shape)));
            QCOMPARE(shown(), shape);
        }
        for (int i = 0; i < released.size(); ++i) {
            holds.at(static_cast<std::size_t>(released.at(i))).reset();
            QCOMPARE(shown(), left.at(i));
        }
        // One override of Qt's for them all: nothing is left on its stack.
        QGuiApplication::restoreOverrideCursor();
        QCOMPARE(shown(), -1);
    }
};

QTEST_MAIN(TestScreenCursor)
#include "tst_screencursor.moc"
