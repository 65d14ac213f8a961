// Measures the tray icons over a long run: readings handed to TrayModify as the monitoring
// cycle hands them, for 3 tray sensors.
//
//   bench_tray [readings=10000] [tips|no-tips]
//
// Runs "drifting" readings (a slow walk in tenths of a degree, as a room changes: the
// whole-degree text changes now and then), then "every reading new" twice (the text changes at
// each reading, the worst case). Each prints the pictures handed to the notification area
// (each is a copy the desktop keeps, over D-Bus on Linux), the time per reading and the
// resident memory (VmRSS) after the first tenth and at the end. "no-tips" keeps every tip the
// same, to tell the tips' share from the pictures'. Run it with the platform the desktop uses
// (xcb beside a tray, or offscreen for the program's own share). On xcb the tray paints each
// picture through QIcon, which keeps its scaled copies in QPixmapCache (10 MB by default): the
// resident memory rises while that cache fills and then levels off.
#include "base/Log.h"
#include "base/NumberText.h"
#include "base/StringGrid.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/ui/SensorSlots.h"
#include "view/ui/TrayIndicators.h"

#include "SilentEdges.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>

#include <cstdio>

namespace {

class CountingLog final : public Log
{
public:
    void AddLog(const QString &) override { ++lines; }
    void addRawLine(const QString &) override { ++lines; }
    long lines = 0;
};

void run(const char *title, int readings, bool everyReadingNew, bool sameTip)
{
    QWidget panel;
    QWidget templates;
    LiveChart chart;
    StringGrid Sns{3, 2};
    StringGrid SHour{26, 2};
    SilentBoxes boxes;
    CountingLog log;
    SensorSlots sensors(&panel, chart, Sns, SHour, boxes, [] { return 10; });
    TrayIndicators tray(sensors, log, &templates);
    sensors.TrayCreate = [&tray](int id, const QString &tip, TColor bk, TColor text) { tray.TrayCreate(id, tip, bk, text); };
    const QStringList names = {QStringLiteral("Гостиная"), QStringLiteral("Улица"), QStringLiteral("Котёл")};
    for (const QString &name : names)
        sensors.AddItem(100, 100, name, QStringLiteral("28FF0A1B2C3D4E5F"), true, 0, true, DefaultTrayBackground,
                        DefaultTrayText, 255, CreateClearSign());

    const long long handedAtStart = tray.picturesHanded();
    long rssTenth = 0;
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < readings; ++r) {
        const int k = r % 3;
        // A walk of a tenth per reading between 15 and 25 degrees, or a new whole degree each time.
        const int step = (r / 3) % 200;
        const double t = everyReadingNew ? -30.0 + (r % 90) : 15.0 + 0.1 * (step < 100 ? step : 200 - step);
        const QString whole = numbertext::whole(t);
        const QString caption = numbertext::oneDecimal(t);
        const QString tip = sameTip ? names.at(k) : names.at(k) + QStringLiteral(" ") + caption + QStringLiteral("°");
        tray.TrayModify(k + 1, whole, tip,
                        DefaultTrayBackground, DefaultTrayText);
        if (r % 50 == 0)
            QCoreApplication::processEvents();
        if (r + 1 == readings / 10)
            rssTenth = residentKb();
    }
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents();
    std::printf("%s: %d readings, %lld pictures handed, %.3f ms per reading, VmRSS %ld kB after %d, %ld kB at the end, "
                "%d icons, %ld log lines\n",
                title, readings, tray.picturesHanded() - handedAtStart, ms / readings, rssTenth, readings / 10,
                residentKb(), static_cast<int>(tray.ids().size()), log.lines);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int readings = argc > 1 ? std::max(QByteArray(argv[1]).toInt(), 10) : 10000;
    std::printf("VmRSS at start: %ld kB\n", residentKb());
    // "tips" (default) or "no-tips": the second leaves the tips alone, to tell what a
    // desktop's tip handling costs from what the pictures cost.
    const bool sameTip = argc > 2 && QByteArray(argv[2]) == "no-tips";
    run("drifting", readings, false, sameTip);
    run("every reading new", readings, true, sameTip);
    run("every reading new, again", readings, true, sameTip);
    return 0;
}
