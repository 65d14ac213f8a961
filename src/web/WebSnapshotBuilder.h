#pragma once

#include "web/WebSnapshot.h"

#include <QString>

#include <memory>
#include <vector>

class StringGrid;

// The window thread's side of the snapshot: plain values in, an immutable snapshot out.
namespace websnapshot {

// One sensor slot as the window shows it.
struct SlotValues
{
    QString SN;
    bool Enable = false;
    int left = 0;
    int top = 0;
    QString caption;      // the temperature label's caption
    double LastTime = 0;  // date-time double
    // For /metrics.
    bool inUse = false;
    QString name{};
    double lastReading = 0;
    double lastReadingTime = 0;  // date-time double; 0 = no valid reading yet
    quint64 failures = 0;
    // The device's family, power and verdict (diagnosis or running); empty while unknown.
    QString family{};
    QString power{};
    QString verdict{};
    // The sensor's bus name (empty while the program has one bus) and number.
    QString bus{};
    int busNumber = 1;
};

// The snapshot of `items` (slot index order), the hourly grid's rows and columns 0 to 24, and
// the background file named by bkFileName (a name with a folder separator stands alone,
// a bare name lives in ProgramDir). Date-times become the locale's text here; the texts of
// `previous` are reused where a slot's LastTime has not changed. cycleSeconds: the last whole
// cycle's duration, negative before the first; portOpen, storeErrors, the MQTT figures and the
// owserver side's counters as the snapshot's. buses: each bus's state while the program has
// more than one (empty with one bus: the figures above stand for it).
std::shared_ptr<const WebSnapshot> make(const std::vector<SlotValues> &items, const StringGrid &SHour,
                                        const QString &bkFileName, const QString &ProgramDir,
                                        const WebSnapshot *previous = nullptr, double cycleSeconds = -1,
                                        int portOpen = -1, qint64 storeErrors = -1, int mqttConnected = -1,
                                        quint64 mqttMessages = 0,
                                        std::shared_ptr<const RequestTally> owserver = {},
                                        std::vector<WebSnapshot::Bus> buses = {});

// The file-name part of a name whose folders end in "\" or "/".
QString fileNamePart(const QString &name);

} // namespace websnapshot
