#include "app/ui/AutoStartEntry.h"
#include "sensors/IniTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestAutoStart : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString entryPath() const { return m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void defaultPath_data()
    {
        QTest::addColumn<QString>("configHome");
        QTest::addColumn<QString>("path");
        QTest::newRow("set") << "/srv/cfg" << "/srv/cfg/autostart/Kalvex.desktop";
        QTest::newRow("trailing slash") << "/srv/cfg/" << "/srv/cfg/autostart/Kalvex.desktop";
        QTest::newRow("unset") << QString() << "/home/anna/.config/autostart/Kalvex.desktop";
        QTest::newRow("relative is ignored") << "cfg" << "/home/anna/.config/autostart/Kalvex.desktop";
    }
    void defaultPath()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, path);
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), QStringLiteral("/home/anna"));
        if (!configHome.isNull())
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        QCOMPARE(AutoStartEntry::defaultPath(env), path);
    }

    void execValue_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << QStringList{"/usr/bin/kalvex"} << "\"/usr/bin/kalvex\"";
        QTest::newRow("blank") << QStringList{"/opt/my apps/kalvex"} << "\"/opt/my apps/kalvex\"";
        QTest::newRow("quote") << QStringList{"/opt/a\"b/kalvex"} << "\"/opt/a\\\\\"b/kalvex\"";
        QTest::newRow("dollar and backquote") << QStringList{"/opt/$x`y/kalvex"} << "\"/opt/\\\\$x\\\\`y/kalvex\"";
        QTest::newRow("backslash") << QStringList{"/opt/a\\b/kalvex"} << "\"/opt/a\\\\\\\\b/kalvex\"";
        QTest::newRow("percent is no field code") << QStringList{"/opt/100%u/kalvex"} << "\"/opt/100%%u/kalvex\"";
        QTest::newRow("newline") << QStringList{"/opt/a\nb/kalvex"} << "\"/opt/a\\nb/kalvex\"";
        QTest::newRow("cyrillic") << QStringList{"/home/анна/kalvex"} << "\"/home/анна/kalvex\"";
        QTest::newRow("with its folder") << QStringList{"/opt/kalvex", "--dir", "/home/anna/дом"}
                                         << "\"/opt/kalvex\" \"--dir\" \"/home/anna/дом\"";
    }
    void execValue()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, exec);
        QCOMPARE(AutoStartEntry::execValue(command), exec);
    }

    void writesTheEntry()
    {
        QString error;
        QVERIFY(AutoStartEntry(entryPath(), {"/opt/kalvex/kalvex"}).apply(true, error));
        QVERIFY(error.isEmpty());
        QFile entry(entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = entry.readAll().split('\n');
        QCOMPARE(lines.first(), QByteArray("[Desktop Entry]"));
        QVERIFY(lines.contains("Type=Application"));
        QVERIFY(lines.contains("Name=Kalvex"));
        QVERIFY(lines.contains("Exec=\"/opt/kalvex/kalvex\""));
    }

    void rewritesAnOldEntry()
    {
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("autostart"))));
        QFile old(entryPath());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[Desktop Entry]\nExec=/old/place/kalvex --with-a-much-longer-line-than-the-new-one\n");
        old.close();
        QString error;
        QVERIFY(AutoStartEntry(entryPath(), {"/opt/k"}).apply(true, error));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), AutoStartEntry::fileText({"/opt/k"}));
    }

    void removal_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("entry") << "file";
        QTest::newRow("no entry") << "none";
        QTest::newRow("no folder") << "no folder";
        QTest::newRow("dangling link") << "link";
    }
    void removal()
    {
        QFETCH(QString, before);
        if (before != QLatin1String("no folder"))
            QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("autostart"))));
        if (before == QLatin1String("file")) {
            QFile f(entryPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (before == QLatin1String("link")) {
            QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("gone")), entryPath()));
        }
        QString error;
        QVERIFY(AutoStartEntry(entryPath(), {"/opt/k"}).apply(false, error));
        QVERIFY(error.isEmpty());
        QVERIFY(!QFileInfo(entryPath()).exists());
        QVERIFY(!QFileInfo(entryPath()).isSymLink());
    }

    void failureNamesTheFile_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("write") << true;
        QTest::newRow("remove") << false;
    }
    void failureNamesTheFile()
    {
        QFETCH(bool, enabled);
        QString path;
        if (enabled) {
            // A file in place of the folder stops root as well.
            QFile blocker(m_dir->filePath(QStringLiteral("autostart")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            path = entryPath();
        } else {
            // A folder by the entry's name cannot be removed as a file.
            path = m_dir->filePath(QStringLiteral("Kalvex.desktop"));
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
        }
        QString error;
        QVERIFY(!AutoStartEntry(path, {"/opt/k"}).apply(enabled, error));
        QVERIFY2(error.startsWith(QStringLiteral("Автозапуск: не удалось")), qPrintable(error));
        QVERIFY2(error.contains(m_dir->path()), qPrintable(error));
    }

    void fullDiskKeepsTheOldEntry()
    {
        // The disk takes part of the text: that is a failure, and the old entry stays whole.
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("autostart"))));
        const QByteArray old = AutoStartEntry::fileText({"/old/kalvex"});
        writeAll(entryPath(), old);
        QString error;
        {
            FileSizeLimit limit(64);
            QVERIFY(!AutoStartEntry(entryPath(), {"/opt/kalvex/kalvex"}).apply(true, error));
        }
        QVERIFY2(error.startsWith(QStringLiteral("Автозапуск: не удалось записать")), qPrintable(error));
        QCOMPARE(readAll(entryPath()), old);
        QCOMPARE(otherFiles(m_dir->filePath(QStringLiteral("autostart")), QStringLiteral("Kalvex.desktop")), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestAutoStart)
#include "tst_autostart.moc"
