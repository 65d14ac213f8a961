#include "app/ui/ProgramDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

    // The demonstration's sensors never land in the user's configuration: without --dir it
    // keeps to a folder of its own, installed or not, and says where.
    void demoHasAFolderOfItsOwn_data()
    {
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<QString>("dirOption");
        QTest::addColumn<QString>("dir");
        QTest::newRow("installed") << "/usr/bin" << QString() << "T/data/kalvex/demo/";
        QTest::newRow("build tree") << "T/build" << QString() << "T/build/demo/";
        QTest::newRow("--dir") << "/usr/bin" << "T/house" << "T/house/";
    }
    void demoHasAFolderOfItsOwn()
    {
        QFETCH(QString, programDir);
        QFETCH(QString, dirOption);
        QFETCH(QString, dir);
        QTemporaryDir temp;
        const auto inTemp = [&temp](QString path) { return path.replace(QStringLiteral("T/"), temp.path() + QLatin1Char('/')); };
        QProcessEnvironment env;
        env.insert(QStringLiteral("XDG_DATA_HOME"), temp.filePath(QStringLiteral("data")));
        const ProgramDirectory result = ProgramDirectory::resolve(inTemp(programDir), inTemp(dirOption), env,
                                                                  [](const QString &) { return true; }, true);
        QCOMPARE(result.dir, inTemp(dir));
        QVERIFY(QFileInfo(result.dir).isDir());
        QCOMPARE(result.logLine.contains(result.dir), dirOption.isEmpty());
    }

    // Root may write everywhere, so writability cannot tell an installed program from one
    // run where it was built or unpacked: the folder's place does.
    void installedProgramKeepsItsFilesInDataHome_data()
    {
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<bool>("launcherInstalled");
        QTest::addColumn<QString>("dir");
        QTest::newRow("cmake --install prefix") << "T/prefix/bin" << true << "T/data/kalvex/";
        QTest::newRow("/usr/bin") << "/usr/bin" << false << "T/data/kalvex/";
        QTest::newRow("/usr/local/bin") << "/usr/local/bin" << false << "T/data/kalvex/";
        QTest::newRow("under /usr") << "/usr/lib/kalvex" << false << "T/data/kalvex/";
        QTest::newRow("build tree") << "T/build/src/app" << false << "T/build/src/app/";
        QTest::newRow("own folder named bin") << "T/prefix/bin" << false << "T/prefix/bin/";
        QTest::newRow("own folder") << "T/kalvex" << false << "T/kalvex/";
        QTest::newRow("/usrlocal is not /usr") << "T/usrlocal" << false << "T/usrlocal/";
    }
    void installedProgramKeepsItsFilesInDataHome()
    {
        QFETCH(QString, programDir);
        QFETCH(bool, launcherInstalled);
        QFETCH(QString, dir);
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const auto inTemp = [&temp](QString path) { return path.replace(QStringLiteral("T/"), temp.path() + QLatin1Char('/')); };
        if (programDir.startsWith(QLatin1String("T/")))
            QVERIFY(QDir().mkpath(inTemp(programDir)));
        if (launcherInstalled) {
            QVERIFY(QDir().mkpath(temp.filePath(QStringLiteral("prefix/share/applications"))));
            QFile launcher(temp.filePath(QStringLiteral("prefix/share/applications/kalvex.desktop")));
            QVERIFY(launcher.open(QIODevice::WriteOnly));
        }
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), temp.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), temp.filePath(QStringLiteral("data")));

        const ProgramDirectory result =
            ProgramDirectory::resolve(inTemp(programDir), QString(), env, [](const QString &) { return true; });

        QCOMPARE(result.dir, inTemp(dir));
        const bool away = !result.dir.startsWith(QDir::cleanPath(inTemp(programDir)));
        QCOMPARE(!result.logLine.isEmpty(), away);
        if (away)
            QVERIFY2(result.logLine.contains(result.dir), qPrintable(result.logLine));
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
