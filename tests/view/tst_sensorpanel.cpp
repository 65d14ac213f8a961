#include "base/KalvexError.h"
#include "base/StringGrid.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/ui/SensorPicture.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeDialogBoxes.h"
#include "support/RecordingLog.h"
#include "view/ui/SensorPanel.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

// The main window's panel PnItems with its menus, as the main window holds them.
struct Fixture
{
    QWidget window;
    QFrame *panel = new QFrame(&window);
    LiveChart chart;
    StringGrid Sns{3, 2};
    StringGrid SHour{26, 2};
    FakeDialogBoxes boxes;
    RecordingLog log;
    QMenu imgPopup;
    QAction *NImgOn = imgPopup.addAction(QStringLiteral("Включить"));
    QAction *NImgOff = imgPopup.addAction(QStringLiteral("Выключить"));
    QMenu PopupMenu2;
    std::unique_ptr<SensorSlots> sensors;
    std::unique_ptr<SensorPanel> sensorPanel;
    QList<int> edited;

    explicit Fixture(QSize panelSize = QSize(400, 300))
    {
        PopupMenu2.addAction(QStringLiteral("Добавить датчик"));
        window.resize(600, 400);
        panel->setGeometry(QRect(QPoint(10, 10), panelSize));
        panel->setFrameShape(QFrame::Box);
        panel->setAutoFillBackground(true);
        QPalette black = panel->palette();
        black.setColor(QPalette::Window, Qt::black);
        panel->setPalette(black);
        sensors = std::make_unique<SensorSlots>(panel, chart, Sns, SHour, boxes, [] { return 3; });
        sensors->EditItem = [this](int index) { edited << index; };
        sensorPanel = std::make_unique<SensorPanel>(panel, *sensors,
                                                    SensorPanel::Menus{&imgPopup, NImgOn, NImgOff, &PopupMenu2}, log,
                                                    boxes);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("window not exposed");
    }
    ~Fixture()
    {
        imgPopup.hide();
        PopupMenu2.hide();
    }

    int add(QPoint at, bool enable = true)
    {
        return sensors->AddItem(at.x(), at.y(), QStringLiteral("Кухня"), QStringLiteral("28FF0A1B2C3D4E5F"), enable,
                                0, false, DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
    }
    SensorPicture *picture(int i) const { return sensors->picture(i); }
    QLabel *nameLabel(int i) const { return sensors->DSItems[std::size_t(i)].NameLabel; }
    QLabel *tempLabel(int i) const { return sensors->DSItems[std::size_t(i)].TempLabel; }
    // A point of the panel in window coordinates.
    QPoint onWindow(QPoint panelPos) const { return panel->mapTo(&window, panelPos); }
};

// A mouse event as the picture gets it while the button is held (it has the mouse grab).
void send(QWidget *picture, QEvent::Type type, QPoint panelPos, Qt::MouseButton button, Qt::MouseButtons buttons,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPoint local = panelPos - picture->pos();
    QMouseEvent event(type, local, picture->mapToGlobal(local), button, buttons, modifiers);
    QApplication::sendEvent(picture, &event);
}

// Press at `grab` (panel coordinates), move to `to`, release there, all with `modifiers`.
// The drag takes its grab point from the first move, made here where the press was.
void drag(QWidget *picture, QPoint grab, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    send(picture, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton, modifiers);
    send(picture, QEvent::MouseMove, grab, Qt::NoButton, Qt::LeftButton, modifiers);
    send(picture, QEvent::MouseMove, (grab + to) / 2, Qt::NoButton, Qt::LeftButton, modifiers);
    send(picture, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, modifiers);
    send(picture, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
}

void writeImage(const QString &file, QSize size, QColor colour, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    if (!image.save(file, format))
        qFatal("cannot write the test picture");
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 && std::abs(a.blue() - b.blue()) < 24;
}

} // namespace

// The sensor panel: drag, picking, pop-up menus, double click and the background picture.
class TestSensorPanel : public QObject
{
    Q_OBJECT

private slots:
    void dropPlacesPictureAndLabels_data()
    {
        QTest::addColumn<QSize>("panelSize");
        QTest::addColumn<QPoint>("start");
        QTest::addColumn<QPoint>("release");
        QTest::addColumn<QPoint>("expected");
        // The picture is grabbed 5 right and 10 below its corner.
        QTest::newRow("inside") << QSize(400, 300) << QPoint(100, 80) << QPoint(205, 150) << QPoint(200, 140);
        QTest::newRow("beyond the left edge") << QSize(400, 300) << QPoint(100, 80) << QPoint(-30, 90) << QPoint(1, 80);
        QTest::newRow("beyond the top edge") << QSize(400, 300) << QPoint(100, 80) << QPoint(105, -40) << QPoint(100, 1);
        QTest::newRow("at zero") << QSize(400, 300) << QPoint(100, 80) << QPoint(5, 10) << QPoint(1, 1);
        QTest::newRow("beyond the right edge") << QSize(400, 300) << QPoint(100, 80) << QPoint(900, 90) << QPoint(350, 80);
        QTest::newRow("beyond the bottom edge") << QSize(400, 300) << QPoint(100, 80) << QPoint(105, 700) << QPoint(100, 250);
        // The upper limit is applied last: on a panel narrower than 51 pixels it wins.
        QTest::newRow("panel 40 wide") << QSize(40, 300) << QPoint(5, 80) << QPoint(12, 90) << QPoint(-10, 80);
    }

    void dropPlacesPictureAndLabels()
    {
        QFETCH(QSize, panelSize);
        QFETCH(QPoint, start);
        QFETCH(QPoint, release);
        QFETCH(QPoint, expected);
        Fixture f(panelSize);
        const int i = f.add(start);
        QSignalSpy changed(f.sensorPanel.get(), &SensorPanel::panelChanged);
        drag(f.picture(i), start + QPoint(5, 10), release);
        QCOMPARE(f.picture(i)->pos(), expected);
        QCOMPARE(f.nameLabel(i)->pos(), expected + QPoint(-26, -16));
        QCOMPARE(f.tempLabel(i)->pos(), expected + QPoint(-40, 16));
        QCOMPARE(f.sensorPanel->DragIndex, -1);
        QCOMPARE(changed.count(), 1);
    }

    void noDragWithoutMoveOrWithAModifier_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("press and release") << false << Qt::KeyboardModifiers();
        QTest::newRow("Shift held") << true << Qt::KeyboardModifiers(Qt::ShiftModifier);
        QTest::newRow("Ctrl held") << true << Qt::KeyboardModifiers(Qt::ControlModifier);
        QTest::newRow("Alt held") << true << Qt::KeyboardModifiers(Qt::AltModifier);
    }

    void noDragWithoutMoveOrWithAModifier()
    {
        QFETCH(bool, move);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        Fixture f;
        const int i = f.add({100, 80});
        QSignalSpy changed(f.sensorPanel.get(), &SensorPanel::panelChanged);
        if (move) {
            drag(f.picture(i), {105, 90}, {250, 200}, modifiers);
        } else {
            send(f.picture(i), QEvent::MouseButtonPress, {105, 90}, Qt::LeftButton, Qt::LeftButton);
            send(f.picture(i), QEvent::MouseButtonRelease, {105, 90}, Qt::LeftButton, Qt::NoButton);
        }
        QCOMPARE(f.picture(i)->pos(), QPoint(100, 80));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(f.sensorPanel->DragIndex, -1);
    }

    void lastDroppedIsInFrontWithItsLabelsInOrder()
    {
        Fixture f;
        const int a = f.add({100, 80});
        const int b = f.add({200, 80});
        drag(f.picture(a), {105, 90}, {155, 160});
        drag(f.picture(b), {205, 90}, {155, 160});
        QCOMPARE(f.picture(a)->pos(), f.picture(b)->pos());
        QCOMPARE(f.panel->childAt(f.picture(b)->geometry().center()), f.picture(b));
        const QObjectList stack = f.panel->children(); // back to front
        QVERIFY(stack.indexOf(f.picture(a)) < stack.indexOf(f.picture(b)));
        QVERIFY(stack.indexOf(f.picture(b)) < stack.indexOf(f.nameLabel(b)));
        QVERIFY(stack.indexOf(f.nameLabel(b)) < stack.indexOf(f.tempLabel(b)));
    }

    void rightClickOnPictureOffersTheOtherState_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("switched off") << false;
        QTest::newRow("switched on") << true;
    }

    void rightClickOnPictureOffersTheOtherState()
    {
        QFETCH(bool, enabled);
        Fixture f;
        f.add({20, 80});
        const int i = f.add({100, 80}, enabled);
        QTest::mouseClick(f.window.windowHandle(), Qt::RightButton, {}, f.onWindow({105, 90}));
        QTRY_VERIFY(f.imgPopup.isVisible());
        QVERIFY(!f.PopupMenu2.isVisible());
        QCOMPARE(f.sensors->SelectedItem, i);
        QCOMPARE(f.NImgOn->isVisible(), !enabled);
        QCOMPARE(f.NImgOff->isVisible(), enabled);
    }

    void rightClickElsewhereOpensThePanelMenu_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("name label") << "name";
        QTest::newRow("temperature label") << "temperature";
        QTest::newRow("empty place") << "empty";
        // The reading marker over a picture takes the press: nothing is picked.
        QTest::newRow("reading marker") << "marker";
    }

    void rightClickElsewhereOpensThePanelMenu()
    {
        QFETCH(QString, where);
        Fixture f;
        const int i = f.add({100, 80});
        f.sensors->DSItems[std::size_t(i)].TempLabel->setText(QStringLiteral("21,5"));
        f.sensors->moveMarkerTo(where == "marker" ? i : -1);
        const QPoint at = where == "name"          ? f.nameLabel(i)->geometry().center()
                          : where == "temperature" ? f.tempLabel(i)->geometry().center()
                          : where == "empty"       ? QPoint(300, 250)
                                                   : QPoint(105, 90);
        QTest::mouseClick(f.window.windowHandle(), Qt::RightButton, {}, f.onWindow(at));
        QTRY_VERIFY(f.PopupMenu2.isVisible());
        QVERIFY(!f.imgPopup.isVisible());
        QCOMPARE(f.sensors->SelectedItem, -1);
    }

    // Both menus open at the release of the right button, not at its press.
    void menusOpenAtTheRelease_data()
    {
        QTest::addColumn<bool>("onPicture");
        QTest::newRow("picture") << true;
        QTest::newRow("empty place") << false;
    }
    void menusOpenAtTheRelease()
    {
        QFETCH(bool, onPicture);
        Fixture f;
        f.add({100, 80});
        QMenu &menu = onPicture ? f.imgPopup : f.PopupMenu2;
        const QPoint at = f.onWindow(onPicture ? QPoint(105, 90) : QPoint(300, 250));
        QTest::mousePress(f.window.windowHandle(), Qt::RightButton, {}, at);
        QCoreApplication::processEvents();
        QVERIFY(!f.imgPopup.isVisible());
        QVERIFY(!f.PopupMenu2.isVisible());
        QTest::mouseRelease(f.window.windowHandle(), Qt::RightButton, {}, at);
        QTRY_VERIFY(menu.isVisible());
    }

    // The picture is shown inside the panel's border, from the corner the sensors' positions
    // count from (the web page lays them on the same picture).
    void backgroundLeavesTheBorder()
    {
        QTemporaryDir dir;
        QImage image(QSize(900, 700), QImage::Format_RGB32);
        image.fill(QColor(40, 200, 60));
        for (int y = 20; y < 30; ++y) {
            for (int x = 20; x < 30; ++x)
                image.setPixelColor(x, y, QColor(Qt::blue));
        }
        QVERIFY(image.save(dir.filePath("plan.bmp"), "BMP"));
        Fixture f;
        QPalette palette = f.panel->palette();
        const QColor border(200, 0, 0);
        palette.setColor(QPalette::WindowText, border);
        f.panel->setPalette(palette);
        f.sensorPanel->LoadBackground("plan.bmp", dir.path() + "/");
        const QImage shown = f.panel->grab().toImage();
        const int right = f.panel->width() - 1;
        const int bottom = f.panel->height() - 1;
        for (QPoint p : {QPoint(0, 0), QPoint(50, 0), QPoint(0, 50), QPoint(right, 50), QPoint(50, bottom)})
            QCOMPARE(shown.pixelColor(p), border);
        QVERIFY(near(shown.pixelColor(1, 1), QColor(40, 200, 60)));
        QCOMPARE(shown.pixelColor(20, 20), QColor(Qt::blue));
        QVERIFY(near(shown.pixelColor(19, 25), QColor(40, 200, 60)));
    }

    void readingMarkerTakesTheDrag_data()
    {
        QTest::addColumn<bool>("marker");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("picture alone") << false << QPoint(194, 189);
        QTest::newRow("marker over it") << true << QPoint(100, 80);
    }

    void readingMarkerTakesTheDrag()
    {
        QFETCH(bool, marker);
        QFETCH(QPoint, expected);
        Fixture f;
        const int i = f.add({100, 80});
        if (marker)
            f.sensors->moveMarkerTo(i);
        QWindow *w = f.window.windowHandle();
        QTest::mousePress(w, Qt::LeftButton, {}, f.onWindow({105, 90}));
        // A move to where the mouse already is never arrives: the drag starts one pixel on.
        QTest::mouseMove(w, f.onWindow({106, 91}));
        QTest::mouseMove(w, f.onWindow({200, 200}));
        QTest::mouseRelease(w, Qt::LeftButton, {}, f.onWindow({200, 200}));
        QCOMPARE(f.picture(i)->pos(), expected);
        QCOMPARE(f.sensorPanel->DragIndex, -1);
    }

    void doubleClickEditsThePicturesSlot()
    {
        Fixture f;
        f.add({20, 80});
        const int i = f.add({100, 80});
        f.sensors->SelectedItem = 0;
        QTest::mouseDClick(f.picture(i), Qt::LeftButton, {}, QPoint(5, 10));
        QCOMPARE(f.edited, QList<int>{i});
    }

    void backgroundAtNaturalSizeBehindEverything_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("fullPath");
        QTest::newRow("bk.jpg in the program directory, smaller") << "bk.jpg" << QSize(120, 90) << false;
        QTest::newRow("bmp by its full path, larger") << "plan.bmp" << QSize(900, 700) << true;
    }

    void backgroundAtNaturalSizeBehindEverything()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(bool, fullPath);
        QTemporaryDir dir;
        const QColor green(40, 200, 60);
        writeImage(dir.filePath(name), size, green, name.endsWith(".bmp") ? "BMP" : "JPG");
        Fixture f;
        const int i = f.add({30, 30});
        f.sensorPanel->LoadBackground(fullPath ? dir.filePath(name) : name, dir.path() + "/");
        QVERIFY(f.log.messages.isEmpty());
        QCOMPARE(f.panel->childAt(f.picture(i)->geometry().center()), f.picture(i));

        const QImage shown = f.panel->grab().toImage();
        QVERIFY(near(shown.pixelColor(5, 60), green));
        const QPoint beyond(size.width() + 20, size.height() + 20);
        if (QRect(QPoint(), f.panel->size()).contains(beyond))
            QCOMPARE(shown.pixelColor(beyond), QColor(Qt::black));
        else // cut at the panel's edge: the picture reaches the far corner
            QVERIFY(near(shown.pixelColor(f.panel->width() - 3, f.panel->height() - 3), green));
    }

    // A name that is no file (missing, a folder, empty: the program directory itself) is
    // logged; a file that is there but no picture raises the error that ends the caller's
    // handler, with the reason in the user's language. The panel keeps its picture.
    void unusableBackgroundKeepsThePicture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("raised");
        QTest::newRow("missing") << "other.jpg" << QByteArray() << "Файл фона %1 отсутствует!" << false;
        QTest::newRow("folder") << "other.jpg" << QByteArray("<folder>") << "Файл фона %1 отсутствует!" << false;
        QTest::newRow("empty name") << "" << QByteArray() << "Файл фона %1 отсутствует!" << false;
        QTest::newRow("damaged") << "other.jpg" << QByteArray("not a picture at all")
                                 << "Файл фона %1 не читается как рисунок: содержимое файла повреждено или не "
                                    "соответствует расширению"
                                 << true;
        QTest::newRow("no decoder") << "other.txt" << QByteArray("not a picture at all")
                                    << "Файл фона %1 не читается как рисунок: рисунки формата .txt не поддерживаются"
                                    << true;
        // Opening it to read would wait for a writer, with the window thread.
        QTest::newRow("FIFO") << "other.jpg" << QByteArray("<fifo>") << "Файл фона %1 не читается как рисунок" << true;
    }

    void unusableBackgroundKeepsThePicture()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QFETCH(bool, raised);
        QTemporaryDir dir;
        writeImage(dir.filePath("bk.jpg"), {50, 50}, Qt::red, "JPG");
        const QString bad = name.isEmpty() ? dir.path() + "/" : dir.filePath(name);
        std::atomic<bool> loaded{false};
        std::atomic<bool> released{false};
        std::thread writer;
        const auto joinWriter = qScopeGuard([&] {
            loaded = true;
            if (writer.joinable())
                writer.join();
        });
        if (content == "<fifo>") {
            QCOMPARE(::mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
            // Frees a reader still waiting after three seconds, so that a failure ends.
            writer = std::thread([&] {
                for (int i = 0; i < 30 && !loaded; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (loaded)
                    return;
                const int fd = ::open(QFile::encodeName(bad).constData(), O_WRONLY | O_NONBLOCK);
                released = fd >= 0;
                if (fd >= 0)
                    ::close(fd);
            });
        } else if (content == "<folder>") {
            QVERIFY(QDir().mkdir(bad));
        } else if (!content.isEmpty()) {
            QFile file(bad);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        Fixture f;
        f.sensorPanel->LoadBackground("bk.jpg", dir.path() + "/");
        const qint64 before = f.sensorPanel->backgroundImage()->pixmap().cacheKey();
        QString error;
        try {
            f.sensorPanel->LoadBackground(name.isEmpty() ? name : bad, dir.path() + "/");
        } catch (const KalvexError &e) {
            error = e.message();
        }
        loaded = true;
        QVERIFY(!released);
        if (raised) {
            QVERIFY2(error.startsWith(expected.arg(bad)), qPrintable(error));
            QVERIFY(f.log.messages.isEmpty());
        } else {
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QCOMPARE(f.log.messages, QStringList{expected.arg(bad)});
        }
        QCOMPARE(f.sensorPanel->backgroundImage()->pixmap().cacheKey(), before);
    }
};

QTEST_MAIN(TestSensorPanel)
#include "tst_sensorpanel.moc"
