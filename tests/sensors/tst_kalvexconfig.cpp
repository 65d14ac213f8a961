#include "IniTestSupport.h"

#include "base/Formats.h"
#include "sensors/IniFile.h"
#include "sensors/KalvexConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A random source that always picks the same index, and counts how often it was asked.
struct FixedRandom
{
    int index = 5;
    int calls = 0;
    RandomIndex source()
    {
        return [this](int bound) {
            ++calls;
            return bound == 16 ? index : -1;
        };
    }
};

KalvexConfig fromText(const QByteArray &text, FixedRandom *random = nullptr)
{
    FixedRandom local;
    return readConfig(IniFile::fromBytes(text), (random ? random : &local)->source());
}

SensorConfig defaultSensor(TColor chart)
{
    SensorConfig s;
    s.CBChart = chart;
    return s;
}

// A configuration with something other than the default in every field.
KalvexConfig rich()
{
    KalvexConfig c;
    c.GneralPanel = true;
    c.bkFileName = QStringLiteral("/home/дом/план этажа.jpg");
    c.COMPort = 4;
    c.CharMaxCount = 250;
    c.TimeOut = 3000;
    c.HTTPActive = true;
    c.HTTPPort = 8080;
    c.CharMinMaxAuto = false;
    c.CharMinY = -20.5;
    c.CharMaxY = 35.25;
    c.SnsHeight = 123;
    c.SHourHeight = 77;
    c.LogHeight = 0;
    c.P3Width = 512;
    c.AutoNab = true;
    c.StartMin = true;
    c.WinStartRun = true;
    c.MQTT.Active = true;
    c.MQTT.Host = QStringLiteral("hub.local");
    c.MQTT.Port = 8883;
    c.MQTT.Topic = QStringLiteral("kalvex/дача");
    c.MQTT.Discovery = false;
    c.MQTT.DiscoveryPrefix = QStringLiteral("ha");
    c.MQTT.CAFile = QStringLiteral("/etc/ssl/дом.crt");
    SensorConfig a;
    a.X = 100;
    a.Y = -3;
    a.Name = QStringLiteral("Кухня");
    a.SN = QStringLiteral("28FF0123456789AB");
    a.Enable = true;
    a.Correct = -0.7;
    a.Tray = true;
    a.CBFon = 255;
    a.CBText = static_cast<TColor>(-2147483633); // a system colour
    a.CBChart = 8421376;
    a.Sign[0] = {true, false, 18.5, QStringLiteral("/snd/холод.wav"), true, QStringLiteral("/bin/true"), true};
    a.Sign[3].Value = 1e-7;
    SensorConfig b;
    b.Name = QStringLiteral("Улица ✓"); // outside Windows-1251: the file becomes UTF-8
    b.SN = QStringLiteral("10ABCDEF01234567TOO-LONG");
    b.Sign[1].mp3path = QString();
    c.Items = {a, b};
    return c;
}

} // namespace

class TestKalvexConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void noFileGivesEveryDefault()
    {
        QTemporaryDir dir;
        const KalvexConfig c = loadConfig(dir.filePath("Kalvex.ini"));
        QCOMPARE(c, KalvexConfig());
        QCOMPARE(c.GneralPanel, false); // menu bar hidden
        QCOMPARE(c.bkFileName, QStringLiteral("bk.jpg"));
        QCOMPARE(c.TimeOut, 10000);
        QCOMPARE(c.COMPort, 1);
        QCOMPARE(c.CharMaxCount, 10);
        QCOMPARE(c.HTTPActive, false);
        QCOMPARE(c.HTTPPort, 80);
        QCOMPARE(c.CharMinMaxAuto, true);
        QCOMPARE(c.CharMinY, -10.0);
        QCOMPARE(c.CharMaxY, 10.0);
        QCOMPARE(c.SnsHeight, 200);
        QCOMPARE(c.SHourHeight, 200);
        QCOMPARE(c.LogHeight, 150);
        QCOMPARE(c.P3Width, 400);
        QVERIFY(!c.AutoNab && !c.StartMin && !c.WinStartRun);
        QVERIFY(c.Items.empty());
    }

    void itemCount_data()
    {
        QTest::addColumn<QByteArray>("count");
        QTest::addColumn<int>("items");
        // A sensor whose keys are in the file is never dropped, whatever ItemCount says.
        QTest::newRow("missing") << QByteArray() << 1;
        QTest::newRow("zero") << QByteArray("ItemCount=0\n") << 1;
        QTest::newRow("negative") << QByteArray("ItemCount=-5\n") << 1;
        QTest::newRow("garbage") << QByteArray("ItemCount=two\n") << 1;
        // ...and the numbers between get none.
        QTest::newRow("stored beyond ItemCount") << QByteArray("ItemCount=1\nItemSN900=28BB\n") << 2;
        QTest::newRow("only a control beyond ItemCount") << QByteArray("ItemCount=1\nItem7Sig2Value=3\n") << 2;
        QTest::newRow("as stored") << QByteArray("ItemCount=1\n") << 1;
        QTest::newRow("more than stored") << QByteArray("ITEMCOUNT=3\n") << 3;
        QTest::newRow("absurd") << QByteArray("ItemCount=2000000000\n") << MaxItemCount;
    }
    void itemCount()
    {
        QFETCH(QByteArray, count);
        QFETCH(int, items);
        FixedRandom random;
        const KalvexConfig c = fromText("[Items]\nItemName0=Кухня\nItemSN0=28AA\nItemCBChart0=255\n" + count, &random);
        QCOMPARE(int(c.Items.size()), items);
        QCOMPARE(random.calls, items); // one colour pick per sensor, stored colour or not
        if (items > 0) {
            QCOMPARE(c.Items[0].Name, QStringLiteral("Кухня"));
            QCOMPARE(c.Items[0].CBChart, TColor(255));
        }
        if (count.contains("ItemSN900")) {
            QCOMPARE(c.Items[1].SN, QStringLiteral("28BB"));
        } else if (count.contains("Item7Sig2")) {
            SensorConfig seventh = defaultSensor(StandardColors[5]);
            seventh.Sign[1].Value = 3;
            QCOMPARE(c.Items[1], seventh);
        } else {
            // Sensors beyond the stored ones are default sensors with a random standard colour.
            for (int k = 1; k < items; ++k)
                QCOMPARE(c.Items[size_t(k)], defaultSensor(StandardColors[5]));
        }
    }

    void defaultSensorIsCleared()
    {
        const SensorConfig s = fromText("[Items]\nItemCount=1\n").Items.at(0);
        QCOMPARE(s.Name, QStringLiteral("-"));
        QVERIFY(s.SN.isEmpty());
        QVERIFY(!s.Enable && !s.Tray);
        QCOMPARE(s.X, 1);
        QCOMPARE(s.Y, 1);
        QCOMPARE(s.CBFon, TColor(16711680));
        QCOMPARE(s.CBText, TColor(16777215));
        QCOMPARE(s.CBChart, StandardColors[5]);
        QCOMPARE(s.Sign, CreateClearSign());
    }

    void chartBounds_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("minY");
        QTest::addColumn<double>("maxY");
        QTest::newRow("fixed, crossed") << QByteArray("CharMinMaxAuto=0\nCharMinY=30\nCharMaxY=20\n") << 10.0 << 20.0;
        QTest::newRow("fixed, equal") << QByteArray("CharMinMaxAuto=0\nCharMinY=20\nCharMaxY=20\n") << 20.0 << 20.0;
        QTest::newRow("fixed, in order") << QByteArray("CharMinMaxAuto=0\nCharMinY=-2,5\nCharMaxY=20\n") << -2.5 << 20.0;
        QTest::newRow("automatic, crossed kept") << QByteArray("CharMinMaxAuto=1\nCharMinY=30\nCharMaxY=20\n") << 30.0 << 20.0;
        QTest::newRow("fixed, point separator") << QByteArray("CharMinMaxAuto=0\nCharMinY=1.5\nCharMaxY=2.5\n") << 1.5 << 2.5;
    }
    void chartBounds()
    {
        QFETCH(QByteArray, text);
        QFETCH(double, minY);
        QFETCH(double, maxY);
        const KalvexConfig c = fromText("[General]\n" + text);
        QCOMPARE(c.CharMinY, minY);
        QCOMPARE(c.CharMaxY, maxY);
    }

    void crossedBoundsSaveAdjusted()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kalvex.ini");
        writeAll(path, "[General]\nCharMinMaxAuto=0\nCharMinY=30\nCharMaxY=20\n");
        QVERIFY(writeConfig(path, loadConfig(path)));
        const IniFile saved = IniFile::fromFile(path);
        QCOMPARE(saved.readString("General", "CharMinY", {}), QStringLiteral("10"));
        QCOMPARE(saved.readString("General", "CharMaxY", {}), QStringLiteral("20"));
    }

    void sizes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("sizes"); // Sns, SHour, log, Panel3
        QTest::newRow("grids 0") << QByteArray("SnsHeight=0\nSHourHeight=0\n") << QList<int>{200, 200, 150, 400};
        QTest::newRow("grid negative") << QByteArray("SnsHeight=-4\n") << QList<int>{200, 200, 150, 400};
        QTest::newRow("log and column 0 stay") << QByteArray("LogHeight=0\nP3Width=0\n") << QList<int>{200, 200, 0, 0};
        QTest::newRow("log negative") << QByteArray("LogHeight=-9\n") << QList<int>{200, 200, 0, 400};
        QTest::newRow("given") << QByteArray("SnsHeight=10\nSHourHeight=20\nLogHeight=30\nP3Width=40\n")
                               << QList<int>{10, 20, 30, 40};
    }
    void sizes()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, sizes);
        const KalvexConfig c = fromText("[General]\n" + text);
        QCOMPARE((QList<int>{c.SnsHeight, c.SHourHeight, c.LogHeight, c.P3Width}), sizes);
    }

    void unusableNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("timeOut");
        QTest::addColumn<int>("charMaxCount");
        QTest::newRow("zero interval") << QByteArray("TimeOut=0\n") << 10000 << 10;
        QTest::newRow("negative interval") << QByteArray("TimeOut=-1000\n") << 10000 << 10;
        QTest::newRow("short interval kept") << QByteArray("TimeOut=500\n") << 500 << 10;
        QTest::newRow("negative points") << QByteArray("CharMaxCount=-3\n") << 10000 << 0;
        QTest::newRow("absurd points") << QByteArray("CharMaxCount=2000000000\n") << 10000 << MaxCharMaxCount;
    }
    void unusableNumbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, timeOut);
        QFETCH(int, charMaxCount);
        const KalvexConfig c = fromText("[General]\n" + text);
        QCOMPARE(c.TimeOut, timeOut);
        QCOMPARE(c.CharMaxCount, charMaxCount);
    }

    // The exact file SaveIni writes: key order, renumbering, float and boolean forms.
    // Every line is pre-filled with CharMaxCount points: the bound is on all lines together,
    // and it is logged.
    void chartPointsBoundedOverAllLines()
    {
        QStringList holds;
        FixedRandom random;
        const KalvexConfig c = readConfig(
            IniFile::fromBytes("[General]\nCharMaxCount=1000000\n[Items]\nItemCount=1000\n"), random.source(), &holds);
        QCOMPARE(int(c.Items.size()), 1000);
        QCOMPARE(c.CharMaxCount, int(MaxChartPoints / 1000));
        QCOMPARE(holds.size(), 1);
        QVERIFY(holds.first().contains(QStringLiteral("1000000")));
    }

    void encodingsAndUnreadableFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // "<dir>": a directory of that name
        QTest::addColumn<bool>("readable");
        const QString text = QStringLiteral("[General]\r\nCharMinY=-2,5\r\n[Items]\r\nItemName0=Кухня\r\nItemCount=1\r\n");
        QByteArray le("\xFF\xFE");
        QByteArray be("\xFE\xFF");
        for (const QChar ch : text) {
            const char hi = static_cast<char>(ch.unicode() >> 8);
            const char lo = static_cast<char>(ch.unicode() & 0xFF);
            le.append(lo).append(hi);
            be.append(hi).append(lo);
        }
        QTest::newRow("UTF-16 LE") << le << true;
        QTest::newRow("UTF-16 BE") << be << true;
        QTest::newRow("UTF-16 without its mark") << le.mid(2) << false;
        QTest::newRow("directory") << QByteArray("<dir>") << false;
    }
    void encodingsAndUnreadableFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readable);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kalvex.ini"));
        if (bytes == "<dir>") {
            QVERIFY(QDir().mkdir(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        QString problem;
        const KalvexConfig c = loadConfig(path, {}, nullptr, &problem);
        QCOMPARE(problem.isEmpty(), readable);
        if (readable) {
            QCOMPARE(c.CharMinY, -2.5);
            QCOMPARE(c.Items.at(0).Name, QStringLiteral("Кухня"));
        }
    }

    void savedLayout()
    {
        KalvexConfig c;
        SensorConfig s; // stands for the slot in use that was slot 2
        s.Name = QStringLiteral("Кухня");
        s.SN = QStringLiteral("28FF0123456789AB");
        s.Correct = 0.1 + 0.2;
        s.CBChart = 32768;
        s.Sign[2].bm = false;
        s.Sign[2].Value = -2.5;
        c.Items = {SensorConfig{}, s};
        c.Items[0].CBChart = 0;
        QByteArray expected = "[General]\nGneralPanel=0\nbkFileName=bk.jpg\nCOMPort=1\nCharMaxCount=10\n"
                              "TimeOut=10000\nHTTPActive=0\nHTTPPort=80\nCharMinMaxAuto=1\nCharMinY=-10\n"
                              "CharMaxY=10\nSnsHeight=200\nSHourHeight=200\nLogHeight=150\nP3Width=400\n"
                              "AutoNab=0\nStartMin=0\nWinStartRun=0\n[Items]\n";
        auto item = [](int k, const QByteArray &name, const QByteArray &sn, const QByteArray &correct,
                       const QByteArray &chart) {
            const QByteArray n = QByteArray::number(k);
            QByteArray t = "ItemTop" + n + "=1\nItemLeft" + n + "=1\nItemName" + n + "=" + name + "\nItemSN" + n
                + "=" + sn + "\nItemEnable" + n + "=0\nItemCorrect" + n + "=" + correct + "\nItemTray" + n
                + "=0\nItemCBFon" + n + "=16711680\nItemCBText" + n + "=16777215\nItemCBChart" + n + "=" + chart
                + "\n";
            for (int g = 1; g <= 4; ++g) {
                const QByteArray p = "Item" + n + "Sig" + QByteArray::number(g);
                const bool third = k == 1 && g == 3;
                t += p + "Enable=0\n" + p + "bm=" + (third ? "0" : "1") + "\n" + p + "Value="
                    + (third ? "-2,5" : "0") + "\n" + p + "mp3path=warn\n" + p + "mp3Enable=0\n" + p
                    + "AppPath=\n" + p + "AppEnable=0\n";
            }
            return t;
        };
        expected += item(0, "-", "", "0", "0");
        expected += item(1, "\xCA\xF3\xF5\xED\xFF", "28FF0123456789AB", "0,3", "32768");
        expected += "ItemCount=2\n";
        QCOMPARE(configIni(c).toBytes(), expected);
    }

    void noSensorsWriteOnlyItemCount()
    {
        const IniFile ini = configIni(KalvexConfig());
        QCOMPARE(ini.sections(), QStringList({"General", "Items"}));
        QCOMPARE(ini.keys("General").size(), 17);
        QCOMPARE(ini.keys("Items"), QStringList({"ItemCount"}));
        QVERIFY(ini.toBytes().endsWith("[Items]\nItemCount=0\n"));
    }

    // [Bus] is our own section: missing, it leaves the specified behaviour; it is written
    // after the specified sections, and only when it says something.
    void busSection_data()
    {
        QTest::addColumn<QByteArray>("bus");
        QTest::addColumn<bool>("bulk");
        QTest::addColumn<bool>("partial"); // the value could not be read
        QTest::newRow("no section") << QByteArray() << false << false;
        QTest::newRow("on") << QByteArray("[Bus]\nBulkConvert=1\n") << true << false;
        QTest::newRow("off") << QByteArray("[Bus]\nBulkConvert=0\n") << false << false;
        QTest::newRow("in [General] it is not the setting") << QByteArray("BulkConvert=1\n") << false << false;
        QTest::newRow("unreadable") << QByteArray("[Bus]\nBulkConvert=да\n") << false << true;
    }
    void busSection()
    {
        QFETCH(QByteArray, bus);
        QFETCH(bool, bulk);
        QFETCH(bool, partial);
        bool lossy = false;
        const KalvexConfig c = readConfig(IniFile::fromBytes("[General]\nCOMPort=3\n" + bus + "[Items]\nItemCount=0\n"),
                                          {}, nullptr, &lossy);
        QCOMPARE(c.BulkConvert, bulk);
        QCOMPARE(lossy, partial);
        QCOMPARE(c.COMPort, 3);
        const IniFile written = configIni(c);
        QCOMPARE(written.sections(), bulk ? QStringList({"General", "Items", "Bus"}) : QStringList({"General", "Items"}));
        QVERIFY(written.toBytes().endsWith(bulk ? "[Items]\nItemCount=0\n[Bus]\nBulkConvert=1\n" : "[Items]\nItemCount=0\n"));
        QCOMPARE(readConfig(written).BulkConvert, bulk);
    }

    // The owserver bus: its kind and place read back as written; a port out of range is the
    // usual one; the defaults are not written.
    void owServerBus_data()
    {
        QTest::addColumn<QByteArray>("bus");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("whole server elsewhere") << QByteArray("[Bus]\nKind=owserver\nHost=dacha.lan\nPort=4305\n")
                                                << "owserver" << "dacha.lan" << 4305 << "" << QByteArray("[Bus]\nKind=owserver\nHost=dacha.lan\nPort=4305\n");
        QTest::newRow("one bus, defaults") << QByteArray("[Bus]\nKind=OWServer\nPath=/bus.1\n")
                                           << "owserver" << "localhost" << 4304 << "/bus.1" << QByteArray("[Bus]\nKind=owserver\nPath=/bus.1\n");
        QTest::newRow("port out of range") << QByteArray("[Bus]\nKind=owserver\nPort=70000\n")
                                           << "owserver" << "localhost" << 4304 << "" << QByteArray("[Bus]\nKind=owserver\n");
        QTest::newRow("unknown kind") << QByteArray("[Bus]\nKind=ethernet\nHost=x\n")
                                      << "serial" << "x" << 4304 << "" << QByteArray("[Bus]\nHost=x\n");
        QTest::newRow("named") << QByteArray("[Bus]\nName=Home\n") << "serial" << "localhost" << 4304 << ""
                               << QByteArray("[Bus]\nName=Home\n");
    }
    void owServerBus()
    {
        QFETCH(QByteArray, bus);
        QFETCH(QString, kind);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, path);
        QFETCH(QByteArray, written);
        const KalvexConfig c = readConfig(IniFile::fromBytes("[General]\nCOMPort=3\n[Items]\nItemCount=0\n" + bus));
        QCOMPARE(c.BusKind, kind);
        QCOMPARE(c.OwServerBus.Host, host);
        QCOMPARE(c.OwServerBus.Port, port);
        QCOMPARE(c.OwServerBus.Path, path);
        const IniFile ini = configIni(c);
        QVERIFY2(ini.toBytes().endsWith("[Items]\nItemCount=0\n" + written), ini.toBytes().constData());
        QCOMPARE(readConfig(ini), c);
    }

    // [Bus2] ... [Bus16]: in number order between [Bus] and the later sections, a missing one
    // keeps the numbers (its bus is off), those beyond 16 are left out; Kind always written.
    void moreBuses_data()
    {
        QTest::addColumn<QByteArray>("file"); // after [Items]
        QTest::addColumn<QStringList>("buses"); // bus 2, 3, ...: kind, port, on
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("hold"); // in the log; empty: nothing
        QTest::newRow("every key")
            << QByteArray("[Bus3]\nkind=OWSERVER\nHost=dacha.lan\nPort=4305\nPath=/bus.1\nActive=0\nBulkConvert=1\n"
                          "COMPort=5\nName=Shed\n[Bus2]\nKind=kernel\nKernelPath=/w1\n[Bus]\nName=Home\n")
            << QStringList{"kernel 1 1", "owserver 5 0"}
            << QByteArray("[Bus]\nName=Home\n[Bus2]\nKind=kernel\nKernelPath=/w1\n[Bus3]\nKind=owserver\nCOMPort=5\n"
                          "BulkConvert=1\nHost=dacha.lan\nPort=4305\nPath=/bus.1\nName=Shed\nActive=0\n")
            << QString();
        QTest::newRow("gap") << QByteArray("[Bus4]\nKind=ds2480b\nCOMPort=7\n")
                             << QStringList{"serial 1 0", "serial 1 0", "ds2480b 7 1"}
                             << QByteArray("[Bus2]\nKind=serial\nActive=0\n[Bus3]\nKind=serial\nActive=0\n[Bus4]\n"
                                           "Kind=ds2480b\nCOMPort=7\n")
                             << QStringLiteral("нет разделов шин 2, 3");
        QTest::newRow("beyond 16") << QByteArray("[Bus2]\nKind=serial\n[Bus17]\nKind=kernel\n")
                                   << QStringList{"serial 1 1"} << QByteArray("[Bus2]\nKind=serial\n")
                                   << QStringLiteral("[Bus17]");
        QTest::newRow("unknown kind") << QByteArray("[Bus2]\nKind=ethernet\nCOMPort=COM3\n")
                                      << QStringList{"serial 1 1"} << QByteArray("[Bus2]\nKind=serial\n")
                                      << QStringLiteral("[Bus2] Kind=«ethernet», [Bus2] COMPort=«COM3»");
        QTest::newRow("before [OwServer]") << QByteArray("[OwServer]\nActive=1\n[Bus2]\nKind=kernel\n")
                                           << QStringList{"kernel 1 1"}
                                           << QByteArray("[Bus2]\nKind=kernel\n[OwServer]\nActive=1\nPort=4304\n")
                                           << QString();
    }
    void moreBuses()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, buses);
        QFETCH(QByteArray, written);
        QFETCH(QString, hold);
        QStringList holds;
        const KalvexConfig c = readConfig(IniFile::fromBytes("[Items]\nItemCount=0\n" + file), {}, &holds);
        QStringList got;
        for (const BusConfig &b : c.MoreBuses)
            got << QStringLiteral("%1 %2 %3").arg(b.Kind).arg(b.COMPort).arg(b.Active);
        QCOMPARE(got, buses);
        QCOMPARE(holds.join(QLatin1Char('\n')).contains(hold), true);
        QCOMPARE(holds.isEmpty(), hold.isEmpty());
        const QByteArray bytes = configIni(c).toBytes();
        QVERIFY2(bytes.endsWith("[Items]\nItemCount=0\n" + written), bytes.constData());
        QCOMPARE(readConfig(IniFile::fromBytes(bytes)), c);
        KalvexConfig other;
        setBusList(other, busList(c));
        QCOMPARE(busList(other), busList(c));
        QCOMPARE(busList(c).size(), c.MoreBuses.size() + 1);
    }

    // ItemBus k: written only for a bus other than 1; a bus the file does not have is bus 1,
    // named in one log line, and the file is kept as not taken whole.
    void itemBus_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<int>>("buses");
        QTest::addColumn<QString>("hold");
        const QByteArray two = "[Bus2]\nKind=kernel\n";
        QTest::newRow("bus 2") << "[Items]\nItemCount=2\nItemBus1=2\nItemBus0=1\n" + two << QList<int>{1, 2} << QString();
        QTest::newRow("beyond the buses") << "[Items]\nItemCount=3\nItemBus0=3\nItemBus1=2\nItemBus2=0\n" + two
                                          << QList<int>{1, 2, 1} << QStringLiteral("ItemBus0=«3», ItemBus2=«0»");
        QTest::newRow("no number, one bus") << QByteArray("[Items]\nItemCount=1\nItemBus0=two\n") << QList<int>{1}
                                            << QStringLiteral("ItemBus0=«two»");
        QTest::newRow("the key alone is a sensor") << "[Items]\nItemCount=0\nItemBus0=2\n" + two << QList<int>{2}
                                                   << QString();
    }
    void itemBus()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<int>, buses);
        QFETCH(QString, hold);
        QStringList holds;
        bool partial = false;
        const KalvexConfig c = readConfig(IniFile::fromBytes(file), {}, &holds, &partial);
        QList<int> got;
        for (const SensorConfig &s : c.Items)
            got << s.Bus;
        QCOMPARE(got, buses);
        QCOMPARE(partial, !hold.isEmpty());
        const QStringList about = holds.filter(QStringLiteral("ItemBus"));
        QCOMPARE(about.size(), hold.isEmpty() ? 0 : 1);
        if (!hold.isEmpty())
            QVERIFY2(about.first().contains(hold), qPrintable(about.first()));
        const QByteArray bytes = configIni(c).toBytes();
        for (int k = 0; k < buses.size(); ++k)
            QCOMPARE(bytes.contains("ItemBus" + QByteArray::number(k) + "="), buses[k] != 1);
        QCOMPARE(readConfig(IniFile::fromBytes(bytes), {}, nullptr, &partial), c);
        QVERIFY(!partial);
    }

    // [MQTT] comes after every other section, in full once anything in it is set; the default
    // topic follows the machine's name and so is written only when it was changed.
    void mqttSection_data()
    {
        QTest::addColumn<QByteArray>("mqtt");
        QTest::addColumn<bool>("active");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QStringList>("sections");
        const QStringList specified{"General", "Items", "Bus"};
        QTest::newRow("no section") << QByteArray() << false << 1883 << MqttSettings::defaultTopic() << specified;
        QTest::newRow("on, default topic") << QByteArray("[MQTT]\nActive=1\nHost=hub\nPort=8883\n") << true << 8883
                                           << MqttSettings::defaultTopic() << specified + QStringList{"MQTT"};
        QTest::newRow("own topic") << QByteArray("[MQTT]\nTopic=kalvex/dacha\n") << false << 1883
                                   << QStringLiteral("kalvex/dacha") << specified + QStringList{"MQTT"};
    }
    void mqttSection()
    {
        QFETCH(QByteArray, mqtt);
        QFETCH(bool, active);
        QFETCH(int, port);
        QFETCH(QString, topic);
        QFETCH(QStringList, sections);
        const KalvexConfig c = readConfig(
            IniFile::fromBytes("[General]\nCOMPort=3\n" + mqtt + "[Items]\nItemCount=0\n[Bus]\nBulkConvert=1\n"));
        QCOMPARE(c.MQTT.Active, active);
        QCOMPARE(c.MQTT.Port, port);
        QCOMPARE(c.MQTT.Topic, topic);
        QCOMPARE(c.COMPort, 3);
        const IniFile written = configIni(c);
        QCOMPARE(written.sections(), sections);
        QCOMPARE(written.hasKey("MQTT", "Topic"), topic != MqttSettings::defaultTopic());
        QCOMPARE(readConfig(written), c);
    }

    // [OwServer] after [MQTT], only when something in it is set; the address only when one is.
    void owServerSection_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("no section") << QByteArray() << QByteArray();
        QTest::newRow("on") << QByteArray("[OwServer]\nActive=1\n") << QByteArray("[OwServer]\nActive=1\nPort=4304\n");
        QTest::newRow("own port and address") << QByteArray("[OwServer]\nPort=4305\nAddress= 127.0.0.1\n")
                                              << QByteArray("[OwServer]\nActive=0\nPort=4305\nAddress=127.0.0.1\n");
    }
    void owServerSection()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, written);
        const QByteArray rest = "[General]\nCOMPort=3\n[Items]\nItemCount=0\n[MQTT]\nActive=1\n";
        const KalvexConfig c = readConfig(IniFile::fromBytes(section + rest));
        const QByteArray bytes = configIni(c).toBytes();
        QVERIFY2(bytes.endsWith("[MQTT]\nActive=1\nHost=localhost\nPort=1883\nUser=\nPassword=\nDiscovery=1\n"
                                "DiscoveryPrefix=homeassistant\nCAFile=\n" + written), bytes.constData());
        QCOMPARE(readConfig(configIni(c)), c);
    }

    // The broker's password is for the owner's eyes: the file loses every other right.
    void passwordKeepsFileToOwner_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("mode");
        QTest::newRow("no password") << QString() << 0644;
        QTest::newRow("password") << QStringLiteral("секрет") << 0600;
    }
    void passwordKeepsFileToOwner()
    {
        QFETCH(QString, password);
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString path = dir.filePath("Kalvex.ini");
        KalvexConfig c = rich();
        QVERIFY(writeConfig(path, c));
        c.MQTT.User = QStringLiteral("kalvex");
        c.MQTT.Password = password;
        QVERIFY(writeConfig(path, c));
        const QFileDevice::Permissions rights = QFile::permissions(path);
        const int got = (rights & QFileDevice::ReadOwner ? 0400 : 0) | (rights & QFileDevice::WriteOwner ? 0200 : 0)
                        | (rights & QFileDevice::ReadGroup ? 040 : 0) | (rights & QFileDevice::ReadOther ? 04 : 0);
        QCOMPARE(got, mode);
        QCOMPARE(loadConfig(path).MQTT.Password, password);
    }

    void roundTripKeepsEveryValue()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kalvex.ini");
        const KalvexConfig c = rich();
        QVERIFY(writeConfig(path, c));
        QVERIFY(readAll(path).startsWith("\xEF\xBB\xBF"));
        const QByteArray first = readAll(path);
        FixedRandom random;
        const KalvexConfig back = loadConfig(path, random.source());
        QCOMPARE(back, c);
        QVERIFY(writeConfig(path, back));
        QCOMPARE(readAll(path), first); // saved twice: byte for byte the same
        QCOMPARE(otherFiles(dir.path(), "Kalvex.ini"), QStringList());
    }

    void handEditedFile()
    {
        const QByteArray text =
            "\r\n[GENERAL]\r\n"
            "gneralpanel = 1\r\n"
            "BKFILENAME=  план дома.jpg  \r\n"
            "\r\n"
            "ComPort=0x1F\r\n"
            "TimeOut=ten\r\n"
            "HTTPPORT=8O80\r\n"
            "CharMaxCount=12,5\r\n"
            "[items]\r\n"
            "itemcount=1\r\n"
            "ITEMNAME0=Спальня 2\r\n"
            "itemCBFon0=0x0000FF\r\n"
            "ItemCorrect0=-0,25\r\n"
            "item0sig2VALUE=abc\r\n"
            "Item0Sig2Enable=7\r\n";
        for (const bool bom : {false, true}) {
            const KalvexConfig c = fromText((bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text);
            QVERIFY(c.GneralPanel);
            // A text is the rest of its line as it stands.
            QCOMPARE(c.bkFileName, QStringLiteral("  план дома.jpg  "));
            QCOMPARE(c.COMPort, 31);
            QCOMPARE(c.TimeOut, 10000);
            QCOMPARE(c.HTTPPort, 80);
            QCOMPARE(c.CharMaxCount, 10);
            QCOMPARE(c.Items.size(), size_t(1));
            QCOMPARE(c.Items[0].Name, QStringLiteral("Спальня 2"));
            QCOMPARE(c.Items[0].CBFon, TColor(255));
            QCOMPARE(c.Items[0].Correct, -0.25);
            QCOMPARE(c.Items[0].Sign[1].Value, 0.0);
            QVERIFY(c.Items[0].Sign[1].Enable);
        }
        // Every value that gave its default for want of a number is named, in one line, and
        // the file is reported as not taken whole (the save keeps a copy).
        QStringList holds;
        bool partial = false;
        readConfig(IniFile::fromBytes(text), {}, &holds, &partial);
        QVERIFY(partial);
        QCOMPARE(holds.size(), 1);
        for (const char *key : {"TimeOut=«ten»", "HTTPPort=«8O80»", "CharMaxCount=«12,5»", "Item0Sig2Value=«abc»"})
            QVERIFY2(holds.first().contains(QString::fromUtf8(key)), qPrintable(holds.first()));
    }

    // A file whose numbers all read, with either separator, is taken whole.
    void numbersWithEitherSeparator()
    {
        QStringList holds;
        bool partial = true;
        const KalvexConfig c = readConfig(
            IniFile::fromBytes("[General]\nCharMinY=-12.5\nCharMaxY=30,5\n[Items]\nItemCorrect0=0.5\n"
                               "Item0Sig1Value=-1.5\nItemCount=1\n"),
            {}, &holds, &partial);
        QCOMPARE(c.CharMinY, -12.5);
        QCOMPARE(c.CharMaxY, 30.5);
        QCOMPARE(c.Items.at(0).Correct, 0.5);
        QCOMPARE(c.Items.at(0).Sign[0].Value, -1.5);
        QVERIFY(holds.isEmpty());
        QVERIFY(!partial);
    }

    // Texts are held to MaxTextLength: what a label, a tray tip and the web can show, and what
    // keeps start-up quick however long a hand-edited value is.
    void textsHeldToTheirLength_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("name") << QStringLiteral("Items/ItemName0");
        QTest::newRow("serial number") << QStringLiteral("Items/ItemSN0");
        QTest::newRow("sound") << QStringLiteral("Items/Item0Sig3mp3path");
        QTest::newRow("application") << QStringLiteral("Items/Item0Sig4AppPath");
        QTest::newRow("background") << QStringLiteral("General/bkFileName");
    }
    void textsHeldToTheirLength()
    {
        QFETCH(QString, key);
        const QString section = key.section(QLatin1Char('/'), 0, 0);
        const QString name = key.section(QLatin1Char('/'), 1);
        IniFile ini;
        ini.writeInteger(QStringLiteral("Items"), QStringLiteral("ItemCount"), 1);
        const QString longText = QString(MaxTextLength + 5000, QChar(0x0416));
        ini.writeString(section, name, longText);
        QStringList holds;
        bool partial = false;
        const KalvexConfig c = readConfig(IniFile::fromBytes(ini.toBytes()), {}, &holds, &partial);
        const SensorConfig &s = c.Items.at(0);
        const QString held = name == QLatin1String("ItemName0")        ? s.Name
            : name == QLatin1String("ItemSN0")                       ? s.SN
            : name == QLatin1String("Item0Sig3mp3path")              ? s.Sign[2].mp3path
            : name == QLatin1String("Item0Sig4AppPath")              ? s.Sign[3].AppPath
                                                                     : c.bkFileName;
        QCOMPARE(held, longText.left(MaxTextLength));
        QCOMPARE(holds.size(), 1);
        QVERIFY2(holds.first().contains(name + QStringLiteral(" (%1)").arg(longText.size())), qPrintable(holds.first()));
        QVERIFY(partial);
    }

    void failedSaveKeepsOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kalvex.ini");
        QVERIFY(writeConfig(path, rich()));
        const QByteArray old = readAll(path);
        KalvexConfig other = rich();
        other.COMPort = 9;
        {
            FileSizeLimit limit(512);
            QVERIFY(!writeConfig(path, other));
        }
        {
            ImmutableDir lock(dir.path());
            if (lock.ok())
                QVERIFY(!writeConfig(path, other));
        }
        QCOMPARE(readAll(path), old);
        QCOMPARE(otherFiles(dir.path(), "Kalvex.ini"), QStringList());
        QVERIFY(writeConfig(path, other)); // and the next attempt succeeds
        QCOMPARE(loadConfig(path).COMPort, 9);
    }
};

QTEST_GUILESS_MAIN(TestKalvexConfig)
#include "tst_kalvexconfig.moc"
