#include "base/Clock.h"
#include "app/ui/TForm1.h"
#include "onewire/Ds2480bModel.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSoundPlayer.h"
#include "support/SysfsTree.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <memory>
#include <thread>

namespace {
const QString SnA = QStringLiteral("28ECEDC7050000F6");
const QString SnS = QStringLiteral("10E3B7A802080019"); // DS18S20, 0xE3 in its serial
} // namespace

class TestDs2480bCycle : public QObject
{
    Q_OBJECT

private:
    SystemClock m_clock;
    FakeDialogBoxes m_boxes;
    FakeSoundPlayer m_sound;
    FakeAppLauncher m_launcher;

private slots:
    // Kind=ds2480b in Kalvex.ini: the window's cycle converts the whole bus at once under the
    // chip's strong pull-up although a DS18S20 on it is powered from the data line.
    void wholeBusConversionWithAParasiteSensor()
    {
        QTemporaryDir dir;
        VirtualBus bus;
        Ds2480bModel chip(bus);
        auto parasite = bus.addSensor(SnS, 31.5);
        parasite->setParasitePower(true);
        parasite->setConversionMs(30);
        bus.addSensor(SnA, 19.5);
        PtyBusServer server(bus);
        server.setResponder([&chip](const std::uint8_t *data, int count, int baud) { return chip.exchange(data, count, baud); });
        QVERIFY2(server.open(), qPrintable(server.errorText()));
        QVERIFY(server.linkAs(dir.filePath(QStringLiteral("COM1"))));
        std::thread serving([&server] { server.run(); });
        const auto stop = qScopeGuard([&] {
            server.requestStop();
            serving.join();
        });
        SysfsTree::write(dir.filePath(QStringLiteral("Kalvex.ini")),
                         "[General]\r\nCOMPort=1\r\n[Items]\r\nItemCount=2\r\nItemName0=Attic\r\nItemSN0=" + SnS.toLatin1()
                             + "\r\nItemEnable0=1\r\nItemName1=Hall\r\nItemSN1=" + SnA.toLatin1()
                             + "\r\nItemEnable1=1\r\n[Bus]\r\nBulkConvert=1\r\nKind=DS2480B\r\n");
        const QString programDir = dir.path() + QLatin1Char('/');
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{programDir, QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = dir.filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [programDir] { return std::make_unique<PosixSerialPort>(programDir); },
            .demo = false,
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
        QCOMPARE(form->BusKind, QStringLiteral("ds2480b"));
        form->temperatureReader()->setConversionDelayMs(60);
        form->N3->setChecked(true);
        form->N3Click();
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
        QCOMPARE(form->Sns.Cells(1, 1), QStringLiteral("31,5"));
        QCOMPARE(form->Sns.Cells(1, 2), QStringLiteral("19,5"));
        const QString log = form->Memo1->toPlainText();
        QVERIFY2(!log.contains(QStringLiteral("паразитным")), qPrintable(log));
        form.reset();
        // One conversion for both, under the pull-up, and no sensor browned out.
        QCOMPARE(parasite->conversions(), 1);
        QCOMPARE(chip.counters().pullUps, 1u);
        QCOMPARE(chip.counters().brownOuts, 0u);
    }
};

QTEST_MAIN(TestDs2480bCycle)
#include "tst_ds2480bcycle.moc"
