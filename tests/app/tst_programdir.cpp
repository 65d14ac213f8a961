#include "app/ui/ProgramDirectory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestProgramDir : public QObject
{
    Q_OBJECT

private slots:
    void resolve_data()
    {
        // Paths below are relative to a fresh temporary folder T; "<none>" leaves a variable unset.
        QTest::addColumn<QString>("dirOption");
        QTest::addColumn<bool>("programDirWritable");
        QTest::addColumn<QString>("dataHome");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("logged");
        QTest::newRow("own folder") << QString() << true << "T/data" << "T/bin/" << false;
        QTest::newRow("--dir") << "T/house" << true << "T/data" << "T/house/" << false;
        QTest::newRow("--dir with slash") << "T/house/" << false << "T/data" << "T/house/" << false;
        QTest::newRow("--dir created") << "T/new/deeper" << true << "T/data" << "T/new/deeper/" << false;
        QTest::newRow("--dir beats read-only") << "T/house" << false << "T/data" << "T/house/" << false;
        QTest::newRow("read-only: data home") << QString() << false << "T/data" << "T/data/kalvex/" << true;
        QTest::newRow("read-only: no data home") << QString() << false << "<none>" << "T/home/.local/share/kalvex/" << true;
        QTest::newRow("read-only: relative data home") << QString() << false << "data" << "T/home/.local/share/kalvex/" << true;
    }
    void resolve()
    {
        QFETCH(QString, dirOption);
        QFETCH(bool, programDirWritable);
        QFETCH(QString, dataHome);
        QFETCH(QString, dir);
        QFETCH(bool, logged);
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const auto inTemp = [&temp](QString path) { return path.replace(QStringLiteral("T/"), temp.path() + QLatin1Char('/')); };
        QVERIFY(QDir().mkpath(temp.filePath(QStringLiteral("bin"))));
        QVERIFY(QDir().mkpath(temp.filePath(QStringLiteral("house"))));
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), temp.filePath(QStringLiteral("home")));
        if (dataHome != QLatin1String("<none>"))
            env.insert(QStringLiteral("XDG_DATA_HOME"), inTemp(dataHome));
        QStringList asked;
        const auto writable = [&](const QString &folder) {
            asked << folder;
            return programDirWritable;
        };

        const ProgramDirectory result =
            ProgramDirectory::resolve(temp.filePath(QStringLiteral("bin")), inTemp(dirOption), env, writable);

        QCOMPARE(result.dir, inTemp(dir));
        QVERIFY(result.error.isEmpty());
        QVERIFY(QFileInfo(result.dir).isDir());
        QCOMPARE(!result.logLine.isEmpty(), logged);
        if (logged) {
            QVERIFY2(result.logLine.contains(result.dir), qPrintable(result.logLine));
            QCOMPARE(asked, QStringList{temp.filePath(QStringLiteral("bin/"))});
        }
    }

    void relativeDirOption()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(temp.path()));
        const ProgramDirectory result = ProgramDirectory::resolve(QStringLiteral("/usr/bin"), QStringLiteral("house/../flat"));
        QDir::setCurrent(previous);
        QCOMPARE(result.dir, QDir(temp.path()).canonicalPath() + QStringLiteral("/flat/"));
    }

    void unusableDirOption()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        QFile blocker(temp.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const ProgramDirectory result =
            ProgramDirectory::resolve(QStringLiteral("/usr/bin"), temp.filePath(QStringLiteral("file/sub")));
        QVERIFY(result.dir.isEmpty());
        QVERIFY2(result.error.contains(temp.filePath(QStringLiteral("file/sub"))), qPrintable(result.error));
    }

};

QTEST_GUILESS_MAIN(TestProgramDir)
#include "tst_programdir.moc"
