#include "app/ui/ConfigBinding.h"

#include "app/ui/OwServerCommand.h"
#include "app/ui/TForm1Ui.h"
#include "base/Log.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/ui/SensorSlots.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include <utility>

ConfigBinding::ConfigBinding(Parts parts)
    : m_parts(std::move(parts))
{
}

QString ConfigBinding::iniPath() const
{
    return m_parts.settings.ProgramDir + QStringLiteral("Kalvex.ini");
}

void ConfigBinding::LoadIni()
{
    // What a save cut short by a kill left behind (".Kalvex.ini.XXXXXX").
    QDir dir(m_parts.settings.ProgramDir);
    for (const QString &name : dir.entryList({QStringLiteral(".Kalvex.ini.??????")}, QDir::Files | QDir::Hidden))
        dir.remove(name);
    QStringList holds;
    QString problem;
    bool partial = false;
    const KalvexConfig config = loadConfig(iniPath(), {}, &holds, &problem, &partial);
    // A file only partly taken (sensors left out, values unreadable, texts cut) is kept whole
    // as well.
    m_iniUnreadable = !problem.isEmpty() || partial;
    if (!problem.isEmpty())
        m_parts.log.AddLog(QStringLiteral("Файл настроек ") + iniPath() + QStringLiteral(" не прочитан (") + problem
                           + QStringLiteral("): работа с настройками по умолчанию, при выходе он будет сохранён под другим именем."));
    else if (partial)
        m_parts.log.AddLog(QStringLiteral("Файл настроек ") + iniPath()
                           + QStringLiteral(" прочитан не полностью: при выходе он будет сохранён под другим именем."));
    for (const QString &hold : std::as_const(holds))
        m_parts.log.AddLog(QStringLiteral("Kalvex.ini: ") + hold);
    apply(config);
}

// A file that could not be read at start-up is first kept under another name, never replaced.
bool ConfigBinding::SaveIni()
{
    if (m_iniUnreadable) {
        QString kept = iniPath() + QStringLiteral(".unreadable");
        for (int n = 1; QFileInfo::exists(kept) || QFileInfo(kept).isSymLink(); ++n)
            kept = iniPath() + QStringLiteral(".unreadable.%1").arg(n);
        if (QFileInfo::exists(iniPath()) && !QFile::rename(iniPath(), kept))
            return false;
        m_iniUnreadable = false;
    }
    return writeConfig(iniPath(), collect());
}

void ConfigBinding::saveAtExit()
{
    constexpr int calls = 4;
    for (int call = 1; call <= calls; ++call) {
        if (SaveIni())
            return;
    }
    // Whoever started the program from a terminal or a service learns why the next start has
    // the old settings.
    qWarning("Kalvex: %s not written after %d attempts; the settings of this run are lost", qUtf8Printable(iniPath()),
             calls);
}

void ConfigBinding::apply(const KalvexConfig &config)
{
    const WindowSettings &s = m_parts.settings;
    TForm1Ui &ui = m_parts.ui;
    ui.N10->setChecked(config.GneralPanel);
    m_parts.VisibleUpPanel();

    s.bkFileName = config.bkFileName;
    ui.Timer1->setInterval(config.TimeOut);
    s.COMPort = config.COMPort;
    s.AutoNab = config.AutoNab;
    s.StartMin = config.StartMin;
    s.WinStartRun = config.WinStartRun;
    s.BulkConvert = config.BulkConvert;
    s.BusKind = config.BusKind;
    s.KernelPath = config.KernelPath;
    s.OwBus = config.OwServerBus;
    s.BusName = config.BusName;
    s.MoreBuses = config.MoreBuses;
    s.MQTT = config.MQTT;
    m_parts.owServer.setSettings(config.OwServer);
    // Before the first AddItem: every new chart line is filled with this many points.
    s.CharMaxCount = config.CharMaxCount;
    s.CharMinMaxAuto = config.CharMinMaxAuto;
    s.CharMinY = config.CharMinY;
    s.CharMaxY = config.CharMaxY;

    // The column's splitter handles sit between its controls, so placing the controls places
    // Splitter4, Splitter1 and Splitter2 as well.
    ui.setLeftColumnHeights(config.SnsHeight, config.SHourHeight, config.LogHeight);
    ui.setPanel3Width(config.P3Width);
    m_parts.Splitter3Moved();
    // A size below what the window can show is shown at that least and said once; the file
    // keeps its value.
    const auto shownLarger = [this](const char *key, int asked, int least) {
        if (asked < least)
            m_parts.log.AddLog(QStringLiteral("Kalvex.ini: %1=%2: показано %3.").arg(QLatin1String(key)).arg(asked).arg(least));
    };
    shownLarger("SnsHeight", config.SnsHeight, TForm1Ui::leastPaneHeight);
    shownLarger("SHourHeight", config.SHourHeight, TForm1Ui::leastPaneHeight);
    shownLarger("LogHeight", config.LogHeight, TForm1Ui::leastPaneHeight);
    shownLarger("P3Width", config.P3Width, ui.leastPanel3Width());

    if (!s.CharMinMaxAuto) {
        // One call sets both bounds, so the axis never passes through a minimum above its
        // maximum, which is what setting the maximum to 999 first was for. CharMinY is
        // already at most CharMaxY here.
        m_parts.chart.setLeftAxis(s.CharMinY, s.CharMaxY);
    }

    s.HTTPPort = config.HTTPPort;
    s.HTTPBinding = QStringLiteral("0.0.0.0");
    ui.HTTP_Active->setChecked(config.HTTPActive);

    SensorSlots &sensors = m_parts.sensorSlots;
    for (const SensorConfig &item : config.Items) {
        const int slot = sensors.AddItem(item.X, item.Y, item.Name, item.SN, item.Enable, item.Correct, item.Tray,
                                         item.CBFon, item.CBText, item.CBChart, item.Sign);
        if (slot >= 0 && slot < static_cast<int>(sensors.DSItems.size()))
            sensors.DSItems[static_cast<std::size_t>(slot)].Bus = item.Bus;
    }
}

KalvexConfig ConfigBinding::collect() const
{
    const WindowSettings &s = m_parts.settings;
    const TForm1Ui &ui = m_parts.ui;
    KalvexConfig config;
    config.GneralPanel = ui.N10->isChecked();
    config.bkFileName = s.bkFileName;
    config.COMPort = s.COMPort;
    config.CharMaxCount = s.CharMaxCount;
    config.TimeOut = ui.Timer1->interval();
    config.HTTPActive = ui.HTTP_Active->isChecked();
    config.HTTPPort = s.HTTPPort;
    config.CharMinMaxAuto = s.CharMinMaxAuto;
    config.CharMinY = s.CharMinY;
    config.CharMaxY = s.CharMaxY;
    config.SnsHeight = ui.snsHeight();
    config.SHourHeight = ui.sHourHeight();
    config.LogHeight = ui.logHeight();
    config.P3Width = ui.panel3Width();
    config.AutoNab = s.AutoNab;
    config.StartMin = s.StartMin;
    config.WinStartRun = s.WinStartRun;
    config.BulkConvert = s.BulkConvert;
    config.BusKind = s.BusKind;
    config.KernelPath = s.KernelPath;
    config.OwServerBus = s.OwBus;
    config.BusName = s.BusName;
    config.MoreBuses = s.MoreBuses;
    config.MQTT = s.MQTT;
    config.OwServer = m_parts.owServer.settings();

    const SensorSlots &sensors = m_parts.sensorSlots;
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
