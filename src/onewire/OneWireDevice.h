#pragma once

#include <QString>
#include <QtGlobal>

// A device on a modelled 1-Wire bus. The bus asks every device what it drives in a slot,
// wires the answers together (AND: any device pulling low makes a 0) and tells every device
// the level the slot ended with, so a device reads a master's write and a search sees the
// other devices.
class OneWireDevice
{
public:
    virtual ~OneWireDevice() = default;

    // A reset pulse; true when the device answers with its presence pulse.
    virtual bool reset() = 0;
    // The level the device leaves the line at in the next slot if the master releases it:
    // 0 pulls low, 1 releases.
    virtual int driveBit() = 0;
    // The level the slot ended with (the master's write-0 or the wired-AND of the drives).
    virtual void slotDone(int busBit) = 0;
    // Serial number text of the device (16 upper-case hex digits), empty if it has none.
    virtual QString serialText() const { return QString(); }
    // The bus's time in milliseconds on a steady counter, given before every batch of slots:
    // what takes time on a device (a conversion) runs on it.
    virtual void setBusTime(qint64 ms) { (void)ms; }
};
