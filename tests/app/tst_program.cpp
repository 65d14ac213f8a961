#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

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
        return env;
    }

    QString entryPath() const { return m_dir->filePath(QStringLiteral("config/autostart/Kalvex.desktop")); }

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

private slots:
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
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
