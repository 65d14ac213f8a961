#include "monitor/AlarmActions.h"
#include "monitor/DesktopAppLauncher.h"
#include "monitor/MonitorResources.h"
#include "monitor/QtSoundPlayer.h"

#include "support/FakeAppLauncher.h"
#include "support/RecordingLog.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QFile>
#include <QMediaDevices>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray warnWave()
{
    initMonitorResources();
    QFile file(QString::fromLatin1(WarnSoundResource));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A minimal wave file: the given format tag and bit depth, one channel, a few samples.
QByteArray wave(quint16 tag, quint16 bits)
{
    QByteArray fmt(16, '\0');
    qToLittleEndian<quint16>(tag, fmt.data());
    qToLittleEndian<quint16>(1, fmt.data() + 2);
    qToLittleEndian<quint32>(8000, fmt.data() + 4);
    qToLittleEndian<quint32>(8000u * bits / 8, fmt.data() + 8);
    qToLittleEndian<quint16>(bits / 8, fmt.data() + 12);
    qToLittleEndian<quint16>(bits, fmt.data() + 14);
    const QByteArray samples(16, '\0');
    QByteArray size(4, '\0');
    QByteArray out = "RIFF" + QByteArray(4, '\0') + "WAVE";
    out += "LIST" + QByteArray::fromHex("03000000") + "abc" + QByteArray(1, '\0');  // odd chunk, padded
    qToLittleEndian<quint32>(16, size.data());
    out += "fmt " + size + fmt;
    qToLittleEndian<quint32>(static_cast<quint32>(samples.size()), size.data());
    out += "data" + size + samples;
    qToLittleEndian<quint32>(static_cast<quint32>(out.size() - 8), out.data() + 4);
    return out;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

} // namespace

class TestSoundLauncher : public QObject
{
    Q_OBJECT

private slots:
    void builtInSoundFormat();
    void waveHeader_data();
    void waveHeader();
    void realPlaybackNeverHangs();
    void newSoundStopsThePlayingOne_data();
    void newSoundStopsThePlayingOne();
    void launcherCommand_data();
    void launcherCommand();
    void launcherStartsDetached();
    void openerFailureReportedLate_data();
    void openerFailureReportedLate();
};

void TestSoundLauncher::builtInSoundFormat()
{
    const QByteArray data = warnWave();
    QVERIFY(data.size() > 44);
    QCOMPARE(data.left(4), QByteArray("RIFF"));
    QCOMPARE(data.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(qFromLittleEndian<quint16>(data.constData() + 20), quint16{1});      // PCM
    QCOMPARE(qFromLittleEndian<quint16>(data.constData() + 22), quint16{1});      // mono
    QCOMPARE(qFromLittleEndian<quint32>(data.constData() + 24), quint32{22050});
    QCOMPARE(qFromLittleEndian<quint16>(data.constData() + 34), quint16{16});
    QCOMPARE(data.mid(36, 4), QByteArray("data"));
    const quint32 bytes = qFromLittleEndian<quint32>(data.constData() + 40);
    QVERIFY(bytes >= 22050 * 2 * 8 / 10 && bytes <= 22050 * 2 * 12 / 10);  // about a second
}

void TestSoundLauncher::waveHeader_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("built-in") << warnWave() << true;
    QTest::newRow("pcm 8 bit after a padded chunk") << wave(1, 8) << true;
    QTest::newRow("float 32 bit") << wave(3, 32) << true;
    QTest::newRow("adpcm") << wave(2, 4) << false;
    QTest::newRow("pcm 12 bit") << wave(1, 12) << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("mp3") << QByteArray("ID3\x03\x00\x00\x00\x00\x00\x00 some frames") << false;
    QTest::newRow("header only") << warnWave().left(36) << false;
    QTest::newRow("data before fmt") << (QByteArray("RIFF\x10\0\0\0WAVEdata\x04\0\0\0", 20) + "abcd") << false;
    QTest::newRow("huge chunk size") << (QByteArray("RIFF\x10\0\0\0WAVEjunk\xff\xff\xff\x7f", 20)) << false;
}

void TestSoundLauncher::waveHeader()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("sound.wav"), data);
    QVERIFY(!path.isEmpty());
    QCOMPARE(QtSoundPlayer::looksLikeWave(path), accepted);
}

// The machines that run the tests have no sound server; a desktop may have one. Either way
// the calls return and the event loop keeps running; the function timeout catches a hang.
void TestSoundLauncher::realPlaybackNeverHangs()
{
    QTemporaryDir dir;
    const QString file = writeFile(dir, QStringLiteral("сигнал.wav"), warnWave());
    QVERIFY(!file.isEmpty());

    RecordingLog log;
    FakeAppLauncher launcher;
    QtSoundPlayer player;
    AlarmActions actions(log, player, launcher);
    player.setLateFailureHandler([&actions](const QString &sound) { actions.playbackFailed(sound); });

    const bool noOutput = QMediaDevices::audioOutputs().isEmpty();
    actions.PlayMP3(QStringLiteral("Warn"));
    actions.PlayMP3(file);   // while the built-in sound may still play
    QTest::qWait(300);
    actions.PlayMP3(QStringLiteral("warn"));
    QTest::qWait(300);

    if (noOutput) {
        QCOMPARE(log.messages, (QStringList{QStringLiteral("Ошибка воспроизведения Warn"),
                                            QStringLiteral("Ошибка воспроизведения ") + file,
                                            QStringLiteral("Ошибка воспроизведения warn")}));
    } else {
        for (const QString &line : std::as_const(log.messages))
            QVERIFY2(line.startsWith(QStringLiteral("Ошибка воспроизведения ")), qPrintable(line));
    }
}

// Whatever the new sound turns out to be, the one playing stops: a good wave file plays in its
// place, one that fails its checks (not a wave file, no audio output by then) leaves silence,
// and each failure is logged. The desktop's outputs are the test's to say; the sounds are
// Qt's own, which play (or load to play) on a machine without a sound server too.
void TestSoundLauncher::newSoundStopsThePlayingOne_data()
{
    QTest::addColumn<QString>("first");  // "warn" or the name of a file in the test's folder
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("outputLeft"); // the output is still there for the second sound
    QTest::addColumn<QString>("playing"); // after the second
    QTest::addColumn<QString>("logged");

    QTest::newRow("wave file after the built-in") << "warn" << "bell.wav" << true << "bell.wav" << "";
    QTest::newRow("built-in after a wave file") << "bell.wav" << "warn" << true << "warn" << "";
    QTest::newRow("not a wave file") << "warn" << "song.mp3" << true << "" << "Ошибка воспроизведения song.mp3";
    QTest::newRow("output gone: built-in") << "bell.wav" << "warn" << false << "" << "Ошибка воспроизведения warn";
    QTest::newRow("output gone: wave file") << "warn" << "bell.wav" << false << ""
                                            << "Ошибка воспроизведения bell.wav";
}

void TestSoundLauncher::newSoundStopsThePlayingOne()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, outputLeft);
    QFETCH(QString, playing);
    QFETCH(QString, logged);
    QTemporaryDir dir;
    QVERIFY(!writeFile(dir, QStringLiteral("bell.wav"), warnWave()).isEmpty());
    QVERIFY(!writeFile(dir, QStringLiteral("song.mp3"), QByteArray("ID3\x03\x00\x00\x00\x00\x00\x00 frames")).isEmpty());
    const auto sound = [&dir](const QString &name) { return name == QLatin1String("warn") ? name : dir.filePath(name); };

    RecordingLog log;
    FakeAppLauncher launcher;
    bool output = true;
    QtSoundPlayer player([&output] { return output; });
    AlarmActions actions(log, player, launcher);
    actions.PlayMP3(sound(first));
    QCOMPARE(player.playingSound(), sound(first));
    output = outputLeft;
    actions.PlayMP3(sound(second));
    QCOMPARE(player.playingSound(), playing.isEmpty() ? QString() : sound(playing));
    QCOMPARE(log.messages, logged.isEmpty() ? QStringList{}
                                            : QStringList{logged.replace(second, sound(second))});
}

void TestSoundLauncher::launcherCommand_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("program");     // "<path>": the absolute path itself
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("empty") << QString() << QString() << QStringList{};
    QTest::newRow("blank") << QStringLiteral("  ") << QString() << QStringList{};
    QTest::newRow("executable") << QStringLiteral("run.sh") << QStringLiteral("<path>") << QStringList{};
    QTest::newRow("document") << QStringLiteral("отчёт.txt") << QStringLiteral("opener")
                              << QStringList{QStringLiteral("<path>")};
    QTest::newRow("folder") << QStringLiteral("папка") << QStringLiteral("opener")
                            << QStringList{QStringLiteral("<path>")};
    QTest::newRow("missing file") << QStringLiteral("нет/такого") << QString() << QStringList{};
    QTest::newRow("url") << QStringLiteral("https://example.org/t?x=1") << QStringLiteral("opener")
                         << QStringList{QStringLiteral("https://example.org/t?x=1")};
    QTest::newRow("program on the path") << QStringLiteral("true") << QStringLiteral("true")
                                         << QStringList{};
    QTest::newRow("unknown program") << QStringLiteral("no-such-program-kalvex") << QString()
                                     << QStringList{};
    QTest::newRow("option-like name") << QStringLiteral("--help") << QString() << QStringList{};
}

void TestSoundLauncher::launcherCommand()
{
    QFETCH(QString, path);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);

    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("run.sh")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile doc(dir.filePath(QStringLiteral("отчёт.txt")));
    QVERIFY(doc.open(QIODevice::WriteOnly));
    doc.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("папка")));

    // Relative paths are taken from the working directory, as the desktop does.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const DesktopAppLauncher launcher(QStringLiteral("opener"));
    const DesktopAppLauncher::Command command = launcher.commandFor(path);
    QDir::setCurrent(previous);

    const QString absolute = dir.filePath(path);
    if (program == QLatin1String("<path>"))
        program = absolute;
    if (program == QLatin1String("true"))
        QCOMPARE(QFileInfo(command.program).fileName(), program);
    else
        QCOMPARE(command.program, program);
    for (QString &argument : arguments) {
        if (argument == QLatin1String("<path>"))
            argument = absolute;
    }
    QCOMPARE(command.arguments, arguments);
}

void TestSoundLauncher::launcherStartsDetached()
{
    DesktopAppLauncher launcher;
    QVERIFY(launcher.start(QStringLiteral("/bin/true")));
    QVERIFY(!launcher.start(QString()));
    QVERIFY(!launcher.start(QStringLiteral("/nonexistent/kalvex/alarm")));
}

void TestSoundLauncher::openerFailureReportedLate_data()
{
    QTest::addColumn<QString>("opener");
    QTest::addColumn<bool>("fails");
    QTest::newRow("opens") << QStringLiteral("true") << false;
    QTest::newRow("cannot open") << QStringLiteral("false") << true;
}

void TestSoundLauncher::openerFailureReportedLate()
{
    QFETCH(QString, opener);
    QFETCH(bool, fails);
    QTemporaryDir dir;
    QFile doc(dir.filePath(QStringLiteral("план.pdf")));
    QVERIFY(doc.open(QIODevice::WriteOnly));
    doc.close();
    DesktopAppLauncher launcher(QStandardPaths::findExecutable(opener));
    QStringList failed;
    launcher.setLateFailureHandler([&failed](const QString &path) { failed << path; });
    QVERIFY(launcher.start(doc.fileName()));
    QTest::qWait(300);
    QTRY_COMPARE(failed, fails ? QStringList{doc.fileName()} : QStringList());
}

int main(int argc, char *argv[])
{
    // A sound backend that waits for a device must fail the test, not stall the suite.
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "60000");
    QCoreApplication app(argc, argv);
    TestSoundLauncher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soundlauncher.moc"
