// Times the configuration file at sizes far beyond real use, to show that reading and
// writing stay linear: a file of many sensors, a 10 MB line, and binary garbage.
//   bench_inifile [sensors]
#include "base/Formats.h"
#include "sensors/IniFile.h"
#include "sensors/KalvexConfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

template<typename F>
double millis(F &&f)
{
    QElapsedTimer t;
    t.start();
    f();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Formats::setCurrent(Formats::russian());
    const int sensors = argc > 1 ? std::atoi(argv[1]) : MaxItemCount;

    KalvexConfig c;
    for (int k = 0; k < sensors; ++k) {
        SensorConfig s;
        s.Name = QStringLiteral("Датчик %1").arg(k);
        s.SN = QStringLiteral("28FF%1").arg(k, 12, 16, QLatin1Char('0')).toUpper();
        s.Correct = -0.25;
        c.Items.push_back(s);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("Kalvex.ini");
    const double save = millis([&] { writeConfig(path, c); });
    KalvexConfig back;
    const double load = millis([&] { back = loadConfig(path); });
    std::printf("%d sensors: save %.1f ms, load %.1f ms, equal %s\n", sensors, save, load,
                back == c ? "yes" : "no");

    for (const int mb : {10, 40}) {
        const QByteArray line = "[Items]\nItemName0=" + QByteArray(mb * 1024 * 1024, 'x') + "\nItemCount=1\n";
        const double t = millis([&] { back = readConfig(IniFile::fromBytes(line)); });
        std::printf("%d MB line: parse %.1f ms\n", mb, t);
    }
    for (const int mb : {10, 40}) {
        QByteArray binary(mb * 1024 * 1024, '\0');
        QRandomGenerator seeded(1);
        for (char &ch : binary)
            ch = static_cast<char>(seeded.bounded(256));
        const double t = millis([&] { back = readConfig(IniFile::fromBytes(binary)); });
        std::printf("%d MB binary: parse %.1f ms\n", mb, t);
    }
    return 0;
}
