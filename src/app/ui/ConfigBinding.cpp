#include "app/ui/ConfigBinding.h"

#include "app/ui/OwServerCommand.h"
#include "app/ui/TForm1.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/ui/SensorSlots.h"

#include <QAction>
#include <QLabel>
#include <QTimer>

void ConfigBinding::apply(TForm1 &form, const KalvexConfig &config)
{
    form.N10->setChecked(config.GneralPanel);
    form.VisibleUpPanel();

    form.bkFileName = config.bkFileName;
    form.Timer1->setInterval(config.TimeOut);
    form.COMPort = config.COMPort;
    form.AutoNab = config.AutoNab;
    form.StartMin = config.StartMin;
    form.WinStartRun = config.WinStartRun;
    form.BulkConvert = config.BulkConvert;
    form.BusKind = config.BusKind;
    form.KernelPath = config.KernelPath;
    form.OwBus = config.OwServerBus;
    form.BusName = config.BusName;
    form.MoreBuses = config.MoreBuses;
    form.MQTT = config.MQTT;
    form.owServer().setSettings(config.OwServer);
    // Before the first AddItem: every new chart line is filled with this many points.
    form.CharMaxCount = config.CharMaxCount;
    form.CharMinMaxAuto = config.CharMinMaxAuto;
    form.CharMinY = config.CharMinY;
    form.CharMaxY = config.CharMaxY;

    // The column's splitter handles sit between its controls, so placing the controls places
    // Splitter4, Splitter1 and Splitter2 as well.
    form.setLeftColumnHeights(config.SnsHeight, config.SHourHeight, config.LogHeight);
    form.setPanel3Width(config.P3Width);
    form.Splitter3Moved();
    // A size below what the window can show is shown at that least and said once; the file
    // keeps its value.
    const auto shownLarger = [&form](const char *key, int asked, int least) {
        if (asked < least)
            form.AddLog(QStringLiteral("Kalvex.ini: %1=%2: показано %3.").arg(QLatin1String(key)).arg(asked).arg(least));
    };
    shownLarger("SnsHeight", config.SnsHeight, TForm1Ui::leastPaneHeight);
    shownLarger("SHourHeight", config.SHourHeight, TForm1Ui::leastPaneHeight);
    shownLarger("LogHeight", config.LogHeight, TForm1Ui::leastPaneHeight);
    shownLarger("P3Width", config.P3Width, form.leastPanel3Width());

    if (!form.CharMinMaxAuto) {
        // One call sets both bounds, so the axis never passes through a minimum above its
        // maximum, which is what setting the maximum to 999 first was for. CharMinY is
        // already at most CharMaxY here.
        form.liveChart().setLeftAxis(form.CharMinY, form.CharMaxY);
    }

    form.HTTPPort = config.HTTPPort;
    form.HTTPBinding = QStringLiteral("0.0.0.0");
    form.HTTP_Active->setChecked(config.HTTPActive);

    SensorSlots &sensors = form.sensorSlots();
    for (const SensorConfig &item : config.Items) {
        const int slot = sensors.AddItem(item.X, item.Y, item.Name, item.SN, item.Enable, item.Correct, item.Tray,
                                         item.CBFon, item.CBText, item.CBChart, item.Sign);
        if (slot >= 0 && slot < static_cast<int>(sensors.DSItems.size()))
            sensors.DSItems[static_cast<std::size_t>(slot)].Bus = item.Bus;
    }
}

KalvexConfig ConfigBinding::collect(const TForm1 &form)
{
    KalvexConfig config;
    config.GneralPanel = form.N10->isChecked();
    config.bkFileName = form.bkFileName;
    config.COMPort = form.COMPort;
    config.CharMaxCount = form.CharMaxCount;
    config.TimeOut = form.Timer1->interval();
    config.HTTPActive = form.HTTP_Active->isChecked();
    config.HTTPPort = form.HTTPPort;
    config.CharMinMaxAuto = form.CharMinMaxAuto;
    config.CharMinY = form.CharMinY;
    config.CharMaxY = form.CharMaxY;
    config.SnsHeight = form.snsHeight();
    config.SHourHeight = form.sHourHeight();
    config.LogHeight = form.logHeight();
    config.P3Width = form.panel3Width();
    config.AutoNab = form.AutoNab;
    config.StartMin = form.StartMin;
    config.WinStartRun = form.WinStartRun;
    config.BulkConvert = form.BulkConvert;
    config.BusKind = form.BusKind;
    config.KernelPath = form.KernelPath;
    config.OwServerBus = form.OwBus;
    config.BusName = form.BusName;
    config.MoreBuses = form.MoreBuses;
    config.MQTT = form.MQTT;
    config.OwServer = form.owServer().settings();

    const SensorSlots &sensors = form.sensorSlots();
    for (int i = 0; i < static_cast<int>(sensors.DSItems.size()); ++i) {
        if (!sensors.inUse(i))
            continue;
        const TDSItem &item = sensors.DSItems[static_cast<std::size_t>(i)];
        SensorConfig stored;
        stored.X = item.ImageCtl->x();
        stored.Y = item.ImageCtl->y();
        stored.Name = sensors.name(i);
        stored.SN = item.SN;
        stored.Enable = item.Enable;
        stored.Correct = item.Correct;
        stored.Tray = item.Tray;
        stored.CBFon = item.CBFon;
        stored.CBText = item.CBText;
        stored.CBChart = item.CBChart;
        stored.Sign = item.Sign;
        stored.Bus = item.Bus;
        config.Items.push_back(stored);
    }
    return config;
}
