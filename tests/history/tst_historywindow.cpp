#include "StoreTestUtil.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "dialogs/ui/TFormLoading.h"
#include "history/ReadingStore.h"
#include "history/ui/HistoryChart.h"
#include "history/ui/HistorySnsView.h"
#include "history/ui/TForm4.h"
#include "history/ui/TFormStats.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/RecordingLog.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QComboBox>
#include <QDateEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QLineEdit>
#include <QScrollBar>
#include <QToolButton>
#include <QWindow>

#include <cmath>

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

    explicit Window(const QByteArray &storeBytes = {})
    {
        if (!storeBytes.isEmpty()) {
            QFile file(store.storePath());
            if (file.open(QIODevice::WriteOnly))
                file.write(storeBytes);
        }
        store.ConnectDB();
        form.setLoadingWindow(&loading, loading.ProgressBar1);
    }
    // Shows the window and waits until its list holds the stored serials.
    bool show()
    {
        QSignalSpy loaded(&form, &TFormStats::sensorsLoaded);
        form.show();
        return loaded.size() == 1 || loaded.wait(5000);
    }
    // Readings written straight into the file, in this order, as another program could.
    bool insert(const QList<std::pair<QString, QByteArray>> &rows) const
    {
        QByteArray sql = "begin;";
        for (const auto &[sn, dat] : rows)
            sql += "insert into stats values (" + dat + ", '" + sn.toUtf8() + "', 1);";
        return exec(store.storePath(), (sql + "commit;").constData());
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
QStringList strings(const QString &path, const char *sql)
{
    QStringList result;
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW)
            result << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return result;
}

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

// Counts the times the watched window is shown.
class ShowCounter : public QObject
{
public:
    int shown = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            ++shown;
        return QObject::eventFilter(watched, event);
    }
};

class TestHistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void noTickedSensorDoesNothing()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        QVERIFY(w.show());
        w.form.SnsDblClick(); // the first row is current
        ShowCounter loadingShown;
        w.loading.installEventFilter(&loadingShown);
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(w.form.Chart1->lineCount(), 0);
        QCOMPARE(loadingShown.shown, 0);
        QVERIFY(!QApplication::overrideCursor());
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
        QVERIFY(w.show());
        QRect frame;
        QPoint placed;
        int maximum = -1;
        int cursor = -1;
        connect(w.loading.ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
            if (value == 1) {
                QVERIFY(w.loading.isVisible());
                frame = w.form.frameGeometry();
                placed = w.loading.pos();
                maximum = w.loading.ProgressBar1->maximum();
                cursor = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : -1;
            }
        });
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(maximum, 3);
        // The hourglass is the screen's, over every window, while the chart is built.
        QCOMPARE(cursor, int(Qt::WaitCursor));
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

    // A chart cancelled by another press leaves no thread, no connection and no loading
    // window, and never arrives; hiding the window keeps the chart being built.
    void chartEndsCleanlyPressedAgainOrHidden_data()
    {
        QTest::addColumn<bool>("hide");
        QTest::newRow("window hidden") << true;
        QTest::newRow("another press") << false;
    }
    void chartEndsCleanlyPressedAgainOrHidden()
    {
        QFETCH(bool, hide);
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        QByteArray sql = "begin;";
        const double day = datetime::fromQDateTime(QDateTime(QDate(2026, 5, 10), QTime(0, 0)));
        for (int i = 0; i < 150000; ++i)
            sql += "insert into stats values (" + QByteArray::number(day + i / 150000.0, 'g', 17) + ", '" + sensorA.toUtf8() + "', 1);";
        QVERIFY(exec(w.store.storePath(), (sql + "commit;").constData()));
        QVERIFY(w.show());
        w.form.Detal->setCurrentText(QStringLiteral("Секунда"));
        const int threadsBefore = threads();
        const int handlesBefore = storeHandles(w.store.storePath());
        QSignalSpy drawn(&w.form, &TFormStats::chartDrawn);

        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QVERIFY(w.form.chartRunning());
        QVERIFY(w.loading.isVisible());
        QVERIFY(QApplication::overrideCursor());
        if (hide) {
            w.form.hide();
            QTRY_VERIFY_WITH_TIMEOUT(!w.form.chartRunning(), 30000);
            QCOMPARE(drawn.size(), 1);
            QCOMPARE(w.form.Chart1->lineCount(), 1);
            QVERIFY(w.form.Chart1->pointCount(0) > 1000);
        } else {
            w.form.Detal->setCurrentText(QStringLiteral("День"));
            QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
            QTRY_VERIFY(!w.form.chartRunning());
            QCOMPARE(drawn.size(), 1);
            QCOMPARE(w.form.Chart1->pointCount(0), 1);
        }
        QVERIFY(!w.form.chartRunning());
        QVERIFY(!w.loading.isVisible());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(threads(), threadsBefore);
        QCOMPARE(storeHandles(w.store.storePath()), handlesBefore);
        QTest::qWait(100);
        QCOMPARE(drawn.size(), 1);
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
        QVERIFY(w.show());
        QVERIFY(exec(w.store.storePath(), "drop table stats"));
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QVERIFY(QApplication::overrideCursor());
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
        QVERIFY(w.show());
        w.form.SnsDblClick();
        w.form.hide();
        w.add(sensorB, QTime(11, 0), 3);
        w.add(sensorA, QTime(11, 0), 21);
        w.names[sensorA] = QStringLiteral("renamed");
        QVERIFY(w.show());
        QCOMPARE(w.column(2), (QStringList{sensorA, sensorB}));
        QCOMPARE(w.column(0), (QStringList{QString(), QStringLiteral("x")}));
        QCOMPARE(w.column(1), (QStringList{QStringLiteral("Кухня"), QStringLiteral("Улица")}));
    }

    void doubleClickTwiceRestoresTheTick()
    {
        Window w;
        w.add(sensorA, QTime(10, 0), 20);
        w.add(sensorB, QTime(10, 0), 3);
        QVERIFY(w.show());
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
        QVERIFY(w.show());
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
        QVERIFY(w.show());
        w.boxes.confirmAnswers << false;
        QTest::mouseClick(w.form.SpeedButton3, Qt::LeftButton);
        QCOMPARE(w.rows(), 1);
        QVERIFY(w.boxes.messages.isEmpty());
    }

    void escapeHidesTheWindowFromAnyControl()
    {
        Window w;
        QVERIFY(w.show());
        QTest::keyClick(w.form.DateFrom, Qt::Key_Escape);
        QVERIFY(!w.form.isVisible());
    }

    // A left drag towards the lower right zooms in, a drag back up and left returns to all points.
    void dragZoomsAndResets()
    {
        Window w;
        for (int h = 0; h < 10; ++h)
            w.add(sensorA, QTime(h, 0), h);
        QVERIFY(w.show());
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
        chart.setLabelText([](qint64 x) { return QStringLiteral("L") + QString::number(x); });
        const auto point = [](qint64 x, double y) { return history::ChartPoint{x, y}; };
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
    // Labels are drawn where they do not cover each other, whatever the spacing of the points,
    // each whole inside the chart; at the finer levels the first point's label is among them.
    void labelsNeverOverlap_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QList<QDateTime>>("times");
        QTest::addColumn<bool>("firstShown");
        // How each drawn label reads its tick's time.
        QTest::addColumn<QString>("format");
        const auto hourly = [](QDateTime from, const QDateTime &to, int seconds) {
            QList<QDateTime> times;
            for (; from <= to; from = from.addSecs(seconds))
                times << from;
            return times;
        };
        const QDate day(2026, 5, 10);
        QTest::newRow("hour, two stretches a month apart")
            << QStringLiteral("Час") << QDate(2025, 12, 31) << QDate(2026, 2, 2)
            << hourly(QDateTime(QDate(2025, 12, 31), QTime(0, 0)), QDateTime(QDate(2026, 1, 1), QTime(23, 0)), 3600)
                   + hourly(QDateTime(QDate(2026, 1, 30), QTime(0, 0)), QDateTime(QDate(2026, 2, 2), QTime(23, 0)), 3600)
            << true << QStringLiteral("yyyy.MM.dd HH");
        QTest::newRow("second, a day with one dense hour")
            << QStringLiteral("Секунда") << day << day
            << hourly(QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(23, 0)), 3600)
                   + hourly(QDateTime(day, QTime(14, 0, 5)), QDateTime(day, QTime(14, 59, 55)), 10)
            << true << QStringLiteral("yyyy.MM.dd HH:mm:ss");
        QTest::newRow("minute, even")
            << QStringLiteral("Минута") << day << day
            << hourly(QDateTime(day, QTime(8, 0)), QDateTime(day, QTime(12, 0)), 60) << true
            << QStringLiteral("yyyy.MM.dd HH:mm");
        QTest::newRow("day, a year") << QStringLiteral("День") << QDate(2025, 5, 11) << day
                                     << hourly(QDateTime(QDate(2025, 5, 11), QTime(12, 0)), QDateTime(day, QTime(12, 0)), 86400)
                                     << false << QStringLiteral("yyyy.MM.dd");
    }
    void labelsNeverOverlap()
    {
        QFETCH(QString, level);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QList<QDateTime>, times);
        QFETCH(bool, firstShown);
        QFETCH(QString, format);
        Window w;
        QList<std::pair<QString, QByteArray>> rows;
        for (const QDateTime &time : times)
            rows.append({sensorA, QByteArray::number(datetime::fromQDateTime(time), 'g', 17)});
        QVERIFY(w.insert(rows));
        QVERIFY(w.show());
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        w.form.DateFrom->setDate(from);
        w.form.DateTo->setDate(to);
        w.form.Detal->setCurrentText(level);
        QTest::mouseClick(w.form.SpeedButton4, Qt::LeftButton);
        QTRY_VERIFY(!w.form.chartRunning());
        QCOMPARE(w.form.Chart1->lineCount(), 1);
        QCustomPlot *plot = w.form.Chart1->plot();
        // Drawn as the window draws it, until the layout has settled.
        for (int i = 0; i < 5; ++i) {
            plot->replot();
            QCoreApplication::processEvents();
        }
        const QVector<double> ticks = plot->xAxis->tickVector();
        const QVector<QString> labels = plot->xAxis->tickVectorLabels();
        QVERIFY2(ticks.size() >= 2, qPrintable(QString::number(ticks.size())));
        const QFontMetrics metrics(plot->xAxis->tickLabelFont());
        int freeFrom = 0;
        for (int i = 0; i < ticks.size(); ++i) {
            const int width = metrics.boundingRect(0, 0, 0, 0, Qt::TextDontClip, labels.at(i)).width();
            const double left = plot->xAxis->coordToPixel(ticks.at(i)) - width / 2.0;
            const QDateTime time(QDate(1899, 12, 30).addDays(static_cast<qint64>(ticks.at(i)) / 86400),
                                 QTime(0, 0).addSecs(static_cast<int>(static_cast<qint64>(ticks.at(i)) % 86400)));
            QCOMPARE(labels.at(i), time.toString(format));
            QVERIFY2(left >= freeFrom, qPrintable(labels.at(i)));
            QVERIFY2(left + width <= plot->width() - 1, qPrintable(labels.at(i)));
            freeFrom = static_cast<int>(std::ceil(left + width));
        }
        if (firstShown)
            QCOMPARE(ticks.first(), w.form.Chart1->keyAt(0, 0));
    }

    // Esc in a dropped-down list or calendar closes that only; the next Esc hides the window.
    void escapeInAPopupClosesThePopup_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("Detal") << QStringLiteral("Detal");
        QTest::newRow("DateFrom") << QStringLiteral("DateFrom");
    }
    void escapeInAPopupClosesThePopup()
    {
        QFETCH(QString, control);
        Window w;
        QVERIFY(w.show());
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        auto *widget = w.form.findChild<QWidget *>(control);
        QVERIFY(widget);
        // Dropped down by the mouse, on the arrow.
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(widget->width() - 6, widget->height() / 2));
        QTRY_VERIFY(QApplication::activePopupWidget());
        QWidget *popup = QApplication::activePopupWidget();
        QTest::keyClick(popup->windowHandle(), Qt::Key_Escape);
        QTRY_VERIFY(!popup->isVisible());
        QVERIFY(w.form.isVisible());
        QTest::keyClick(w.form.windowHandle(), Qt::Key_Escape);
        QTRY_VERIFY(!w.form.isVisible());
    }

    // Two sensors that differ in their last digit show both serials whole.
    void serialNumbersShowWhole()
    {
        Window w;
        const QStringList serials{QStringLiteral("28FF64D1A31603C8"), QStringLiteral("28FF64D1A31603C0")};
        for (const QString &sn : serials)
            w.add(sn, QTime(10, 0), 20);
        QVERIFY(w.show());
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        HistorySnsView &view = *w.form.SnsView;
        const QFontMetrics metrics(view.font());
        const int column = HistorySensorList::SerialCol;
        QVERIFY(view.columnViewportPosition(column) + view.columnWidth(column) <= view.viewport()->width());
        QVERIFY(!view.horizontalScrollBar()->isVisible());
        for (const QString &digits : {QStringLiteral("8888888888888888"), QStringLiteral("DDDDDDDDDDDDDDDD"),
                                      QStringLiteral("0000000000000000"), serials.at(0)}) {
            // The cell's text stops short of its grid line.
            QVERIFY2(metrics.horizontalAdvance(digits) < view.columnWidth(column), qPrintable(digits));
        }
        QCOMPARE(w.column(column), serials);
    }

    // The help window's title bar is empty: no text for the window manager to fill with the
    // program's name.
    void helpCaptionIsEmpty()
    {
        TForm4 help;
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        const QString title = help.windowHandle()->title();
        QVERIFY(!title.isEmpty());
        QVERIFY(title.trimmed().isEmpty());
    }

    // A store that is not a database: the window shows the engine's reason, as the log has it.
    void unusableStoreShowsTheEnginesReason()
    {
        Window w(QByteArray(4096, 'x'));
        QVERIFY(!w.store.ready());
        w.form.show();
        QTRY_COMPARE(w.boxes.errors.size(), 1);
        QVERIFY2(w.boxes.errors.at(0).contains(QStringLiteral("file is not a database")), qPrintable(w.boxes.errors.at(0)));
        QVERIFY(w.log.messages.contains(w.boxes.errors.at(0)));
    }

    // The list is what "SELECT DISTINCT Sn FROM Stats" gives, in its order: each serial where its
    // first row is, also for rows another program wrote with no date or an odd one, with the
    // hourly sums and with a store still without them.
    void listIsTheStoredSerialsInTheirOrder_data()
    {
        QTest::addColumn<bool>("sums");
        QTest::newRow("hourly sums") << true;
        QTest::newRow("no hourly sums yet") << false;
    }
    void listIsTheStoredSerialsInTheirOrder()
    {
        QFETCH(bool, sums);
        Window w;
        const QByteArray noon = QByteArray::number(datetime::fromQDateTime(QDateTime(QDate(2026, 5, 10), QTime(12, 0))), 'g', 17);
        const QByteArray eleven = QByteArray::number(datetime::fromQDateTime(QDateTime(QDate(2026, 5, 10), QTime(11, 0))), 'g', 17);
        QVERIFY(w.insert({{sensorB, noon},
                          {QStringLiteral("28000000000000D1"), "-3"},
                          {sensorA, eleven},
                          {QStringLiteral("28000000000000D2"), "'вчера'"},
                          {QStringLiteral("28000000000000D3"), "NULL"},
                          {sensorA, noon},
                          {QStringLiteral("28000000000000D4"), "3000000"},
                          {stranger, eleven}}));
        if (!sums)
            QVERIFY(exec(w.store.storePath(), "drop trigger stats_hours_insert; drop trigger stats_hours_delete; "
                                                     "drop trigger stats_hours_update; drop table stats_hours;"));
        QVERIFY(w.show());
        const QStringList expected = strings(w.store.storePath(), "SELECT DISTINCT Sn FROM Stats");
        QCOMPARE(expected.size(), 7);
        QCOMPARE(w.column(HistorySensorList::SerialCol), expected);
        QCOMPARE(w.column(HistorySensorList::TickCol), QStringList(7, QStringLiteral("x")));
    }

    // The top panel's controls where they were designed.
    void panelLayout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Label1") << "Label1" << QRect(10, 16, -1, -1);
        QTest::newRow("DateFrom") << "DateFrom" << QRect(23, 12, 85, 19);
        QTest::newRow("Label2") << "Label2" << QRect(110, 16, -1, -1);
        QTest::newRow("DateTo") << "DateTo" << QRect(127, 12, 85, 19);
        QTest::newRow("Detal") << "Detal" << QRect(216, 11, 113, -1);
        QTest::newRow("SpeedButton4") << "SpeedButton4" << QRect(338, 3, 34, 34);
        QTest::newRow("SpeedButton2") << "SpeedButton2" << QRect(378, 3, 34, 34);
        QTest::newRow("SpeedButton3") << "SpeedButton3" << QRect(418, 3, 34, 34);
    }
    void panelLayout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        Window w;
        QVERIFY(w.show());
        auto *widget = w.form.Panel1->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->pos(), geometry.topLeft());
        if (geometry.width() > 0)
            QCOMPARE(widget->width(), geometry.width());
        if (geometry.height() > 0)
            QCOMPARE(widget->height(), geometry.height());
        // A picker still shows its whole date (its text field keeps two pixels each side).
        if (auto *picker = qobject_cast<QDateEdit *>(widget)) {
            auto *edit = picker->findChild<QLineEdit *>();
            QVERIFY(edit);
            QVERIFY2(edit->fontMetrics().horizontalAdvance(picker->text()) <= edit->width() - 4,
                     qPrintable(QString::number(edit->width())));
        }
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
