#include "monitor/AlarmActions.h"

#include "support/FakeAppLauncher.h"
#include "support/FakeSoundPlayer.h"
#include "support/RecordingLog.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A log that writes into the same journal as the fakes, so the order of lines and actions
// is visible.
class JournalLog final : public Log
{
public:
    explicit JournalLog(QStringList &journal) : m_journal(journal) {}
    void AddLog(const QString &message) override { m_journal << QStringLiteral("log ") + message; }
    void addRawLine(const QString &line) override { m_journal << QStringLiteral("raw ") + line; }

private:
    QStringList &m_journal;
};

TSignArr control(bool bm, double value)
{
    TSignArr c;
    c.Enable = true;
    c.bm = bm;
    c.Value = value;
    return c;
}

} // namespace

class TestAlarmActions : public QObject
{
    Q_OBJECT

private slots:
    void thresholds_data();
    void thresholds();
    void builtInSound_data();
    void builtInSound();
    void missingTrackStillStartsApplication();
    void existingTrackIsPlayed();
    void failedPlaybackIsLogged_data();
    void failedPlaybackIsLogged();
    void twoControlsFireInOrder();
    void disabledControlNeverFires();
    void emptyApplicationPathIsFailedStart();
};

void TestAlarmActions::thresholds_data()
{
    QTest::addColumn<bool>("bm");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("reading");
    QTest::addColumn<bool>("fires");

    QTest::newRow("above 30, 29.9") << true << 30.0 << 29.9 << false;
    QTest::newRow("above 30, 30.0") << true << 30.0 << 30.0 << true;
    QTest::newRow("above 30, 31") << true << 30.0 << 31.0 << true;
    QTest::newRow("below 5, 5.0") << false << 5.0 << 5.0 << true;
    QTest::newRow("below 5, 5.1") << false << 5.0 << 5.1 << false;
    QTest::newRow("below 5, -40") << false << 5.0 << -40.0 << true;
    QTest::newRow("below -10.5, -10.5") << false << -10.5 << -10.5 << true;
}

void TestAlarmActions::thresholds()
{
    QFETCH(bool, bm);
    QFETCH(double, value);
    QFETCH(double, reading);
    QFETCH(bool, fires);

    RecordingLog log;
    FakeSoundPlayer sound;
    FakeAppLauncher launcher;
    AlarmActions actions(log, sound, launcher);
    TDSItem item;
    item.Sign[0] = control(bm, value);
    item.Sign[0].mp3Enable = true;

    // No memory: the same reading fires again on the next cycle.
    actions.Signal(item, QStringLiteral("Кухня"), reading);
    actions.Signal(item, QStringLiteral("Кухня"), reading);

    const QStringList expected = fires ? QStringList{QStringLiteral("Контроль датчика Кухня"),
                                                     QStringLiteral("Контроль датчика Кухня")}
                                       : QStringList{};
    QCOMPARE(log.messages, expected);
    QCOMPARE(sound.played.size(), fires ? 2 : 0);
}

void TestAlarmActions::builtInSound_data()
{
    QTest::addColumn<QString>("sound");
    QTest::newRow("WARN") << QStringLiteral("WARN");
    QTest::newRow("Warn") << QStringLiteral("Warn");
    QTest::newRow("warn") << QStringLiteral("warn");
}

void TestAlarmActions::builtInSound()
{
    QFETCH(QString, sound);
    RecordingLog log;
    FakeSoundPlayer player;
    FakeAppLauncher launcher;
    AlarmActions actions(log, player, launcher);

    actions.PlayMP3(sound);

    QCOMPARE(player.played, QStringList{QStringLiteral("WARN")});
    QVERIFY(log.messages.isEmpty());
}

void TestAlarmActions::missingTrackStillStartsApplication()
{
    QStringList journal;
    JournalLog log(journal);
    FakeSoundPlayer player;
    FakeAppLauncher launcher;
    player.journal = &journal;
    launcher.journal = &journal;
    AlarmActions actions(log, player, launcher);

    QTemporaryDir dir;
    const QString track = dir.filePath(QStringLiteral("нет.wav"));
    TSign sign{};
    sign[2] = control(true, 20);
    sign[2].mp3Enable = true;
    sign[2].mp3path = track;
    sign[2].AppEnable = true;
    sign[2].AppPath = QStringLiteral("/usr/bin/notify");

    actions.Signal(sign, QStringLiteral("Зал"), 21);

    QCOMPARE(journal, (QStringList{QStringLiteral("log Контроль датчика Зал"),
                                   QStringLiteral("log Файл трека не найден: ") + track,
                                   QStringLiteral("start /usr/bin/notify")}));
}

void TestAlarmActions::existingTrackIsPlayed()
{
    QTemporaryDir dir;
    const QString track = dir.filePath(QStringLiteral("alarm.wav"));
    QFile file(track);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("RIFF");
    file.close();

    RecordingLog log;
    FakeSoundPlayer player;
    FakeAppLauncher launcher;
    AlarmActions actions(log, player, launcher);
    actions.PlayMP3(track);
    // A folder is not a track file.
    actions.PlayMP3(dir.path());

    QCOMPARE(player.played, QStringList{track});
    QCOMPARE(log.messages, QStringList{QStringLiteral("Файл трека не найден: ") + dir.path()});
}

void TestAlarmActions::failedPlaybackIsLogged_data()
{
    QTest::addColumn<bool>("builtIn");
    QTest::newRow("built-in") << true;
    QTest::newRow("file") << false;
}

void TestAlarmActions::failedPlaybackIsLogged()
{
    QFETCH(bool, builtIn);
    QTemporaryDir dir;
    QString sound = QStringLiteral("Warn");
    if (!builtIn) {
        sound = dir.filePath(QStringLiteral("a.wav"));
        QFile file(sound);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    RecordingLog log;
    FakeSoundPlayer player;
    player.result = false;
    FakeAppLauncher launcher;
    AlarmActions actions(log, player, launcher);

    actions.PlayMP3(sound);

    QCOMPARE(log.messages, QStringList{QStringLiteral("Ошибка воспроизведения ") + sound});
}

void TestAlarmActions::twoControlsFireInOrder()
{
    QStringList journal;
    JournalLog log(journal);
    FakeSoundPlayer player;
    FakeAppLauncher launcher;
    player.journal = &journal;
    launcher.journal = &journal;
    AlarmActions actions(log, player, launcher);

    TSign sign{};
    sign[0] = control(true, 25);           // fires
    sign[0].mp3Enable = true;
    sign[0].AppEnable = true;
    sign[0].AppPath = QStringLiteral("/opt/first");
    sign[1] = control(false, 20);          // does not fire at 26
    sign[1].mp3Enable = true;
    sign[3] = control(true, 26);           // fires
    sign[3].mp3Enable = true;
    sign[3].mp3path = QStringLiteral("WARN");
    sign[3].AppEnable = true;
    sign[3].AppPath = QStringLiteral("/opt/fourth");

    actions.Signal(sign, QStringLiteral("Подвал"), 26);

    QCOMPARE(journal, (QStringList{QStringLiteral("log Контроль датчика Подвал"),
                                   QStringLiteral("sound WARN"),
                                   QStringLiteral("start /opt/first"),
                                   QStringLiteral("log Контроль датчика Подвал"),
                                   QStringLiteral("sound WARN"),
                                   QStringLiteral("start /opt/fourth")}));
}

void TestAlarmActions::disabledControlNeverFires()
{
    RecordingLog log;
    FakeSoundPlayer player;
    FakeAppLauncher launcher;
    AlarmActions actions(log, player, launcher);
    TSign sign{};
    for (TSignArr &c : sign) {
        c = control(true, -1000);
        c.Enable = false;
        c.mp3Enable = true;
        c.AppEnable = true;
        c.AppPath = QStringLiteral("/bin/true");
    }
    sign[1].bm = false;
    sign[1].Value = 1000;

    for (double t : {-55.0, 0.0, 125.0})
        actions.Signal(sign, QStringLiteral("Улица"), t);

    QVERIFY(log.messages.isEmpty());
    QVERIFY(player.played.isEmpty());
    QVERIFY(launcher.started.isEmpty());
}

void TestAlarmActions::emptyApplicationPathIsFailedStart()
{
    RecordingLog log;
    FakeSoundPlayer player;
    FakeAppLauncher launcher;
    AlarmActions actions(log, player, launcher);
    TSign sign{};
    sign[0] = control(true, 0);
    sign[0].AppEnable = true;

    actions.Signal(sign, QStringLiteral("Чердак"), 1);

    QCOMPARE(launcher.started, QStringList{QString()});
    QCOMPARE(log.messages, (QStringList{QStringLiteral("Контроль датчика Чердак"),
                                        QStringLiteral("Ошибка запуска приложения ")}));
}

QTEST_GUILESS_MAIN(TestAlarmActions)
#include "tst_alarmactions.moc"
