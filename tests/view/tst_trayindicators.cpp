#include "base/StringGrid.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeDialogBoxes.h"
#include "support/RecordingLog.h"
#include "view/ui/TrayIndicators.h"

#include <QApplication>
#include <QLabel>
#include <QWindow>
#include <QScopeGuard>
#include <QTest>

#include <memory>

namespace {

const QRgb Navy = qRgb(0, 0, 128);

// The sensor slots with their tray icons and a main window to hide and bring back.
struct Fixture
{
    QWidget window;
    QWidget panel;
    QWidget templates;
    LiveChart chart;
    StringGrid Sns{3, 2};
    StringGrid SHour{26, 2};
    FakeDialogBoxes boxes;
    RecordingLog log;
    bool available = true;
    std::unique_ptr<SensorSlots> sensors;
    std::unique_ptr<TrayIndicators> tray;

    Fixture()
    {
        sensors = std::make_unique<SensorSlots>(&panel, chart, Sns, SHour, boxes, [] { return 3; });
        tray = std::make_unique<TrayIndicators>(*sensors, log, &templates);
        tray->setMainWindow(&window);
        tray->trayAvailable = [this] { return available; };
        sensors->TrayCreate = [this](int id, const QString &tip, TColor bk, TColor text) {
            tray->TrayCreate(id, tip, bk, text);
        };
        sensors->TrayDelete = [this](int id) { tray->TrayDelete(id); };
        window.show();
    }

    int add(const QString &name, bool enable, bool trayIcon)
    {
        return sensors->AddItem(100, 80, name, QStringLiteral("28FF0A1B2C3D4E5F"), enable, 0, trayIcon,
                                DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
    }
};

bool plainSquare(const QImage &image, QRgb colour)
{
    if (image.size() != QSize(32, 32))
        return false;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (image.pixel(x, y) != (0xff000000u | colour))
                return false;
        }
    }
    return true;
}

} // namespace

// The sensors' tray icons and minimising into the notification area.
class TestTrayIndicators : public QObject
{
    Q_OBJECT

private slots:
    void iconIsPlainUntilReadAndPlainWhenSilent()
    {
        Fixture f;
        f.add(QStringLiteral("Кухня"), false, true);
        QCOMPARE(f.tray->ids(), QList<int>{1});
        QVERIFY(plainSquare(f.tray->picture(1), Navy));
        QCOMPARE(f.tray->icon(1)->toolTip(), QStringLiteral("Кухня"));

        f.tray->TrayModify(1, QStringLiteral("21"), QStringLiteral("Кухня 21,3°"), DefaultTrayBackground,
                           DefaultTrayText);
        QVERIFY(!plainSquare(f.tray->picture(1), Navy));
        QCOMPARE(f.tray->icon(1)->toolTip(), QStringLiteral("Кухня 21,3°"));

        // The sensor did not answer: empty text, the name alone.
        f.tray->TrayModify(1, QString(), QStringLiteral("Кухня"), DefaultTrayBackground, DefaultTrayText);
        QVERIFY(plainSquare(f.tray->picture(1), Navy));
        QCOMPARE(f.tray->icon(1)->toolTip(), QStringLiteral("Кухня"));
    }

    // A system colour is drawn in the colour the desktop's palette gives it.
    void systemColoursTakeThePalettesColour()
    {
        const QPalette original = QGuiApplication::palette();
        const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
        QPalette palette = original;
        palette.setColor(QPalette::Active, QPalette::ToolTipBase, QColor(0, 128, 128));
        QApplication::setPalette(palette);
        Fixture f;
        const TColor hintBackground = 0xFF000018u;
        f.sensors->AddItem(100, 80, QStringLiteral("Кухня"), QStringLiteral("28FF0A1B2C3D4E5F"), true, 0, true,
                           hintBackground, DefaultTrayText, 255, CreateClearSign());
        QVERIFY(plainSquare(f.tray->picture(1), qRgb(0, 128, 128)));
    }

    void sameLookingReadingHandsNoNewPicture()
    {
        Fixture f;
        f.add(QStringLiteral("Кухня"), true, true);
        const long long created = f.tray->picturesHanded();
        f.tray->TrayModify(1, "21", "Кухня 21,3°", DefaultTrayBackground, DefaultTrayText);
        f.tray->TrayModify(1, "21", "Кухня 21,4°", DefaultTrayBackground, DefaultTrayText);
        QCOMPARE(f.tray->picturesHanded(), created + 1);
        QCOMPARE(f.tray->icon(1)->toolTip(), QStringLiteral("Кухня 21,4°"));
        f.tray->TrayModify(1, "21", "Кухня 21,4°", 255, DefaultTrayText);
        QCOMPARE(f.tray->picturesHanded(), created + 2);
    }

    void deletedSensorLosesItsIconOnly()
    {
        Fixture f;
        f.add("a", true, true);
        f.add("b", true, true);
        f.add("c", true, false);
        f.boxes.confirmAnswers.enqueue(true);
        f.sensors->DeleteItem(0);
        QCOMPARE(f.tray->ids(), QList<int>{2});
        f.tray->TrayHomeCreate();
        f.tray->TrayAllDelete();
        QCOMPARE(f.tray->ids(), QList<int>{0});
    }

    void minimiseHidesAndAClickRestores_data()
    {
        QTest::addColumn<bool>("trayOn");
        QTest::addColumn<QList<int>>("hiddenIds");
        QTest::newRow("every tray sensor off: own icon") << false << QList<int>{0, 1};
        QTest::newRow("a switched-on tray sensor") << true << QList<int>{1};
    }

    void minimiseHidesAndAClickRestores()
    {
        QFETCH(bool, trayOn);
        QFETCH(QList<int>, hiddenIds);
        Fixture f;
        f.add("a", trayOn, true);
        f.add("b", true, false);
        f.tray->MyMinimize();
        QVERIFY(f.window.isVisible()); // handled once the current event is done
        QTRY_VERIFY(!f.window.isVisible());
        QCOMPARE(f.tray->ids(), hiddenIds);
        QCOMPARE(f.tray->HomeIconShown, !trayOn);

        for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick})
            emit f.tray->icon(1)->activated(reason);
        QVERIFY(!f.window.isVisible());
        emit f.tray->icon(1)->activated(QSystemTrayIcon::Trigger);
        QVERIFY(f.window.isVisible());
        QVERIFY(!(f.window.windowState() & Qt::WindowMinimized));
        QCOMPARE(f.tray->ids(), QList<int>{1});
    }

    // An icon Qt draws itself reports the press of the left button: the window comes back at
    // the release.
    void iconPressRestoresAtTheRelease()
    {
        Fixture f;
        f.add("a", true, true);
        f.tray->WMSysCommand(TrayIndicators::SC_MINIMIZE);
        QVERIFY(!f.window.isVisible());
        // Stands for the icon's own window, which gets the press and the release.
        QWidget iconWindow;
        iconWindow.resize(16, 16);
        iconWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&iconWindow));
        QTest::mousePress(iconWindow.windowHandle(), Qt::LeftButton, {}, QPoint(8, 8));
        emit f.tray->icon(1)->activated(QSystemTrayIcon::Trigger);
        QCoreApplication::processEvents();
        QVERIFY(!f.window.isVisible());
        QTest::mouseRelease(iconWindow.windowHandle(), Qt::LeftButton, {}, QPoint(8, 8));
        QTRY_VERIFY(f.window.isVisible());
    }

    // The window of the program that was active when it went into the tray is in front again.
    void restoreBringsBackTheLastActiveWindow()
    {
        Fixture f;
        f.add("a", true, true);
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        QWidget other(&f.window, Qt::Window);
        other.resize(200, 100);
        f.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        other.show();
        // A window of an active window counts as active itself; the user clicks it.
        other.windowHandle()->requestActivate();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        f.tray->WMSysCommand(TrayIndicators::SC_MINIMIZE);
        QVERIFY(!f.window.isVisible());
        // Meanwhile the user works in another program.
        QWidget stranger;
        stranger.resize(100, 100);
        stranger.show();
        stranger.windowHandle()->requestActivate();
        QTRY_COMPARE(QApplication::activeWindow(), &stranger);
        emit f.tray->icon(1)->activated(QSystemTrayIcon::Trigger);
        QVERIFY(f.window.isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), &other);
    }

    void otherSystemCommandsAreLeftAlone()
    {
        Fixture f;
        f.tray->WMSysCommand(0xF120); // restore
        f.tray->WMSysCommand(0xF060); // close
        QVERIFY(f.window.isVisible());
        QVERIFY(f.tray->ids().isEmpty());
    }

    void withoutNotificationAreaTheWindowIsMinimised()
    {
        Fixture f;
        f.available = false;
        f.add("a", false, true);
        f.tray->WMSysCommand(TrayIndicators::SC_MINIMIZE);
        f.tray->WMSysCommand(TrayIndicators::SC_MINIMIZE);
        QVERIFY(f.window.isVisible());
        QVERIFY(f.window.windowState() & Qt::WindowMinimized);
        QCOMPARE(f.tray->ids(), QList<int>{1});
        QCOMPARE(f.log.messages.size(), 1);
        QVERIFY(f.log.messages.first().startsWith(QStringLiteral("Область уведомлений недоступна")));
    }
};

QTEST_MAIN(TestTrayIndicators)
#include "tst_trayindicators.moc"
