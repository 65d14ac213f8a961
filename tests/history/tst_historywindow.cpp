#include "StoreTestUtil.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "dialogs/ui/TFormLoading.h"
#include "history/ReadingStore.h"
#include "history/ui/HistoryChart.h"
#include "history/ui/HistorySnsView.h"
#include "history/ui/TFormStats.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/RecordingLog.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QComboBox>
#include <QDateEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace storetest;

namespace {

const QString sensorA = QStringLiteral("28FF64D1A31603C2");
const QString sensorB = QStringLiteral("10A1B2C3D4E5F6A7");
const QString stranger = QStringLiteral("28FF000000000099"); // stored, but no sensor has it

struct Window
{
    QTemporaryDir dir;
    FakeClock clock{QDateTime(QDate(2026, 5, 10), QTime(18, 0))};
    FakeDialogBoxes boxes;
    RecordingLog log;
    ReadingStore store{dir.path() + QLatin1Char('/'), clock, log};
    QMap<QString, QString> names{{sensorA, QStringLiteral("Кухня")}, {sensorB, QStringLiteral("Улица")}};
    TFormLoading loading;
    TFormStats form{TFormStatsContext{
        .boxes = boxes,
        .clock = clock,
        .store = [this] { return &store; },
        .NameBySerial = [this](const QString &sn) { return names.value(sn); },
    }};

    Window()
    {
        store.ConnectDB();
        form.setLoadingWindow(&loading, loading.ProgressBar1);
    }
    void add(const QString &sn, const QTime &time, double t)
    {
        clock.setNow(QDateTime(QDate(2026, 5, 10), time));
        store.AddToStats(sn, t);
    }
    qint64 rows() const { return rowCount(store.storePath()); }
    QStringList column(int col) const
    {
        QStringList cells;
        for (int row = 0; row < form.Sns.RowCount(); ++row)
            cells << form.Sns.Cells(col, row);
        return cells;
    }
};

// Open files of this process that are the store, and this process's threads.
int storeHandles(const QString &path)
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget().startsWith(path))
            ++count;
    }
    return count;
}

// Threads of this process that are not Qt's own (its pools name theirs).
int threads()
{
    const auto name = [](const QString &task) {
        QFile comm(task + QStringLiteral("/comm"));
        return comm.open(QIODevice::ReadOnly) ? comm.readAll() : QByteArray();
    };
    const QByteArray program = name(QStringLiteral("/proc/self"));
    const QDir tasks(QStringLiteral("/proc/self/task"));
    int count = 0;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        count += name(tasks.filePath(task)) == program ? 1 : 0;
    return count;
}

} // namespace

class TestHistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void noTickedSensorDoesNothing()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.form.show();
        w.form.SnsDblClick(); // the first row is current
        bool loadingShown = false;
        connect(w.loading.ProgressBar1, &QProgressBar::valueChanged, [&] { loadingShown = true; });
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(w.form.Chart1->lineCount(), 0);
        QVERIFY(!loadingShown);
        QVERIFY(!w.loading.isVisible());

        w.boxes.confirmAnswers << true;
        QTest::mouseClick(w.form.SpeedButton3, Qt::LeftButton);
        QCOMPARE(w.boxes.questions, QStringList{QStringLiteral("Удалить историю выбранных датчиков с 10.05.2026 по 10.05.2026?")});
        QVERIFY(w.boxes.messages.isEmpty());
        QVERIFY(w.boxes.errors.isEmpty());
        QCOMPARE(w.rows(), 1);
    }

    // The loading window stands over the window's middle with the rows as its maximum while the
    // chart is built, and is gone afterwards.
    void chartBuiltUnderTheLoadingWindow()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.add(sensorA, QTime(11, 0), 21);
        w.add(stranger, QTime(11, 0), 5);
        w.form.show();
        QRect frame;
        QPoint placed;
        int maximum = -1;
        connect(w.loading.ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
            if (value == 1) {
                QVERIFY(w.loading.isVisible());
                frame = w.form.frameGeometry();
                placed = w.loading.pos();
                maximum = w.loading.ProgressBar1->maximum();
            }
        });
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(maximum, 3);
        QCOMPARE(placed, TFormStats::loadingPosition(frame));
        QVERIFY(!w.loading.isVisible());
        QCOMPARE(w.loading.ProgressBar1->value(), 0);
        QVERIFY(!QApplication::overrideCursor());
        // Ordered by serial; the serial without a sensor has an empty name and title.
        QCOMPARE(w.form.Chart1->lineCount(), 2);
        QCOMPARE(w.form.Chart1->lineTitle(0), QString());
        QVERIFY(w.form.Chart1->inLegend(0));
        QCOMPARE(w.form.Chart1->lineTitle(1), QStringLiteral("Кухня"));
        QCOMPARE(w.form.Chart1->pointCount(1), 2);
        QVERIFY(w.column(2).contains(stranger));
        QCOMPARE(w.form.GetNameSer(stranger), QString());
    }

    // A chart cancelled by another press or by hiding the window leaves no thread, no
    // connection and no loading window, and never arrives.
    void cancelledChartLeavesNothingBehind_data()
    {
        QTest::addColumn<bool>("hide");
        QTest::newRow("window hidden") << true;
        QTest::newRow("another press") << false;
    }
    void cancelledChartLeavesNothingBehind()
    {
        QFETCH(bool, hide);
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        QByteArray sql = "begin;";
        const double day = datetime::fromQDateTime(QDateTime(QDate(2026, 5, 10), QTime(0, 0)));
        for (int i = 0; i < 150000; ++i)
            sql += "insert into stats values (" + QByteArray::number(day + i / 150000.0, 'g', 17) + ", '" + sensorA.toUtf8() + "', 1);";
        QVERIFY(exec(w.store.storePath(), (sql + "commit;").constData()));
        w.form.show();
        w.form.Detal->setCurrentText(QStringLiteral("Секунда"));
        const int threadsBefore = threads();
        const int handlesBefore = storeHandles(w.store.storePath());
        QSignalSpy drawn(&w.form, &TFormStats::chartDrawn);

        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QVERIFY(w.form.chartRunning());
        QVERIFY(w.loading.isVisible());
        if (hide) {
            w.form.hide();
        } else {
            w.form.Detal->setCurrentText(QStringLiteral("День"));
            QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
            QTRY_VERIFY(!w.form.chartRunning());
            QCOMPARE(drawn.size(), 1);
            QCOMPARE(w.form.Chart1->pointCount(0), 1);
        }
        QVERIFY(!w.form.chartRunning());
        QVERIFY(!w.loading.isVisible());
        QCOMPARE(threads(), threadsBefore);
        QCOMPARE(storeHandles(w.store.storePath()), handlesBefore);
        QTest::qWait(100);
        QCOMPARE(drawn.size(), hide ? 0 : 1);
        QVERIFY(w.boxes.errors.isEmpty());
    }

    void loadingPosition_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("designed place") << QRect(261, 123, 926, 407) << QPoint(643, 284);
        QTest::newRow("halves to even") << QRect(0, 0, 3, 1) << QPoint(-80, -42);
    }
    void loadingPosition()
    {
        QFETCH(QRect, frame);
        QFETCH(QPoint, position);
        QCOMPARE(TFormStats::loadingPosition(frame), position);
    }

    // An error while the chart is built leaves neither the hourglass nor the loading window.
    void storeErrorCleansUp()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.form.show();
        QVERIFY(exec(w.store.storePath(), "drop table stats"));
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(w.boxes.errors.size(), 1);
        QVERIFY(w.boxes.errors.at(0).contains(QStringLiteral("stats"), Qt::CaseInsensitive));
        QVERIFY(!w.loading.isVisible());
        QVERIFY(!QApplication::overrideCursor());
    }

    void secondShowingAddsOnlyNewSerialsTickedAtTheBottom()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.form.show();
        w.form.SnsDblClick();
        w.form.hide();
        w.add(sensorB, QTime(11, 0), 3);
        w.add(sensorA, QTime(11, 0), 21);
        w.names[sensorA] = QStringLiteral("renamed");
        w.form.show();
        QCOMPARE(w.column(2), (QStringList{sensorA, sensorB}));
        QCOMPARE(w.column(0), (QStringList{QString(), QStringLiteral("x")}));
        QCOMPARE(w.column(1), (QStringList{QStringLiteral("Кухня"), QStringLiteral("Улица")}));
    }

    void doubleClickTwiceRestoresTheTick()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.add(sensorB, QTime(10, 0), 3);
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QWidget *cells = w.form.SnsView->viewport();
        const QPoint second(50, 16 + 8);
        QTest::mouseDClick(cells, Qt::LeftButton, {}, second);
        QCOMPARE(w.column(0), (QStringList{QStringLiteral("x"), QString()}));
        QTest::mouseDClick(cells, Qt::LeftButton, {}, second);
        QCOMPARE(w.column(0), (QStringList{QStringLiteral("x"), QStringLiteral("x")}));
    }

    void deletedPointsStayOnTheChartUntilRefresh()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.add(sensorB, QTime(10, 0), 3);
        w.form.show();
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(w.form.Chart1->lineCount(), 2);

        w.form.SnsView->setCurrentIndex(w.form.SnsView->model()->index(1, 0));
        w.form.SnsDblClick(); // only the first row stays ticked
        w.boxes.confirmAnswers << true;
        QTest::mouseClick(w.form.SpeedButton3, Qt::LeftButton);
        QCOMPARE(w.boxes.messages, QStringList{QStringLiteral("Итория удалена.")});
        QCOMPARE(w.rows(), 1);
        QVERIFY(!QFile::exists(w.store.tempPath()));
        QCOMPARE(w.form.Chart1->lineCount(), 2);
        QCOMPARE(w.column(2).size(), 2);

        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(w.form.Chart1->lineCount(), 0);
        QVERIFY(w.boxes.errors.isEmpty());
    }

    void deleteAnsweredNoKeepsEverything()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.form.show();
        w.boxes.confirmAnswers << false;
        QTest::mouseClick(w.form.SpeedButton3, Qt::LeftButton);
        QCOMPARE(w.rows(), 1);
        QVERIFY(w.boxes.messages.isEmpty());
    }

    void escapeHidesTheWindowFromAnyControl()
    {
        Window w;
        w.form.show();
        QTest::keyClick(w.form.DateFrom, Qt::Key_Escape);
        QVERIFY(!w.form.isVisible());
    }

    // A left drag towards the lower right zooms in, a drag back up and left returns to all points.
    void dragZoomsAndResets()
    {
        Window w;
        for (int h = 0; h < 10; ++h)
            w.add(sensorA, QTime(h, 0), h);
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        HistoryChart &chart = *w.form.Chart1;
        const QRectF full = chart.view();
        QWidget *plot = chart.plotArea();
        const QPoint from(plot->width() / 4, plot->height() / 4);
        const QPoint to(plot->width() / 2, plot->height() / 2);
        const QRectF wanted = chart.rectOfDrag(from, to);
        QTest::mousePress(plot, Qt::LeftButton, {}, from);
        QTest::mouseMove(plot, to);
        QTest::mouseRelease(plot, Qt::LeftButton, {}, to);
        QTRY_VERIFY(!chart.animating());
        QCOMPARE(chart.view(), wanted);
        QTest::mousePress(plot, Qt::LeftButton, {}, to);
        QTest::mouseRelease(plot, Qt::LeftButton, {}, from);
        QTRY_VERIFY(!chart.animating());
        QCOMPARE(chart.view(), full);
    }

    // Points come in their key texts' order (the 1st of two months before the 2nd) and lines
    // leave gaps in each other's points: every line still runs in ascending x, and each x has
    // its own label.
    void linesAscendWithTheirLabels()
    {
        HistoryChart chart;
        const auto point = [](qint64 x, double y) {
            return history::ChartPoint{x, y, QStringLiteral("L") + QString::number(x)};
        };
        chart.addLine(QStringLiteral("a"), {point(30, 1), point(60, 2), point(40, 3), point(70, 4)});
        chart.addLine(QStringLiteral("b"), {point(10, 5), point(30, 6), point(50, 7), point(80, 8)});
        chart.addLine(QStringLiteral("c"), {point(35, 9)});
        const QList<QList<qint64>> keys{{30, 40, 60, 70}, {10, 30, 50, 80}, {35}};
        const QList<QList<double>> values{{1, 3, 2, 4}, {5, 6, 7, 8}, {9}};
        for (int line = 0; line < keys.size(); ++line) {
            QCOMPARE(chart.pointCount(line), keys[line].size());
            for (int i = 0; i < keys[line].size(); ++i) {
                QCOMPARE(chart.keyAt(line, i), double(keys[line][i]));
                QCOMPARE(chart.valueAt(line, i), values[line][i]);
                QCOMPARE(chart.labelAt(keys[line][i]), QStringLiteral("L") + QString::number(keys[line][i]));
            }
        }
        QCOMPARE(chart.labelAt(20), QString());
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
