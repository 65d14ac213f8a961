#include "IniTestSupport.h"

#include "base/Formats.h"
#include "sensors/IniFile.h"

#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cmath>
#include <thread>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

IniFile oneValue(const QByteArray &value)
{
    return IniFile::fromBytes("[S]\nk=" + value + "\n");
}

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void readInteger_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        const int def = -777;
        QTest::newRow("decimal") << QByteArray("42") << 42;
        QTest::newRow("negative") << QByteArray("-7") << -7;
        QTest::newRow("plus") << QByteArray("+5") << 5;
        QTest::newRow("blanks around") << QByteArray("  12\t") << 12;
        QTest::newRow("hex") << QByteArray("0x1F") << 31;
        QTest::newRow("hex upper X, lower digits") << QByteArray("0X1f") << 31;
        QTest::newRow("hex colour") << QByteArray("0x00FF0000") << 16711680;
        QTest::newRow("hex all bits") << QByteArray("0xFFFFFFFF") << -1;
        QTest::newRow("hex too long") << QByteArray("0x100000000") << def;
        QTest::newRow("hex prefix alone") << QByteArray("0x") << def;
        QTest::newRow("hex bad digit") << QByteArray("0x1G") << def;
        QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("int min") << QByteArray("-2147483648") << (-2147483647 - 1);
        QTest::newRow("overflow") << QByteArray("2147483648") << def;
        QTest::newRow("huge") << QByteArray("99999999999999999999999") << def;
        QTest::newRow("trailing garbage") << QByteArray("12abc") << def;
        QTest::newRow("inner blank") << QByteArray("1 2") << def;
        QTest::newRow("float") << QByteArray("1,5") << def;
        QTest::newRow("word") << QByteArray("abc") << def;
        QTest::newRow("empty") << QByteArray("") << def;
        QTest::newRow("sign alone") << QByteArray("-") << def;
    }
    void readInteger()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        QCOMPARE(oneValue(value).readInteger("S", "k", -777), expected);
    }

    void readBool_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("def");
        QTest::addColumn<bool>("expected");
        QTest::newRow("1") << QByteArray("1") << false << true;
        QTest::newRow("0") << QByteArray("0") << true << false;
        QTest::newRow("any non-zero") << QByteArray("-3") << false << true;
        QTest::newRow("hex zero") << QByteArray("0x0") << true << false;
        QTest::newRow("word true keeps default false") << QByteArray("true") << false << false;
        QTest::newRow("word keeps default true") << QByteArray("no") << true << true;
        QTest::newRow("empty keeps default") << QByteArray("") << true << true;
    }
    void readBool()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, def);
        QFETCH(bool, expected);
        QCOMPARE(oneValue(value).readBool("S", "k", def), expected);
    }

    void readFloat_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("comma") << QByteArray("-2,5") << -2.5;
        QTest::newRow("whole") << QByteArray("20") << 20.0;
        QTest::newRow("exponent") << QByteArray("1,5E-7") << 1.5e-7;
        // A file from a machine whose separator is the point.
        QTest::newRow("point") << QByteArray("-2.5") << -2.5;
        QTest::newRow("point, exponent") << QByteArray("1.5E-7") << 1.5e-7;
        QTest::newRow("point and comma") << QByteArray("1.000,5") << 99.0;
        QTest::newRow("two points") << QByteArray("1.2.3") << 99.0;
        QTest::newRow("garbage") << QByteArray("2,5x") << 99.0;
        QTest::newRow("nan") << QByteArray("nan") << 99.0;
        QTest::newRow("overflow") << QByteArray("1E999") << 99.0;
        QTest::newRow("empty") << QByteArray("") << 99.0;
    }
    void readFloat()
    {
        QFETCH(QByteArray, value);
        QFETCH(double, expected);
        bool unreadable = false;
        QCOMPARE(oneValue(value).readFloat("S", "k", 99.0, &unreadable), expected);
        QCOMPARE(unreadable, expected == 99.0);
        QCOMPARE(oneValue(value).readFloat("S", "missing", 99.0, &unreadable), 99.0);
        QVERIFY(!unreadable);
    }

    // What is saved reads back: a value near the largest double once came back as the default.
    void floatReadsBackAsWritten_data()
    {
        QTest::addColumn<double>("value");
        QTest::newRow("minus two and a half") << -2.5;
        QTest::newRow("largest") << std::numeric_limits<double>::max();
        QTest::newRow("most negative") << -std::numeric_limits<double>::max();
        QTest::newRow("smallest") << std::numeric_limits<double>::denorm_min();
    }
    void floatReadsBackAsWritten()
    {
        QFETCH(double, value);
        IniFile ini;
        ini.writeFloat("S", "k", value);
        const double back = IniFile::fromBytes(ini.toBytes()).readFloat("S", "k", 99.0);
        QVERIFY2(std::fabs(back - value) <= std::fabs(value) * 1e-14, qPrintable(ini.readString("S", "k", "")));
    }

    void readString_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("spaces inside kept") << QByteArray("[S]\nk=C:\\Program Files\\a b.wav\n")
                                            << "C:\\Program Files\\a b.wav";
        QTest::newRow("blanks around the key dropped, the value's kept") << QByteArray("[S]\n  k  =  a b \t\n")
                                                                        << "  a b \t";
        QTest::newRow("equals inside") << QByteArray("[S]\nk=a=b\n") << "a=b";
        QTest::newRow("empty value is not missing") << QByteArray("[S]\nk=\n") << "";
        QTest::newRow("missing key") << QByteArray("[S]\nj=1\n") << "def";
        QTest::newRow("missing section") << QByteArray("[T]\nk=1\n") << "def";
        QTest::newRow("key before any section") << QByteArray("k=1\n[S]\n") << "def";
        QTest::newRow("mixed case") << QByteArray("[s]\nK=v\n") << "v";
        QTest::newRow("CR LF") << QByteArray("[S]\r\nk=v\r\nj=w\r\n") << "v";
        QTest::newRow("CR CR LF") << QByteArray("[S]\nk=v\r\r\n") << "v";
        QTest::newRow("CR alone") << QByteArray("[S]\rj=w\rk=v\r") << "v";
        QTest::newRow("no final line end") << QByteArray("[S]\nk=v") << "v";
        QTest::newRow("blank lines and comments") << QByteArray("\n\n[S]\n\n; k=x\n\nk=v\n\n") << "v";
        QTest::newRow("first of duplicates") << QByteArray("[S]\nk=1\nK=2\n[s]\nk=3\n") << "1";
        QTest::newRow("a key only in the second section") << QByteArray("[S]\nj=1\n[T]\n[s]\nk=3\n") << "def";
        QTest::newRow("broken header ends the section") << QByteArray("[S]\n[T\nk=1\n") << "def";
        QTest::newRow("section name with blanks") << QByteArray("[ S ]\nk=v\n") << "v";
    }
    void readString()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        QCOMPARE(IniFile::fromBytes(text).readString("S", "k", "def"), expected);
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("encoding");
        const QString name = QStringLiteral("Кухня ёЁ №1");
        QTest::newRow("windows-1251") << QByteArray("[S]\nk=\xCA\xF3\xF5\xED\xFF \xB8\xA8 \xB9" "1\n")
                                      << int(IniFile::Encoding::Windows1251);
        QTest::newRow("utf-8") << ("[S]\nk=" + name.toUtf8() + "\n") << int(IniFile::Encoding::Utf8);
        QTest::newRow("utf-8 bom") << ("\xEF\xBB\xBF[S]\r\nk=" + name.toUtf8() + "\r\n")
                                   << int(IniFile::Encoding::Utf8Bom);
    }
    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, encoding);
        const IniFile ini = IniFile::fromBytes(bytes);
        QCOMPARE(ini.readString("S", "k", {}), QStringLiteral("Кухня ёЁ №1"));
        QCOMPARE(int(ini.sourceEncoding()), encoding);
    }

    void cyrillicKeysMatchWithoutCase()
    {
        const IniFile ini = IniFile::fromBytes(QStringLiteral("[Раздел]\nКЛЮЧ=1\n").toUtf8());
        QCOMPARE(ini.readInteger(QStringLiteral("раздел"), QStringLiteral("ключ"), 0), 1);
    }

    // What goes out must come back, in the encoding the file promises.
    void encoding_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("encoding");
        QTest::newRow("ascii") << QStringLiteral("bk.jpg") << int(IniFile::Encoding::Windows1251);
        QTest::newRow("cyrillic") << QStringLiteral("Кухня, ёЁ №, 5°") << int(IniFile::Encoding::Windows1251);
        QTest::newRow("outside 1251") << QStringLiteral("Кухня ✓ 温度") << int(IniFile::Encoding::Utf8Bom);
        // "ВЁ" in Windows-1251 is C2 A8, a valid UTF-8 sequence: it must not read back as "¨".
        QTest::newRow("1251 that looks like utf-8") << QStringLiteral("ВЁ") << int(IniFile::Encoding::Utf8Bom);
        QTest::newRow("replacement char") << QString(QChar(0xFFFD)) << int(IniFile::Encoding::Utf8Bom);
    }
    void encoding()
    {
        QFETCH(QString, value);
        QFETCH(int, encoding);
        IniFile ini;
        ini.writeString("S", "k", value);
        IniFile::Encoding used {};
        const QByteArray bytes = ini.toBytes(&used);
        QCOMPARE(int(used), encoding);
        QCOMPARE(bytes.startsWith("\xEF\xBB\xBF"), used == IniFile::Encoding::Utf8Bom);
        QCOMPARE(IniFile::fromBytes(bytes).readString("S", "k", {}), value);
    }

    void writesInOrderAndReplacesInPlace()
    {
        IniFile ini;
        ini.writeInteger("B", "z", 1);
        ini.writeString("A", "y", "x");
        ini.writeBool("B", "a", true);
        ini.writeFloat("A", "f", -2.5);
        ini.writeInteger("b", "Z", -3); // same key, other case: replaced where it stands
        ini.writeString("A", "multi", "one\r\ntwo\nthree");
        QCOMPARE(ini.toBytes(), QByteArray("[B]\nz=-3\na=1\n[A]\ny=x\nf=-2,5\nmulti=one  two three\n"));
        QCOMPARE(ini.sections(), QStringList({"B", "A"}));
        QCOMPARE(ini.keys("a"), QStringList({"y", "f", "multi"}));
    }

    // Hostile content: whatever parses is read, the rest is ignored, nothing crashes and the
    // cost stays linear.
    void garbage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray big(10 * 1024 * 1024, 'x');
        QTest::newRow("10 MB line before") << QByteArray("[S]\n" + big + "\nk=7\n");
        QTest::newRow("10 MB value of another key") << QByteArray("[S]\nj=" + big + "\nk=7\n");
        QTest::newRow("10 MB section name") << QByteArray("[" + big + "]\nk=1\n[S]\nk=7\n");
        QByteArray binary(1024 * 1024, '\0');
        QRandomGenerator seeded(12345);
        for (char &c : binary)
            c = static_cast<char>(seeded.bounded(256));
        QTest::newRow("binary around") << QByteArray(binary + "\n[S]\nk=7\n" + binary);
        QByteArray every;
        for (int i = 0; i < 256; ++i)
            every.append(static_cast<char>(i));
        QTest::newRow("every byte value") << QByteArray("[S]\nj=" + every + "\nk=7\n");
        QTest::newRow("NULs") << QByteArray("[S]\n\0\0\0=\0\nk=7\n", 14);
        QTest::newRow("bom then invalid utf-8") << QByteArray("\xEF\xBB\xBF[S]\nj=\xFF\xFE\nk=7\n");
    }
    void garbage()
    {
        QFETCH(QByteArray, bytes);
        const IniFile ini = IniFile::fromBytes(bytes);
        QCOMPARE(ini.readInteger("S", "k", 0), 7);
        QCOMPARE(ini.readInteger("S", "j", -1), -1);
        ini.toBytes(); // writing it back out must not fail either
    }

    void binaryFileGivesDefaults()
    {
        QByteArray binary(64 * 1024, '\0');
        QRandomGenerator seeded(7);
        for (char &c : binary)
            c = static_cast<char>(seeded.bounded(256));
        const IniFile ini = IniFile::fromBytes(binary);
        QCOMPARE(ini.readInteger("General", "COMPort", 1), 1);
    }

    // Only a regular file is read, and only whole: a FIFO or a device never blocks the reader,
    // a file over the cap is not taken in part (a save would then replace all of it).
    void onlyWholeRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO without a writer") << QStringLiteral("fifo");
        QTest::newRow("link to a device") << QStringLiteral("device");
        QTest::newRow("directory") << QStringLiteral("directory");
        QTest::newRow("over the cap") << QStringLiteral("large");
    }
    void onlyWholeRegularFilesAreRead()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("Kalvex.ini");
        const QByteArray name = QFile::encodeName(path);
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (kind == QLatin1String("device")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        } else if (kind == QLatin1String("directory")) {
            QVERIFY(QDir().mkdir(path));
        } else {
            // Text all the way: the head is a valid configuration, the rest lies past the cap.
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General]\nCOMPort=3\n");
            const QByteArray comment = ";" + QByteArray(1022, 'x') + "\n";
            for (qint64 written = 0; written <= IniFile::MaxFileBytes; written += comment.size())
                file.write(comment);
            file.write("[Items]\nItemCount=1\n");
        }
        QString problem;
        int comPort = 0;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            comPort = IniFile::fromFile(path, &problem).readInteger("General", "COMPort", 1);
            done = true;
        });
        const auto cleanup = qScopeGuard([&] {
            if (!done) {
                // Unblocks the open of a reader stuck on the FIFO, so the test can end.
                const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
            reader.join();
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
        QCOMPARE(comPort, 1);
        QVERIFY(!problem.isEmpty());
    }

    void missingFileIsEmpty()
    {
        QTemporaryDir dir;
        const IniFile ini = IniFile::fromFile(dir.filePath("none.ini"));
        QVERIFY(ini.sections().isEmpty());
        QCOMPARE(ini.readString("S", "k", "def"), QStringLiteral("def"));
    }

    void saveReplacesAndKeepsMode()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kalvex.ini");
        writeAll(path, "old");
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0600) == 0);
        IniFile ini;
        ini.writeString("S", "k", "Кухня");
        QVERIFY(ini.save(path));
        QCOMPARE(readAll(path), ini.toBytes());
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(otherFiles(dir.path(), "Kalvex.ini"), QStringList());
    }

    void saveThroughSymlinkReplacesTarget()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("real");
        const QString target = dir.filePath("real/Kalvex.ini");
        writeAll(target, "old");
        const QString link = dir.filePath("Kalvex.ini");
        QVERIFY(QFile::link(target, link));
        IniFile ini;
        ini.writeInteger("S", "k", 1);
        QVERIFY(ini.save(link));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readAll(target), ini.toBytes());
    }

    // A save that cannot complete returns false and leaves the old file whole.
    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("immutable directory") << "immutable";
        QTest::newRow("file system full") << "fsize";
        QTest::newRow("target is a directory") << "dir";
    }
    void failedSaveKeepsOldFile()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString path = dir.filePath("Kalvex.ini");
        const QByteArray old = "[General]\nCOMPort=3\n";
        if (how == "dir")
            QVERIFY(QDir(dir.path()).mkdir("Kalvex.ini"));
        else
            writeAll(path, old);
        IniFile ini;
        ini.writeString("S", "k", QString(4096, QLatin1Char('v')));
        bool saved = true;
        if (how == "immutable") {
            ImmutableDir lock(dir.path());
            if (!lock.ok())
                QSKIP("this file system or user cannot mark a directory immutable");
            saved = ini.save(path);
        } else if (how == "fsize") {
            FileSizeLimit limit(1024);
            saved = ini.save(path);
        } else {
            saved = ini.save(path);
        }
        QVERIFY(!saved);
        if (how == "dir")
            QVERIFY(QFileInfo(path).isDir());
        else
            QCOMPARE(readAll(path), old);
        QCOMPARE(otherFiles(dir.path(), "Kalvex.ini"), QStringList());
    }

    void saveBelowAFileFails()
    {
        QTemporaryDir dir;
        writeAll(dir.filePath("file"), "x");
        IniFile ini;
        ini.writeInteger("S", "k", 1);
        QVERIFY(!ini.save(dir.filePath("file/Kalvex.ini")));
        QCOMPARE(readAll(dir.filePath("file")), QByteArray("x"));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
