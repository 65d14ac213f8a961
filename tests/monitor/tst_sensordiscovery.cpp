#include "monitor/SensorDiscovery.h"
#include "onewire/BusTurn.h"

#include "support/RunTask.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSerialPort.h"
#include "support/RecordingLog.h"

#include <QCoroTask>
#include <QSet>
#include <QTest>

#include <stdexcept>

namespace {

struct Added
{
    int X, Y;
    QString Name, SN;
    bool Enable;
    double Correct;
    bool Tray;
    TColor CBFon, CBText, CBChart;
    TSign Sign;
};

FakeSerialPort journalPort(QStringList &journal)
{
    FakeSerialPort port;
    port.journal = &journal;
    return port;
}

// The main window's side of the search: slots, the observation switch and a scripted bus.
struct Rig
{
    QStringList journal;
    RecordingLog log;
    FakeDialogBoxes boxes;
    FakeSerialPort port = journalPort(journal);
    TDSItems items;
    QSet<int> inUseSlots;
    QStringList bus;
    int busPos = 0;
    bool observing = false;
    std::vector<Added> added;
    int colorIndex = 0;
    bool throwOnAdd = false;
    BusTurn turn;

    void configure(const QString &sn, bool inUse, bool enable = true)
    {
        TDSItem item;
        item.SN = sn;
        item.Enable = enable;
        if (inUse)
            inUseSlots.insert(static_cast<int>(items.size()));
        items.push_back(item);
    }

    SensorDiscovery::Hooks hooks()
    {
        SensorDiscovery::Hooks h;
        h.observationOn = [this] { return observing; };
        h.switchObservationOff = [this] {
            observing = false;
            journal << QStringLiteral("observation off");
        };
        h.inUse = [this](const TDSItem &item) {
            return inUseSlots.contains(static_cast<int>(&item - items.data()));
        };
        h.addItem = [this](int X, int Y, const QString &Name, const QString &SN, bool Enable,
                           double Correct, bool Tray, TColor CBFon, TColor CBText, TColor CBChart,
                           const TSign &Sign) {
            if (throwOnAdd)
                throw std::runtime_error("picture failed");
            added.push_back({X, Y, Name, SN, Enable, Correct, Tray, CBFon, CBText, CBChart, Sign});
            // First free slot, else a new one at the end, as AddItem does.
            int slot = 0;
            while (slot < static_cast<int>(items.size()) && inUseSlots.contains(slot))
                ++slot;
            if (slot == static_cast<int>(items.size()))
                items.emplace_back();
            items[static_cast<std::size_t>(slot)].SN = SN;
            items[static_cast<std::size_t>(slot)].Enable = Enable;
            inUseSlots.insert(slot);
            journal << QStringLiteral("add ") + SN;
        };
        h.randomColorIndex = [this] { return colorIndex; };
        return h;
    }

    // The scripted bus behind the port `portName`, as the window hands it to the search.
    std::vector<SensorDiscovery::SearchBus> buses(const QString &portName)
    {
        SensorDiscovery::SearchBus b;
        b.open = [this, portName] {
            if (!port.OpenCOM(portName))
                return SensorDiscovery::refusal(QStringLiteral("Порт занят!"));
            port.SetComPortTimeouts();
            return SensorDiscovery::refusal(QString());
        };
        b.giveBack = [this] { port.CloseCOM(); };
        b.clearState = [this] {
            busPos = 0;
            journal << QStringLiteral("clear state");
        };
        b.findNext = [this]() -> QCoro::Task<QString> { co_return busPos < bus.size() ? bus[busPos++] : QString(); };
        b.turn = &turn;
        return {b};
    }
};

} // namespace

class TestSensorDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void search_data();
    void search();
    void newSensorDefaults();
    void observationIsOffAfterSearch();
    void busyPort();
    void portClosedWhenAddingFails();
    void chartColour_data();
    void chartColour();
};

void TestSensorDiscovery::search_data()
{
    QTest::addColumn<QStringList>("configured");  // "SN" in use, "-SN" a freed slot, "~SN" off
    QTest::addColumn<QStringList>("bus");
    QTest::addColumn<QStringList>("expectedNew");
    QTest::addColumn<QList<int>>("expectedPositions");

    const QString a = QStringLiteral("28FF4A1B02000011");
    const QString b = QStringLiteral("10A3C2E501080022");
    const QString c = QStringLiteral("28000000ABCDEF33");

    QTest::newRow("one known in lower case, one new")
        << QStringList{a.toLower()} << QStringList{a, b} << QStringList{b} << QList<int>{330};
    QTest::newRow("three new")
        << QStringList{} << QStringList{a, b, c} << QStringList{a, b, c}
        << QList<int>{330, 360, 390};
    QTest::newRow("deleted sensor is new again")
        << QStringList{QStringLiteral("-") + a, b} << QStringList{a, b} << QStringList{a}
        << QList<int>{330};
    QTest::newRow("switched-off sensor stays known")
        << QStringList{QStringLiteral("~") + a} << QStringList{a} << QStringList{}
        << QList<int>{};
    QTest::newRow("empty bus")
        << QStringList{a} << QStringList{} << QStringList{} << QList<int>{};
}

void TestSensorDiscovery::search()
{
    QFETCH(QStringList, configured);
    QFETCH(QStringList, bus);
    QFETCH(QStringList, expectedNew);
    QFETCH(QList<int>, expectedPositions);

    Rig rig;
    for (const QString &entry : configured) {
        if (entry.startsWith(QLatin1Char('-')))
            rig.configure(QString(), false, false);  // a freed slot: SN cleared, picture hidden
        else if (entry.startsWith(QLatin1Char('~')))
            rig.configure(entry.mid(1), true, false);
        else
            rig.configure(entry, true);
    }
    rig.bus = bus;
    SensorDiscovery discovery(rig.log, rig.boxes, rig.items, rig.hooks());

    const SensorDiscovery::Result result = runTask(discovery.N5Click(rig.buses(QStringLiteral("COM3")), {}));

    QStringList newCodes;
    QList<int> positions;
    QStringList logLines;
    for (const Added &add : rig.added) {
        newCodes << add.SN;
        QCOMPARE(add.X, add.Y);
        positions << add.X;
    }
    for (const QString &code : expectedNew)
        logLines << QStringLiteral("Добавлен датчик: ") + code;
    QCOMPARE(newCodes, expectedNew);
    QCOMPARE(positions, expectedPositions);
    QCOMPARE(rig.log.messages, logLines);
    QCOMPARE(rig.boxes.messages,
             QStringList{QStringLiteral("Найдено датчиков: %1, из них новых: %2")
                             .arg(bus.size())
                             .arg(expectedNew.size())});
    QCOMPARE(result.found, bus.size());
    QCOMPARE(result.added, expectedNew.size());

    // Port opened with its time-outs before the search state is cleared, closed at the end.
    QCOMPARE(rig.journal.mid(0, 3), (QStringList{QStringLiteral("open COM3"), QStringLiteral("timeouts"),
                                                 QStringLiteral("clear state")}));
    QCOMPARE(rig.journal.last(), QStringLiteral("close"));
    QCOMPARE(rig.journal.count(QStringLiteral("close")), 1);
    QVERIFY(!rig.port.isOpen());
}

void TestSensorDiscovery::newSensorDefaults()
{
    Rig rig;
    rig.bus = {QStringLiteral("28FF4A1B02000011")};
    rig.colorIndex = 6;
    SensorDiscovery discovery(rig.log, rig.boxes, rig.items, rig.hooks());

    runTask(discovery.N5Click(rig.buses(QStringLiteral("COM1")), {}));

    QCOMPARE(rig.added.size(), std::size_t{1});
    const Added &add = rig.added.front();
    QCOMPARE(add.Name, QStringLiteral("Новый DS"));
    QCOMPARE(add.SN, QStringLiteral("28FF4A1B02000011"));
    QVERIFY(add.Enable);
    QCOMPARE(add.Correct, 0.0);
    QVERIFY(!add.Tray);
    QCOMPARE(add.CBFon, TColor{16711680});
    QCOMPARE(add.CBText, TColor{16777215});
    QCOMPARE(add.CBChart, TColor{8421376});
    for (const TSignArr &control : add.Sign) {
        QVERIFY(!control.Enable);
        QVERIFY(control.bm);
        QCOMPARE(control.Value, 0.0);
        QCOMPARE(control.mp3path, QStringLiteral("warn"));
        QVERIFY(!control.mp3Enable);
        QVERIFY(control.AppPath.isEmpty());
        QVERIFY(!control.AppEnable);
    }
}

void TestSensorDiscovery::observationIsOffAfterSearch()
{
    Rig rig;
    rig.observing = true;
    rig.bus = {QStringLiteral("28FF4A1B02000011")};
    SensorDiscovery discovery(rig.log, rig.boxes, rig.items, rig.hooks());

    runTask(discovery.N5Click(rig.buses(QStringLiteral("COM2")), {}));

    QCOMPARE(rig.journal.first(), QStringLiteral("observation off"));
    QCOMPARE(rig.journal.at(1), QStringLiteral("open COM2"));
    QCOMPARE(rig.journal.count(QStringLiteral("observation off")), 1);
    QVERIFY(!rig.observing);

    // Already off: nothing to switch.
    rig.journal.clear();
    rig.bus.clear();
    runTask(discovery.N5Click(rig.buses(QStringLiteral("COM2")), {}));
    QCOMPARE(rig.journal.count(QStringLiteral("observation off")), 0);
}

void TestSensorDiscovery::busyPort()
{
    Rig rig;
    rig.observing = true;
    rig.port.openSucceeds = false;
    rig.bus = {QStringLiteral("28FF4A1B02000011")};
    SensorDiscovery discovery(rig.log, rig.boxes, rig.items, rig.hooks());

    const SensorDiscovery::Result result = runTask(discovery.N5Click(rig.buses(QStringLiteral("COM7")), {}));

    QVERIFY(!result.portOpened);
    QCOMPARE(rig.boxes.messages, QStringList{QStringLiteral("Порт занят!")});
    QCOMPARE(rig.journal, (QStringList{QStringLiteral("observation off"), QStringLiteral("open COM7")}));
    QVERIFY(rig.added.empty());
    QVERIFY(rig.log.messages.isEmpty());
    QVERIFY(!rig.observing);
}

void TestSensorDiscovery::portClosedWhenAddingFails()
{
    Rig rig;
    rig.throwOnAdd = true;
    rig.bus = {QStringLiteral("28FF4A1B02000011")};
    SensorDiscovery discovery(rig.log, rig.boxes, rig.items, rig.hooks());

    QVERIFY_THROWS_EXCEPTION(std::runtime_error, runTask(discovery.N5Click(rig.buses(QStringLiteral("COM1")), {})));

    QCOMPARE(rig.journal.last(), QStringLiteral("close"));
    QVERIFY(!rig.port.isOpen());
}

void TestSensorDiscovery::chartColour_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<TColor>("colour");
    QTest::newRow("9 red") << 9 << TColor{255};
    // A random source out of range must still give one of the 16 colours.
    QTest::newRow("16 wraps") << 16 << TColor{0};
    QTest::newRow("-1 wraps") << -1 << TColor{16777215};
}

void TestSensorDiscovery::chartColour()
{
    QFETCH(int, index);
    QFETCH(TColor, colour);
    Rig rig;
    rig.colorIndex = index;
    rig.bus = {QStringLiteral("28FF4A1B02000011")};
    SensorDiscovery discovery(rig.log, rig.boxes, rig.items, rig.hooks());

    runTask(discovery.N5Click(rig.buses(QStringLiteral("COM1")), {}));

    QCOMPARE(rig.added.size(), std::size_t{1});
    QCOMPARE(rig.added.front().CBChart, colour);
}

QTEST_GUILESS_MAIN(TestSensorDiscovery)
#include "tst_sensordiscovery.moc"
