#include "app/ui/TForm1.h"
#include "base/Formats.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSoundPlayer.h"
#include "view/ui/SensorPanel.h"
#include "view/ui/TrayIndicators.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString SnA = QStringLiteral("28ECEDC7050000F6");

bool plain(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
        }
    }
    return !image.isNull();
}

} // namespace

// The sensor panel and the tray icons as the main window, its start-up and its monitoring
// cycle use them.
class TestPanelWindow : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    FakeSoundPlayer m_sound;
    FakeAppLauncher m_launcher;
    std::unique_ptr<QTemporaryDir> m_dir;
    VirtualBus *m_bus = nullptr;

    std::unique_ptr<TForm1> makeForm()
    {
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort =
                [this] {
                    auto bus = std::make_unique<VirtualBus>();
                    m_bus = bus.get();
                    return bus;
                },
            .demo = false,
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
        form->temperatureReader()->setConversionDelayMs(0);
        return form;
    }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_boxes = FakeDialogBoxes();
        m_clock.setNow(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)));
        m_clock.setTickStep(1);
    }

    void trayIconFollowsTheCycleAndTheSlot()
    {
        auto form = makeForm();
        TrayIndicators &tray = form->trayIndicators();
        form->sensorSlots().AddItem(100, 80, QStringLiteral("Кухня"), SnA, true, 0, true, DefaultTrayBackground,
                                    DefaultTrayText, 255, CreateClearSign());
        QVERIFY(plain(tray.picture(1)));
        m_bus->addSensor(SnA, 22.4);
        form->N3->setChecked(true);
        form->N3Click();
        QTRY_VERIFY(form->busIdle());
        QCOMPARE(tray.icon(1)->toolTip(), QStringLiteral("Кухня 22,4°"));
        QVERIFY(!plain(tray.picture(1)));

        QVERIFY(m_bus->removeDevice(SnA));
        form->Nabl();
        QTRY_VERIFY(form->busIdle());
        QCOMPARE(tray.icon(1)->toolTip(), QStringLiteral("Кухня"));
        QVERIFY(plain(tray.picture(1)));

        m_boxes.confirmAnswers.enqueue(true);
        form->sensorSlots().DeleteItem(0);
        QVERIFY(tray.ids().isEmpty());
    }

    void minimisingGoesThroughTheTray()
    {
        QImage background(30, 20, QImage::Format_RGB32);
        background.fill(Qt::darkGray);
        QVERIFY(background.save(m_dir->filePath(QStringLiteral("bk.jpg"))));
        auto form = makeForm();
        QVERIFY(form->sensorPanel().backgroundImage()); // loaded at start-up
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        // The offscreen desktop has no notification area: the window stays minimised.
        form->setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(form->Memo1->toPlainText().contains(QStringLiteral("Область уведомлений недоступна")));
        QVERIFY(form->isVisible());

        form->setWindowState(Qt::WindowNoState);
        form->trayIndicators().trayAvailable = [] { return true; };
        form->setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(!form->isVisible());
        QCOMPARE(form->trayIndicators().ids(), QList<int>{0});
        emit form->trayIndicators().icon(0)->activated(QSystemTrayIcon::Trigger);
        QVERIFY(form->isVisible());
        QVERIFY(form->trayIndicators().ids().isEmpty());
    }
};

QTEST_MAIN(TestPanelWindow)
#include "tst_panelwindow.moc"
