#include "base/Formats.h"
#include "base/StringGrid.h"
#include "history/HourTable.h"
#include "history/ui/SHourDelegate.h"
#include "monitor/StringGridModel.h"
#include "support/FakeClock.h"

#include <QHeaderView>
#include <QTableView>
#include <QTest>

class TestSHourView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void showsGridAndPaintsCurrentHour()
    {
        FakeClock clock(QDateTime(QDate(2026, 12, 8), QTime(23, 40)));
        StringGrid SHour(26, 2);
        HourTable table(SHour, clock);
        table.writeHeader();
        TDSItems items(1);
        items[0].SN = QStringLiteral("28FF64D1A31603C2");
        items[0].HourAvg[23] = 4.5;
        table.ViewSHour(items, 0, QStringLiteral("Улица"));

        StringGridModel model(SHour);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.columnCount(), 26);
        QCOMPARE(model.headerData(24, Qt::Horizontal).toString(), QStringLiteral(" 23 ч."));
        QCOMPARE(model.index(0, 24).data().toString(), QStringLiteral("4,5"));
        QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));

        QTableView view;
        view.setModel(&model);
        view.setItemDelegate(new SHourDelegate(table, &view));
        view.verticalHeader()->hide();
        for (int col = 0; col < HourTable::ColCount; ++col)
            view.setColumnWidth(col, HourTable::columnWidth(col));
        view.resize(1000, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage image = view.viewport()->grab().toImage();
        auto cornerOf = [&](int col) {
            const QRect r = view.visualRect(model.index(0, col));
            return image.pixelColor(r.right() - 1, r.bottom() - 1);
        };
        QCOMPARE(cornerOf(24), HourTable::windowColor());
        QCOMPARE(cornerOf(23), QColor(Qt::white));
        QCOMPARE(cornerOf(25), QColor(Qt::white));

        // A new sensor row appears in the view as soon as the grid has it.
        items.push_back(TDSItem{});
        items[1].SN = QStringLiteral("10A1B2C3D4E5F607");
        table.ViewSHour(items, 1, QStringLiteral("Кухня"));
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("Кухня"));
    }
};

QTEST_MAIN(TestSHourView)
#include "tst_shourview.moc"
