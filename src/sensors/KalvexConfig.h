#pragma once

#include "sensors/BusConfig.h"
#include "sensors/MqttSettings.h"
#include "sensors/OwServerBusSettings.h"
#include "sensors/OwServerSettings.h"
#include "sensors/TDSItem.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class IniFile;

// One stored sensor: the arguments of AddItem, in AddItem's order.
struct SensorConfig
{
    int X = 1;                         // "ItemLeft" k: left of the picture
    int Y = 1;                         // "ItemTop" k: top of the picture
    QString Name = QStringLiteral("-"); // "ItemName" k: caption of NameLabel
    QString SN;                        // "ItemSN" k, uncut (AddItem cuts SN to 16, the hint shows it all)
    bool Enable = false;               // "ItemEnable" k
    double Correct = 0;                // "ItemCorrect" k
    bool Tray = false;                 // "ItemTray" k
    TColor CBFon = DefaultTrayBackground;  // "ItemCBFon" k
    TColor CBText = DefaultTrayText;       // "ItemCBText" k
    TColor CBChart = 0;                // "ItemCBChart" k (a random standard colour when missing)
    TSign Sign = CreateClearSign();    // "Item" k "Sig" n ...
    int Bus = 1;                       // "ItemBus" k, written only when not 1

    bool operator==(const SensorConfig &) const = default;
};

// The whole of "Kalvex.ini" as plain values, under the names of its keys.
//
// What TForm1 must do with it, in this order (LoadIni):
//  1. GneralPanel: set the check mark of N10, then call VisibleUpPanel (menu items File1, N8,
//     N9, N12 visible exactly when it is set).
//  2. bkFileName := bkFileName (the picture itself is loaded later by the creation handler).
//  3. Timer1 interval := TimeOut (milliseconds; always >= 1 here).
//  4. COMPort, AutoNab, StartMin, WinStartRun := theirs.
//  5. CharMaxCount := CharMaxCount (before any AddItem: every line is pre-filled with it).
//     CharMinMaxAuto, CharMinY, CharMaxY := theirs (CharMinY already adjusted, see 8).
//  6. Height of Sns := SnsHeight, of SHour := SHourHeight (never 0 here), of Memo1 := LogHeight,
//     width of Panel3 := P3Width.
//  7. Splitter1 2 pixels above Chart1, Splitter2 above Memo1, Splitter4 above SHour; then call
//     Splitter3Moved.
//  8. If !CharMinMaxAuto: left axis of Chart1: maximum 999, then minimum CharMinY, then
//     maximum CharMaxY. (Automatic bounds are left to the monitoring cycle.)
//  9. Web server port := HTTPPort; clear its bindings and add one on "0.0.0.0" and HTTPPort.
//     A port outside 1..65535 is kept as read: starting the server then fails and is reported.
// 10. HTTPActive: set the check mark of HTTP_Active (StartHTTP runs later, in FormCreate).
// 11. For each entry of Items, in order: AddItem(X, Y, Name, SN, Enable, Correct, Tray, CBFon,
//     CBText, CBChart, Sign). The array is empty at start-up, so item k lands in slot k.
// 12. BulkConvert := BulkConvert (read by the monitoring cycle at its start).
//
// SaveIni: fill a KalvexConfig from the window's state (N10 check mark, bkFileName, COMPort,
// CharMaxCount, Timer1 interval, HTTP_Active check mark, the server's port, CharMinMaxAuto,
// CharMinY, CharMaxY, heights of Sns, SHour, Memo1, width of Panel3, AutoNab, StartMin,
// WinStartRun) and Items from the slots in use only, in slot order (picture position, name
// label caption, the record's fields); then writeConfig().
struct KalvexConfig
{
    bool GneralPanel = false;
    QString bkFileName = QStringLiteral("bk.jpg");
    int COMPort = 1;
    int CharMaxCount = 10;
    int TimeOut = 10000;
    bool HTTPActive = false;
    int HTTPPort = 80;
    bool CharMinMaxAuto = true;
    double CharMinY = -10;
    double CharMaxY = 10;
    int SnsHeight = 200;
    int SHourHeight = 200;
    int LogHeight = 150;
    int P3Width = 400;
    bool AutoNab = false;
    bool StartMin = false;
    bool WinStartRun = false;
    std::vector<SensorConfig> Items;
    // [Bus], our own section after the specified ones: every sensor converts at once.
    bool BulkConvert = false;
    // [Bus] Kind: "serial" (the port COMPort drives the line), "kernel" (the kernel's 1-Wire
    // driver, its devices under KernelPath), "owserver" (an OWFS server at Host, Port and
    // Path) or "ds2480b" (the port COMPort through a DS2480B line driver: DS9097U, LinkUSB);
    // the port is opened for "serial" and "ds2480b" only.
    QString BusKind = QStringLiteral("serial");
    QString KernelPath = QStringLiteral("/sys/bus/w1/devices");
    OwServerBusSettings OwServerBus;
    // [Bus] Name: what bus 1 is called (empty: "Шина 1"), written only when given.
    QString BusName;
    // Buses 2, 3, ...: sections [Bus2] ... [Bus16], in number order (MoreBuses[0] is bus 2).
    std::vector<BusConfig> MoreBuses;
    // [MQTT], after [Bus]: readings to a broker.
    MqttSettings MQTT;
    // [OwServer], after [MQTT]: the sensors served over the owserver protocol.
    OwServerSettings OwServer;

    bool operator==(const KalvexConfig &) const = default;
};

// Bounds beyond which a hand-edited file would make the program unusable (millions of
// sensors or chart points exhaust memory at start-up); the dialogs never produce them.
inline constexpr int MaxItemCount = 1000;
inline constexpr int MaxCharMaxCount = 1000000;
// Sensors whose keys the file holds are loaded up to this many (start-up stays within seconds);
// a file holding more is reported as partly loaded, so that the save keeps it.
inline constexpr int MaxStoredItems = MaxItemCount;
// Chart points of all lines together (each line is pre-filled with CharMaxCount points).
inline constexpr qint64 MaxChartPoints = 2000000;
// Texts of the file (names, serial numbers, paths) are held to this many characters. Far
// beyond what a panel label, a tray tip or a page cell shows, and beyond the paths people use;
// at this length MaxStoredItems sensors with all their texts stay near 20 MB, and a name
// costs a /metrics line about a kilobyte, where one of ten megabytes took seconds to start
// and hundreds of megabytes.
inline constexpr int MaxTextLength = 1000;

// Returns an index 0 .. bound - 1; used for the random chart colour of a sensor without one.
using RandomIndex = std::function<int(int bound)>;

// The configuration an IniFile holds, with every default and adjustment of loading:
// missing or unreadable keys give their defaults; SnsHeight/SHourHeight <= 0 give 200;
// LogHeight/P3Width below 0 give 0; TimeOut <= 0 gives 10000 (a timer of 0 would spin);
// CharMaxCount is held to 0 .. MaxCharMaxCount; with fixed bounds, CharMinY > CharMaxY gives
// CharMinY = CharMaxY - 10; "ItemCount" <= 0 gives no sensor, larger than the stored sensors
// gives default sensors for the missing ones, and is held to MaxItemCount; a sensor k with
// any key of its own in the file is loaded whatever "ItemCount" says (up to MaxStoredItems),
// after those counted, and a number beyond "ItemCount" without keys gets no sensor; the
// chart points of all lines together are held to MaxChartPoints. `random` picks the default
// chart colour once per sensor (StandardColors[random(16)]); empty = the global generator.
// Numbers are read with either decimal separator (IniFile::readFloat); a value that is no
// number of its type gives the default, and texts are held to MaxTextLength.
// [Bus2] ... [Bus16] give MoreBuses up to the highest section present: a number without its
// section is a default bus, switched off; sections beyond MaxBuses are left out; a Kind not
// known is "serial" and listed as unreadable. "ItemBus" k that is no number or no bus of the
// file gives bus 1, listed in one text.
// holds: one text per bound that was applied, and one listing the keys with unreadable values
// and one the cut texts, for the log. partial: set when the file holds what this load did not
// take whole (sensors beyond MaxStoredItems, unreadable values, cut texts), so that the save
// keeps a copy of it.
KalvexConfig readConfig(const IniFile &ini, const RandomIndex &random = {}, QStringList *holds = nullptr,
                        bool *partial = nullptr);

// readConfig() of the file at path (a missing file gives every default and no sensor).
// problem: why an existing file could not be read (then every default applies).
KalvexConfig loadConfig(const QString &path, const RandomIndex &random = {}, QStringList *holds = nullptr,
                        QString *problem = nullptr, bool *partial = nullptr);

// The IniFile SaveIni writes: "General" with its 17 keys, then "Items" with every sensor's
// keys (numbered from 0 in the order of config.Items) and "ItemCount" last, then "Bus" only
// when a key of it differs from its default (so a file stays as it was without the setting),
// then "Bus2" ... "Bus16" for MoreBuses ("Kind" always, every other key only when it is not
// its default), then "MQTT" and "OwServer" the same way. "ItemBus" k only for a bus other
// than 1, "[Bus] Name" only when given.
IniFile configIni(const KalvexConfig &config);

// The buses of the configuration, bus 1 first: bus 1 from COMPort, BusKind, KernelPath,
// BulkConvert, OwServerBus and BusName (always active), then MoreBuses.
std::vector<BusConfig> busList(const KalvexConfig &config);
// The inverse: bus 1's fields back into the legacy ones (its Active is not kept: bus 1 is
// always active), the rest into MoreBuses. An empty list changes bus 1 not and drops the rest.
void setBusList(KalvexConfig &config, const std::vector<BusConfig> &buses);

// Writes configIni(config) to path atomically. False on any failure, leaving the previous
// file as it was. With an MQTT password the file is readable by its owner only.
bool writeConfig(const QString &path, const KalvexConfig &config);
