#pragma once

#include <QString>

class Clock;
class Log;
class QObject;
class SensorSlots;
class VirtualBus;

// --demo: the virtual bus gets its sensors, the outside one with a bad cable; a configuration
// without sensors gets them too, on a house plan unless the user has a picture of his own.
namespace demosensors {

// `owner` keeps the timer of the outside sensor's faults; `plan` is the background picture's
// path.
void add(VirtualBus &bus, const Clock &clock, SensorSlots &sensorSlots, const QString &plan, Log &log, QObject &owner);

} // namespace demosensors
