#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "onewire/PtyBusServer.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/ExpositionParser.h"
#include "support/SysfsTree.h"
#include "web/HttpClient.h"

#include <sqlite3.h>

#include <QImage>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>

#include <csignal>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// One sensor at 21.5 °C on the bus simulator, served on a pseudo-terminal for as long as this
// lives.
struct ServedBus
{
    VirtualBus bus;
    PtyBusServer server{bus};
    std::thread serving;

    ServedBus() { bus.addSensor(QStringLiteral("28ECEDC7050000F6"), 21.5); }
    ~ServedBus()
    {
        if (serving.joinable()) {
            server.requestStop();
            serving.join();
        }
    }
    // Links the terminal as `link` (a COMn of the program's folder) and starts serving.
    bool serveAs(const QString &link)
    {
        if (!server.open() || !server.linkAs(link))
            return false;
        serving = std::thread([this] { server.run(); });
        return true;
    }
};

// The rows on a real X server run once, in the users' locale: the same test under C.UTF-8
// runs beside it, and an X server ending removes its socket late enough to take a new
// server's socket of the same number with it.
#define skipUnlessUsersLocale()                                                                  \
    do {                                                                                         \
        if (!qEnvironmentVariable("LANG").startsWith(QLatin1String("ru_RU")))                    \
            QSKIP("runs in the users' locale only");                                             \
    } while (false)

// A real X server of the given size on a free display, for as long as this lives.
struct VirtualScreen
{
    QProcess server;
    QString display;

    // overTcp: also listens on TCP port 6000 + its number.
    bool start(const QSize &size, bool overTcp = false)
    {
        // Xvfb picks a free display itself and names it once it listens: two tests starting
        // servers at the same moment never share one.
        server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                              QStringLiteral("0"),
                                              QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
                                              overTcp ? QStringLiteral("-listen") : QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp")});
        if (!server.waitForStarted())
            return false;
        QByteArray out;
        for (int waited = 0; waited < 200 && !out.contains('\n'); ++waited) {
            if (server.state() != QProcess::Running)
                return false;
            server.waitForReadyRead(50);
            out += server.readAllStandardOutput();
        }
        bool ok = false;
        const int n = out.trimmed().toInt(&ok);
        if (!ok)
            return false;
        display = QStringLiteral(":%1").arg(n);
        // Ready only once a client gets an answer.
        for (int waited = 0; waited < 100; ++waited) {
            if (!xdotool({QStringLiteral("getdisplaygeometry")}).isEmpty())
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    ~VirtualScreen()
    {
        server.terminate();
        server.waitForFinished(5000);
    }
    // xdotool's answer, or empty.
    QString xdotool(const QStringList &arguments) const
    {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral("xdotool"), arguments);
        if (!tool.waitForFinished(5000))
            return {};
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }
    // The visible main window's frame on the screen; empty while none is shown.
    QRect mainWindow() const
    {
        const QString id = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                    QStringLiteral("^Kalvex v1.2")})
                               .section(QLatin1Char('\n'), 0, 0);
        if (id.isEmpty())
            return {};
        QMap<QString, int> v;
        for (const QString &line : xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}).split(QLatin1Char('\n')))
            v.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
        return QRect(v.value(QStringLiteral("X")), v.value(QStringLiteral("Y")), v.value(QStringLiteral("WIDTH")),
                     v.value(QStringLiteral("HEIGHT")));
    }
};

// The built program, started as a user or a service would start it.
class TestProgram : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
        // The users' locale, whatever the test runs under: decimal commas in the C library too.
        env.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
        return env;
    }

    QString entryPath() const { return m_dir->filePath(QStringLiteral("config/autostart/Kalvex.desktop")); }

    // Starts the program on the virtual screen until its window shows. A start whose
    // connection the X server refused (seen now and then when another test's server ends at
    // the same moment) is tried again; what the program does once connected is the test.
    static bool startWithWindow(QProcess &program, const VirtualScreen &x, const QStringList &arguments, QString &error)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            program.start(QStringLiteral(KALVEX_PROGRAM), arguments);
            if (!program.waitForStarted())
                return false;
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 20000 && program.state() == QProcess::Running) {
                if (!x.mainWindow().isEmpty())
                    return true;
                QTest::qWait(100);
            }
            error += QString::fromLocal8Bit(program.readAllStandardError());
            const bool refused = error.contains(QLatin1String("could not connect to display"))
                || error.contains(QLatin1String("нет связи с дисплеем"));
            program.kill();
            program.waitForFinished(5000);
            if (!refused)
                return false;
        }
        return false;
    }

    // True once the process catches the signal: from then on it is not lost.
    static bool catches(qint64 pid, int signalNumber)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:")) {
                bool ok = false;
                const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
                return ok && (mask & (1ULL << (signalNumber - 1)));
            }
        }
        return false;
    }


    QString dataPath(const QString &name) const { return m_dir->filePath(QStringLiteral("data/") + name); }

    // "Section/key" -> value bytes of an INI file, whatever its line ends.
    static QMap<QByteArray, QByteArray> iniValues(const QString &path)
    {
        QMap<QByteArray, QByteArray> values;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return values;
        QByteArray section;
        for (QByteArray line : file.readAll().split('\n')) {
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.startsWith('['))
                section = line.mid(1, line.size() - 2);
            else if (const qsizetype eq = line.indexOf('='); eq > 0)
                values.insert(section + '/' + line.left(eq), line.mid(eq + 1));
        }
        return values;
    }

    // Every t stored for the serial, oldest first.
    static QList<double> storedReadings(const QString &path, const char *serial)
    {
        QList<double> result;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt *stmt = nullptr;
            if (sqlite3_prepare_v2(db, "select t from stats where Sn = ? order by rowid", -1, &stmt, nullptr) == SQLITE_OK) {
                sqlite3_bind_text(stmt, 1, serial, -1, SQLITE_STATIC);
                while (sqlite3_step(stmt) == SQLITE_ROW)
                    result << sqlite3_column_double(stmt, 0);
            }
            sqlite3_finalize(stmt);
        }
        sqlite3_close_v2(db);
        return result;
    }

    void startProgram(QProcess &program)
    {
        program.setProcessEnvironment(environment());
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--dir"), m_dir->filePath(QStringLiteral("data"))});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), SIGTERM), 20000);
    }

    void stop(QProcess &program, int signalNumber, int withinMs)
    {
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        QVERIFY2(program.waitForFinished(withinMs), "the program did not end in time");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    // Started as a service would be, on the data folder; the log then goes to standard error.
    void startHeadless(QProcess &program)
    {
        QProcessEnvironment env = environment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--headless"), QStringLiteral("--dir"), dataPath(QString())});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), SIGTERM), 20000);
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    // Numbers of a file from a machine whose separator is the point are read, and saved back
    // in this machine's form; a value that still is no number is named in the log and the
    // file is kept before the save replaces it.
    void configurationNumbersWithAPoint_data()
    {
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<bool>("kept");
        QTest::newRow("all numbers read") << QByteArray() << false;
        QTest::newRow("one value no number") << QByteArray("Item0Sig2Value=0.5x\n") << true;
    }
    void configurationNumbersWithAPoint()
    {
        QFETCH(QByteArray, extra);
        QFETCH(bool, kept);
        ServedBus bus;
        QVERIFY(QDir().mkpath(dataPath(QString())));
        QVERIFY(bus.serveAs(dataPath(QStringLiteral("COM1"))));
        const QByteArray ini = "[General]\nCOMPort=1\nTimeOut=1000\nCharMinMaxAuto=0\nCharMinY=-12.5\n[Items]\n"
                               "ItemName0=Kitchen\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\nItemCorrect0=0.5\n"
                               "Item0Sig1Value=-1.5\n" + extra + "ItemCount=1\n";
        writeFile(dataPath(QStringLiteral("Kalvex.ini")), ini);

        QProcess program;
        startHeadless(program);
        // The correction applies to what is stored: 21.5 + 0.5.
        QTRY_VERIFY_WITH_TIMEOUT(!storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").isEmpty(),
                                 20000);
        QCOMPARE(storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").first(), 22.0);
        stop(program, SIGTERM, 5000);

        const QMap<QByteArray, QByteArray> after = iniValues(dataPath(QStringLiteral("Kalvex.ini")));
        QCOMPARE(after.value("Items/ItemCorrect0"), QByteArray("0,5"));
        QCOMPARE(after.value("Items/Item0Sig1Value"), QByteArray("-1,5"));
        QCOMPARE(after.value("General/CharMinY"), QByteArray("-12,5"));
        const QString log = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(log.contains(QStringLiteral("Item0Sig2Value=«0.5x»")), kept);
        QCOMPARE(readFile(dataPath(QStringLiteral("Kalvex.ini.unreadable"))), kept ? ini : QByteArray());
    }

    // A configuration that is a FIFO (or a device) neither holds the start-up nor is taken for
    // a file: the program starts on the defaults, ends at the signal and keeps it aside.
    void configurationNotARegularFile()
    {
        QVERIFY(QDir().mkpath(dataPath(QString())));
        QCOMPARE(::mkfifo(QFile::encodeName(dataPath(QStringLiteral("Kalvex.ini"))).constData(), 0600), 0);
        QProcess program;
        startHeadless(program);
        // The store is connected after the configuration is read.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dataPath(QStringLiteral("Kalvex.st"))), 20000);
        stop(program, SIGTERM, 5000);
        QVERIFY(QFileInfo(dataPath(QStringLiteral("Kalvex.ini"))).isFile());
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dataPath(QStringLiteral("Kalvex.ini.unreadable"))).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
        QVERIFY(QString::fromUtf8(program.readAllStandardError()).contains(QStringLiteral("не обычный файл")));
    }

    // A configuration over the read cap is not read in part (its head saved back as the whole
    // of it): it is read as unreadable and kept whole.
    void configurationOverTheReadCap()
    {
        QVERIFY(QDir().mkpath(dataPath(QString())));
        const QString path = dataPath(QStringLiteral("Kalvex.ini"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General]\nCOMPort=3\n");
            const QByteArray comment = ";" + QByteArray(1022, 'x') + "\n";
            for (int i = 0; i < 65 * 1024; ++i)
                file.write(comment);
            file.write("[Items]\nItemName0=Kitchen\nItemSN0=28ECEDC7050000F6\nItemCount=1\n");
        }
        const qint64 size = QFileInfo(path).size();
        QProcess program;
        startHeadless(program);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dataPath(QStringLiteral("Kalvex.st"))), 20000);
        stop(program, SIGTERM, 5000);
        QCOMPARE(QFileInfo(dataPath(QStringLiteral("Kalvex.ini.unreadable"))).size(), size);
        QVERIFY(QFileInfo(path).size() < 64 * 1024);
        QCOMPARE(iniValues(path).value("General/COMPort"), QByteArray("1"));
        QVERIFY(QString::fromUtf8(program.readAllStandardError()).contains(QStringLiteral(" не прочитан (больше 64 МиБ)")));
    }

    // A hand-edited name of ten megabytes is held to its length: start-up, the page and every
    // /metrics reply stay small, the hold is logged once, and the whole name stays in the copy.
    void longSensorNameHeld()
    {
        ServedBus bus;
        QVERIFY(QDir().mkpath(dataPath(QString())));
        QVERIFY(bus.serveAs(dataPath(QStringLiteral("COM1"))));
        const int port = httpclient::freePort();
        const QByteArray name(10 * 1024 * 1024, 'N');
        const QByteArray ini = "[General]\nCOMPort=1\nTimeOut=1000\nHTTPActive=1\nHTTPPort=" + QByteArray::number(port)
            + "\n[Items]\nItemName0=" + name + "\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\nItemCount=1\n";
        writeFile(dataPath(QStringLiteral("Kalvex.ini")), ini);

        QProcess program;
        startHeadless(program);
        QTRY_VERIFY_WITH_TIMEOUT(!storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").isEmpty(),
                                 30000);
        const httpclient::Reply metrics = httpclient::get(port, "/metrics");
        QCOMPARE(metrics.status, 200);
        QVERIFY2(metrics.body.size() < 64 * 1024, qPrintable(QString::number(metrics.body.size())));
        QVERIFY(metrics.body.contains("name=\"" + name.left(1000) + "\""));
        const httpclient::Reply page = httpclient::get(port, "/");
        QCOMPARE(page.status, 200);
        QVERIFY2(page.body.size() < 64 * 1024, qPrintable(QString::number(page.body.size())));
        stop(program, SIGTERM, 5000);

        QCOMPARE(iniValues(dataPath(QStringLiteral("Kalvex.ini"))).value("Items/ItemName0"), name.left(1000));
        QCOMPARE(readFile(dataPath(QStringLiteral("Kalvex.ini.unreadable"))), ini);
        const QString log = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("ItemName0 (10485760)")), 1);
    }

    // The kernel's bus with one w1_slave that hangs (a FIFO nobody writes stands in for a
    // hung driver) before a healthy one: the healthy sensor's readings go on, every cycle,
    // and a stop signal ends the program at once though a read still hangs in the kernel.
    void hungKernelReadHoldsNeitherSensorsNorExit()
    {
        SysfsTree tree;
        tree.addMaster(1, false);
        const QString hung = QStringLiteral("28ECEDC7050000F6");
        const QString healthy = QStringLiteral("2825EA52050000CE");
        tree.addDevice(1, hung);
        tree.addDevice(1, healthy, SysfsTree::w1SlaveText(VirtualSensor::scratchpadFor(21.5, true), true));
        QFile::remove(tree.w1Slave(hung));
        QVERIFY(::mkfifo(QFile::encodeName(tree.w1Slave(hung)).constData(), 0600) == 0);
        QVERIFY(QDir().mkpath(dataPath(QString())));
        writeFile(dataPath(QStringLiteral("Kalvex.ini")),
                  "[General]\nTimeOut=1000\n[Items]\nItemSN0=" + hung.toLatin1() + "\nItemEnable0=1\nItemSN1="
                      + healthy.toLatin1() + "\nItemEnable1=1\nItemCount=2\n[Bus]\nKind=kernel\nKernelPath="
                      + QFile::encodeName(tree.path()) + "\n");
        QProcess program;
        startHeadless(program);
        const QString st = dataPath(QStringLiteral("Kalvex.st"));
        QTRY_VERIFY_WITH_TIMEOUT(storedReadings(st, "2825EA52050000CE").size() >= 3, 30000);
        QVERIFY(storedReadings(st, "28ECEDC7050000F6").isEmpty());
        stop(program, SIGTERM, 2000);
        QCOMPARE(QString::fromUtf8(program.readAllStandardError()).count(QStringLiteral("Драйвер 1-Wire не отвечает")), 1);
    }

    // Store files deleted after a crash, their log left behind: the new store starts empty
    // and whole, and the log is kept aside.
    void storeDeletedBesideItsLog()
    {
        QVERIFY(QDir().mkpath(dataPath(QString())));
        const QString st = dataPath(QStringLiteral("Kalvex.st"));
        // A store in write-ahead mode with its readings still in the log, as a crash leaves it.
        const pid_t pid = ::fork();
        if (pid == 0) {
            sqlite3 *db = nullptr;
            if (sqlite3_open_v2(QFile::encodeName(st).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                nullptr) != SQLITE_OK)
                ::_exit(2);
            const bool ok = sqlite3_exec(db,
                                         "pragma journal_mode=wal; pragma wal_autocheckpoint=0;"
                                         "create table stats (Dat DATETIME, Sn Text(16), t float);"
                                         "with recursive n(i) as (select 1 union all select i + 1 from n where i < 200000)"
                                         " insert into stats select 46000 + i / 8640.0, '28ECEDC7050000F6', 5 from n;",
                                         nullptr, nullptr, nullptr)
                == SQLITE_OK;
            ::_exit(ok ? 0 : 3);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QVERIFY(QFile::remove(st));
        ServedBus bus;
        QVERIFY(bus.serveAs(dataPath(QStringLiteral("COM1"))));
        writeFile(dataPath(QStringLiteral("Kalvex.ini")),
                  "[General]\nTimeOut=1000\n[Items]\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\nItemCount=1\n");

        QProcess program;
        startHeadless(program);
        QTRY_VERIFY_WITH_TIMEOUT(storedReadings(st, "28ECEDC7050000F6").contains(21.5), 20000);
        stop(program, SIGTERM, 5000);
        QVERIFY(!storedReadings(st, "28ECEDC7050000F6").contains(5.0));
        QVERIFY(QFileInfo(st + QStringLiteral("-wal.orphan")).size() > 0);
        QVERIFY(QString::fromUtf8(program.readAllStandardError()).contains(QStringLiteral("Kalvex.st-wal → Kalvex.st-wal.orphan")));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void stopSignalRunsTheShutdown_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void stopSignalRunsTheShutdown()
    {
        QFETCH(int, signalNumber);
        // The shutdown deletes this entry, since nothing asks to start with the session.
        QVERIFY(QDir().mkpath(QFileInfo(entryPath()).path()));
        QFile entry(entryPath());
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.close();

        QProcess program;
        program.setProcessEnvironment(environment());
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--dir"), m_dir->filePath(QStringLiteral("data"))});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), signalNumber), 20000);
        QVERIFY(QFile::exists(entryPath()));

        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!QFile::exists(entryPath()));
        QVERIFY(QFileInfo(m_dir->filePath(QStringLiteral("data"))).isDir());
    }


    // A configuration as a Windows editor leaves it: Windows-1251, CR LF, decimal commas.
    void handWrittenConfigurationSurvives_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void handWrittenConfigurationSurvives()
    {
        QFETCH(int, signalNumber);
        VirtualBus bus;
        bus.addSensor(QStringLiteral("28ECEDC7050000F6"), 21.5);
        PtyBusServer server(bus);
        QVERIFY(server.open());
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("data"))));
        QVERIFY(server.linkAs(dataPath(QStringLiteral("COM1"))));
        std::thread serving([&server] { server.run(); });
        // A failed check returns early: the server thread ends with the test either way.
        const auto joinServer = qScopeGuard([&] {
            server.requestStop();
            serving.join();
        });

        // "Кухня" and "Гараж" in Windows-1251.
        QByteArray ini = "[General]\r\nCOMPort=1\r\nCharMaxCount=12\r\nTimeOut=1000\r\nCharMinMaxAuto=0\r\n"
                         "CharMinY=-12,5\r\nCharMaxY=30,5\r\nAutoNab=1\r\nbkFileName=\xCF\xEB\xE0\xED.jpg\r\n"
                         "[Items]\r\nItemTop0=90\r\nItemLeft0=120\r\nItemName0=\xCA\xF3\xF5\xED\xFF\r\n"
                         "ItemSN0=28ECEDC7050000F6\r\nItemEnable0=1\r\nItemCorrect0=0,5\r\n"
                         "Item0Sig1Enable=1\r\nItem0Sig1bm=0\r\nItem0Sig1Value=-2,5\r\n"
                         "ItemTop1=60\r\nItemLeft1=300\r\nItemName1=\xC3\xE0\xF0\xE0\xE6\r\n"
                         "ItemSN1=2825EA52050000CE\r\nItemEnable1=0\r\nItemCorrect1=-1,25\r\nItemCount=2\r\n";
        QFile file(dataPath(QStringLiteral("Kalvex.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
        file.close();
        const QMap<QByteArray, QByteArray> before = iniValues(file.fileName());

        QProcess program;
        startProgram(program);
        // The correction applies to what is stored: 21.5 + 0.5.
        QTRY_VERIFY_WITH_TIMEOUT(!storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").isEmpty(),
                                 20000);
        QCOMPARE(storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").first(), 22.0);
        stop(program, signalNumber, 20000);

        const QMap<QByteArray, QByteArray> after = iniValues(file.fileName());
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QCOMPARE(after.value(it.key(), "<missing>"), it.value());
    }

    // A cycle on a silent line (nothing answers, every read waits out its time-out) ends at
    // the signal: the configuration is saved long before ten sensors' attempts would end.
    void stopDuringCycleOnSilentLine()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        QVERIFY(::fcntl(master, F_SETFL, O_NONBLOCK) == 0);
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("data"))));
        QVERIFY(QFile::link(QString::fromLocal8Bit(::ptsname(master)), dataPath(QStringLiteral("COM1"))));
        QByteArray ini = "[General]\nAutoNab=1\n[Items]\n";
        for (int i = 0; i < 10; ++i)
            ini += QStringLiteral("ItemSN%1=28ECEDC705000%1F6\nItemEnable%1=1\n").arg(i).toLatin1();
        ini += "ItemCount=10\n";
        QFile file(dataPath(QStringLiteral("Kalvex.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
        file.close();

        QProcess program;
        startProgram(program);
        // The cycle is under way once the first slot characters reach the line.
        QElapsedTimer waited;
        waited.start();
        char slot = 0;
        while (::read(master, &slot, 1) != 1 && waited.elapsed() < 20000)
            QTest::qWait(20);
        QVERIFY(waited.elapsed() < 20000);
        QTest::qWait(500);
        stop(program, SIGTERM, 5000);
        ::close(master);
        QCOMPARE(iniValues(file.fileName()).value("Items/ItemSN9"), QByteArray("28ECEDC7050009F6"));
    }

    // A box shown while the window is created (here: a store that cannot be opened) is closed
    // by the stop signal as cancelled, and the shutdown still saves.
    void stopDuringStartUpBox()
    {
        QVERIFY(QDir().mkpath(dataPath(QStringLiteral("Kalvex.st/sub"))));
        QProcess program;
        startProgram(program);
        QTest::qWait(1500);
        QCOMPARE(program.state(), QProcess::Running);
        stop(program, SIGTERM, 5000);
        QVERIFY(QFile::exists(dataPath(QStringLiteral("Kalvex.ini"))));
    }

    // A machine without a display: the program runs as a service would, says so, and the
    // demo names the page and the metrics it serves.
    void noDisplayRunsHeadless()
    {
        // Held here, so that the program has to find the next free port.
        QTcpServer held;
        const bool holding = held.listen(QHostAddress::Any, 8080);
        QProcessEnvironment env = environment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--demo"), QStringLiteral("--dir"), dataPath(QString())});
        QVERIFY(program.waitForStarted());
        QString err;
        const QRegularExpression page(QStringLiteral("Страница датчиков: http://localhost:(\\d+)/\n"));
        QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(program.readAllStandardError()), page.match(err).hasMatch()), 20000);
        const int port = page.match(err).captured(1).toInt();
        QVERIFY(port >= 8080);
        if (holding)
            QVERIFY(port != 8080);
        QVERIFY2(err.section(QLatin1Char('\n'), 0, 0).contains(QStringLiteral("--headless")), qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("Метрики: http://localhost:%1/metrics\n").arg(port)), qPrintable(err));
        // The addresses come before anything else the start logs.
        QVERIFY(!err.left(page.match(err).capturedStart()).contains(QStringLiteral("Файл фона")));
        QCOMPARE(httpclient::get(port, "/").status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(httpclient::get(port, "/metrics").body.contains("kalvex_temperature_celsius{"), 20000);
        QElapsedTimer stopping;
        stopping.start();
        stop(program, SIGTERM, 5000);
        QVERIFY(stopping.elapsed() < 5000);
        QCOMPARE(iniValues(dataPath(QStringLiteral("Kalvex.ini"))).value("General/HTTPPort"), QByteArray::number(port));
    }

    // A display that answers the program's first connection and is gone for the next (Qt's
    // own): the program runs as with --headless instead of aborting.
    void displayGoneBeforeQtConnects()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs Xvfb and xdotool");
        skipUnlessUsersLocale();
        VirtualScreen x;
        QVERIFY(x.start(QSize(1280, 1024), true));
        const quint16 serverPort = static_cast<quint16>(6000 + x.display.mid(1).toInt());
        // The display the program is given: the first connection goes through to the server,
        // every later one is closed at once.
        QTcpServer front;
        int display = 50;
        while (display < 100 && !front.listen(QHostAddress::LocalHost, static_cast<quint16>(6000 + display)))
            ++display;
        QVERIFY(front.isListening());
        int connections = 0;
        QObject::connect(&front, &QTcpServer::newConnection, &front, [&] {
            while (QTcpSocket *client = front.nextPendingConnection()) {
                client->setParent(&front);
                if (connections++ > 0) {
                    client->close();
                    continue;
                }
                auto *server = new QTcpSocket(&front);
                server->connectToHost(QHostAddress::LocalHost, serverPort);
                QObject::connect(client, &QTcpSocket::readyRead, server, [client, server] { server->write(client->readAll()); });
                QObject::connect(server, &QTcpSocket::readyRead, client, [client, server] { client->write(server->readAll()); });
                QObject::connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
            }
        });
        QProcessEnvironment env = environment();
        for (const char *name : {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral("127.0.0.1:%1").arg(display));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--demo"), QStringLiteral("--dir"), dataPath(QString())});
        QVERIFY(program.waitForStarted());
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(program.readAllStandardError()),
                                  err.contains(QStringLiteral("Страница датчиков: http://localhost:"))
                                      || program.state() != QProcess::Running),
                                 20000);
        QVERIFY2(program.state() == QProcess::Running, qPrintable(err));
        QVERIFY(connections >= 2);
        QVERIFY2(err.contains(QStringLiteral("окна не будет, программа работает как с --headless")), qPrintable(err));
        stop(program, SIGTERM, 5000);
    }

    // The designed 1219 x 906 at 664, 115 on screens it does not fit.
    void windowInsideSmallScreen_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::newRow("1280 x 1024") << QSize(1280, 1024);
        QTest::newRow("1366 x 768") << QSize(1366, 768);
    }
    void windowInsideSmallScreen()
    {
        QFETCH(QSize, screen);
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs Xvfb and xdotool");
        skipUnlessUsersLocale();
        VirtualScreen x;
        QVERIFY(x.start(screen));
        QProcessEnvironment env = environment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), x.display);
        QProcess program;
        program.setProcessEnvironment(env);
        QString error;
        QVERIFY2(startWithWindow(program, x, {QStringLiteral("--dir"), dataPath(QString())}, error), qPrintable(error));
        const QRect window = x.mainWindow();
        QVERIFY2(QRect(QPoint(0, 0), screen).contains(window),
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(window.x()).arg(window.y()).arg(window.width()).arg(window.height())));
        stop(program, SIGTERM, 5000);
    }

    // The first start on a full disk, with a window: the window comes up and polls with nobody
    // to click a box, and the readings are stored once there is room again. Room enough means
    // the store with its sums tables, its write-ahead log and that log's 32 KiB index.
    void diskFullAtStartWithWindow_data()
    {
        QTest::addColumn<int>("freeKiB");
        QTest::newRow("no room for the store") << 0;
        QTest::newRow("room for the store, not its log") << 32;
    }
    void diskFullAtStartWithWindow()
    {
        QFETCH(int, freeKiB);
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs root (a small tmpfs), Xvfb and xdotool");
        skipUnlessUsersLocale();
        const QString full = m_dir->filePath(QStringLiteral("full"));
        QVERIFY(QDir().mkpath(full));
        QVERIFY(QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                           QStringLiteral("size=256k"), QStringLiteral("tmpfs"), full}) == 0);
        const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), full}); });
        {
            QFile fill(full + QStringLiteral("/fill"));
            QVERIFY(fill.open(QIODevice::WriteOnly));
            const QByteArray block(1024, 'x');
            for (int k = 0; k < 256 - freeKiB && fill.write(block) == block.size(); ++k) {
            }
            fill.flush();
        }
        VirtualScreen x;
        QVERIFY(x.start(QSize(1920, 1080)));
        QProcessEnvironment env = environment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), x.display);
        QProcess program;
        program.setProcessEnvironment(env);
        QString error;
        QVERIFY2(startWithWindow(program, x, {QStringLiteral("--demo"), QStringLiteral("--dir"), full}, error),
                 qPrintable(error));
        QVERIFY(QFile::remove(full + QStringLiteral("/fill")));
        QTRY_VERIFY_WITH_TIMEOUT(!storedReadings(full + QStringLiteral("/Kalvex.st"), "28ECEDC7050000F6").isEmpty(), 40000);
        stop(program, SIGTERM, 5000);
    }

    void unusableFolderIsAnError()
    {
        QFile blocker(m_dir->filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QProcess program;
        program.setProcessEnvironment(environment());
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--dir"), m_dir->filePath(QStringLiteral("file/sub"))});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(QString::fromUtf8(program.readAllStandardError()).contains(m_dir->filePath(QStringLiteral("file/sub"))));
    }

    // Qt's own texts (here the option help) are in the user's language, in C as Qt has them,
    // and the program's own beside them in the same language, with the program's version.
    void qtTextsFollowTheLocale_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("own");
        QTest::newRow("ru_RU") << "ru_RU.UTF-8" << "Параметры:" << "Папка файлов Kalvex.ini";
        QTest::newRow("C") << "C.UTF-8" << "Options:" << "Folder of Kalvex.ini";
    }
    void qtTextsFollowTheLocale()
    {
        QFETCH(QString, lang);
        QFETCH(QString, options);
        QFETCH(QString, own);
        QProcess program;
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("LANG"), lang);
        env.insert(QStringLiteral("LC_ALL"), lang);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--help")});
        QVERIFY(program.waitForFinished(20000));
        const QString help = QString::fromUtf8(program.readAllStandardOutput());
        QVERIFY2(help.contains(QLatin1Char('\n') + options + QLatin1Char('\n')), qPrintable(help));
        QVERIFY2(help.contains(own), qPrintable(help));
        QVERIFY2(help.contains(QStringLiteral("\nKalvex " KALVEX_VERSION " ")), qPrintable(help));
    }

    // A small box without a screen, started by a service manager: no display in the
    // environment, observation on although AutoNab is off, readings stored, the page and the
    // metrics served, the manager told ready and kept alive, and SIGTERM saves the settings.
    void headlessService()
    {
        ServedBus bus;
        QVERIFY(QDir().mkpath(dataPath(QString())));
        QVERIFY(bus.serveAs(dataPath(QStringLiteral("COM1"))));

        const int port = httpclient::freePort();
        // No P3Width: the key appears only if the shutdown saved.
        const QByteArray ini = "[General]\nCOMPort=1\nTimeOut=1000\nAutoNab=0\nHTTPActive=1\nHTTPPort="
            + QByteArray::number(port)
            + "\n[Items]\nItemName0=Кухня\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\nItemCorrect0=0,5\n"
              "ItemName1=Подвал\nItemSN1=2825EA52050000CE\nItemEnable1=1\n"
              "ItemName2=Гараж\nItemSN2=10AA000000000001\nItemEnable2=0\nItemCount=3\n";
        QFile file(dataPath(QStringLiteral("Kalvex.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xEF\xBB\xBF" + ini);
        file.close();

        // The service manager's end of the notification socket.
        const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        QVERIFY(manager >= 0);
        const auto closeManager = qScopeGuard([manager] { ::close(manager); });
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(m_dir->filePath(QStringLiteral("notify")));
        QVERIFY(static_cast<std::size_t>(socketPath.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, socketPath.constData(), static_cast<std::size_t>(socketPath.size()));
        QCOMPARE(::bind(manager, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        QStringList messages;
        const auto receive = [&] {
            char buffer[512];
            ssize_t n = 0;
            while ((n = ::recv(manager, buffer, sizeof buffer, 0)) > 0)
                messages << QString::fromUtf8(buffer, static_cast<qsizetype>(n));
        };

        QProcessEnvironment env = environment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(socketPath));
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("2000000"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KALVEX_PROGRAM),
                      {QStringLiteral("--headless"), QStringLiteral("--dir"), dataPath(QString())});
        QVERIFY(program.waitForStarted());

        QTRY_VERIFY_WITH_TIMEOUT((receive(), messages.filter(QStringLiteral("READY=1")).size() == 1), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").isEmpty(),
                                 20000);
        // The missing sensor has had its three attempts once the next cycle has begun.
        QTRY_VERIFY_WITH_TIMEOUT(storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").size() >= 2,
                                 20000);
        QCOMPARE(httpclient::get(port, "/").status, 200);

        const httpclient::Reply reply = httpclient::get(port, "/metrics");
        QCOMPARE(reply.status, 200);
        QString error;
        const QJsonArray families = exposition::parse(reply.body, &error);
        QVERIFY2(!families.isEmpty(), qPrintable(error));
        QMap<QString, double> samples;
        for (const QJsonValue &family : families) {
            for (const QJsonValue &sample : family.toObject()[QStringLiteral("samples")].toArray()) {
                const QJsonArray s = sample.toArray();
                samples.insert(s[0].toString() + QLatin1Char(' ') + s[1].toObject()[QStringLiteral("name")].toString(),
                               s[2].toDouble());
            }
        }
        QCOMPARE(samples.value(QStringLiteral("kalvex_temperature_celsius Кухня")), 22.0);
        QVERIFY(samples.value(QStringLiteral("kalvex_reading_age_seconds Кухня"), -1) >= 0);
        QCOMPARE(samples.value(QStringLiteral("kalvex_reading_failures_total Кухня"), -1), 0.0);
        QVERIFY(!samples.contains(QStringLiteral("kalvex_temperature_celsius Подвал")));
        QVERIFY(samples.value(QStringLiteral("kalvex_reading_failures_total Подвал")) >= 1);
        QVERIFY(!samples.contains(QStringLiteral("kalvex_reading_failures_total Гараж")));
        QVERIFY(samples.value(QStringLiteral("kalvex_cycle_duration_seconds "), -1) > 0);

        // Two seconds of watchdog time: a keep-alive at least every half second.
        QTest::qWait(1200);
        receive();
        QVERIFY2(messages.filter(QStringLiteral("WATCHDOG=1")).size() >= 2, qPrintable(messages.join(QLatin1Char('|'))));

        stop(program, SIGTERM, 2000);
        receive();
        QCOMPARE(messages.last(), QStringLiteral("STOPPING=1"));
        QVERIFY(iniValues(file.fileName()).contains("General/P3Width"));
        QCOMPARE(iniValues(file.fileName()).value("General/AutoNab"), QByteArray("0"));
        // The log on standard error, each line with its time stamp.
        const QString log = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(log.contains(QRegularExpression(QStringLiteral(
                     "(^|\\n)\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d : Отслеживание датчиков включено\\.\\n"))),
                 qPrintable(log));
        // The journal of a service is read without the window: the sensor by name and serial.
        QVERIFY(log.contains(QStringLiteral(" : Датчик не отвечает: 1 : -999 (Подвал, 2825EA52050000CE)\n")));
    }

    // Standard error as systemd gives it to a service (JOURNAL_STREAM names it): each line
    // with its priority, failures as errors, and no time stamp of its own.
    void journalPriorities()
    {
        ServedBus bus;
        QVERIFY(QDir().mkpath(dataPath(QString())));
        QVERIFY(bus.serveAs(dataPath(QStringLiteral("COM1"))));
        writeFile(dataPath(QStringLiteral("Kalvex.ini")),
                  "[General]\nCOMPort=1\nTimeOut=1000\n[Items]\nItemName0=Кухня\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\n"
                  "ItemName1=Подвал\nItemSN1=2825EA52050000CE\nItemEnable1=1\nItemCount=2\n");
        const QString journal = m_dir->filePath(QStringLiteral("journal"));
        writeFile(journal, QByteArray());
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(journal).constData(), &st), 0);
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
        QProcess program;
        program.setProcessEnvironment(env);
        program.setStandardErrorFile(journal, QIODevice::Append);
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--headless"), QStringLiteral("--dir"), dataPath(QString())});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readFile(journal).contains("Датчик не отвечает"), 20000);
        stop(program, SIGTERM, 2000);
        const QStringList lines = QString::fromUtf8(readFile(journal)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.contains(QStringLiteral("<6>Отслеживание датчиков включено.")), qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY2(lines.contains(QStringLiteral("<3>Датчик не отвечает: 1 : -999 (Подвал, 2825EA52050000CE)")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        for (const QString &line : lines) {
            // Qt's own warnings (a missing tray, say) are not the program's lines.
            if (line.startsWith(QLatin1String("QStandardPaths")) || line.startsWith(QLatin1String("kalvex: ")))
                continue;
            QVERIFY2(QRegularExpression(QStringLiteral("^<[346]>\\S")).match(line).hasMatch(), qPrintable(line));
            QVERIFY2(!QRegularExpression(QStringLiteral("\\d\\d:\\d\\d:\\d\\d : ")).match(line).hasMatch(), qPrintable(line));
        }
    }

    // A service on an empty configuration finds the sensors on the bus, polls them and keeps
    // them in its configuration.
    void headlessFindsSensorsOfEmptyConfiguration()
    {
        ServedBus bus;
        QVERIFY(QDir().mkpath(dataPath(QString())));
        QVERIFY(bus.serveAs(dataPath(QStringLiteral("COM1"))));
        QProcessEnvironment env = environment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KALVEX_PROGRAM),
                      {QStringLiteral("--headless"), QStringLiteral("--dir"), dataPath(QString())});
        QTRY_VERIFY_WITH_TIMEOUT(!storedReadings(dataPath(QStringLiteral("Kalvex.st")), "28ECEDC7050000F6").isEmpty(),
                                 20000);
        stop(program, SIGTERM, 2000);
        const QMap<QByteArray, QByteArray> ini = iniValues(dataPath(QStringLiteral("Kalvex.ini")));
        QCOMPARE(ini.value("Items/ItemSN0"), QByteArray("28ECEDC7050000F6"));
        QCOMPARE(ini.value("Items/ItemEnable0"), QByteArray("1"));
        QVERIFY(QString::fromUtf8(program.readAllStandardError()).contains(QStringLiteral("Найдено датчиков: 1, из них новых: 1")));
    }

    void screenshot()
    {
        const QString picture = m_dir->filePath(QStringLiteral("window.png"));
        QProcess program;
        program.setProcessEnvironment(environment());
        program.start(QStringLiteral(KALVEX_PROGRAM),
                      {QStringLiteral("--dir"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("--screenshot"), picture});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        QImage image(picture);
        QCOMPARE(image.size(), QSize(1219, 906));
    }

    // The window as a user sees it on the virtual bus after the first cycle: a few pixels
    // that a broken layout would lose.
    void demoScreenshot()
    {
        const QString picture = m_dir->filePath(QStringLiteral("demo.png"));
        QProcess program;
        program.setProcessEnvironment(environment());
        program.start(QStringLiteral(KALVEX_PROGRAM),
                      {QStringLiteral("--demo"), QStringLiteral("--dir"), m_dir->filePath(QStringLiteral("demo")),
                       QStringLiteral("--screenshot"), picture, QStringLiteral("--screenshot-delay"),
                       QStringLiteral("4000")});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        const QImage image = QImage(picture).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(1219, 906));
        const auto count = [&image](const QRect &area, const std::function<bool(QColor)> &wanted) {
            int n = 0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x)
                    n += wanted(image.pixelColor(x, y)) ? 1 : 0;
            }
            return n;
        };
        const auto red = [](QColor c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; };
        const auto yellow = [](QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() < 90; };
        const auto black = [](QColor c) { return c.red() < 10 && c.green() < 10 && c.blue() < 10; };
        // The sensor panel right of the 400-pixel column: the demo's floor plan under its
        // sensors (the garden right of the house green), black beyond the picture.
        const QPoint panel(404, 1);
        QCOMPARE(count(QRect(1000, 500, 200, 300), black), 200 * 300);
        const auto green = [](QColor c) { return c.green() > 150 && c.green() > c.red() + 20 && c.green() > c.blue() + 20; };
        QVERIFY(count(QRect(panel + QPoint(340, 250), QSize(60, 40)), green) > 2000);
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("demo/bk.jpg"))));
        QCOMPARE(count(QRect(panel.x() - 4, 500, 2, 300), black), 0);
        // The demo's living room at 120, 90: its red thermometer, its reading in yellow on
        // the left of it; the outside at 300, 60 likewise.
        for (const QPoint &at : {QPoint(120, 90), QPoint(300, 60)}) {
            const QPoint p = panel + at;
            QVERIFY2(count(QRect(p.x(), p.y(), 18, 50), red) > 40, qPrintable(QStringLiteral("thermometer at %1").arg(at.x())));
            QVERIFY2(count(QRect(p.x() - 45, p.y(), 45, 50), yellow) > 15, qPrintable(QStringLiteral("reading at %1").arg(at.x())));
        }
        // Tool bar: BScan shows the red stop glyph (observation on), BExit its red arrow,
        // BHistory its chart; nothing else of the tool bar is red.
        QVERIFY(count(QRect(5, 3, 34, 34), red) > 100);
        QVERIFY(count(QRect(313, 3, 34, 34), red) > 20);
        QVERIFY(count(QRect(92, 3, 34, 34), red) > 5);
        QCOMPARE(count(QRect(350, 0, 50, 40), red), 0);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
