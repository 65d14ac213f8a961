#pragma once

#include "onewire/SensorDiagnosis.h"
#include "onewire/SensorReader.h"
#include "onewire/TemperatureReader.h"

#include <QCoroTask>
#include <QString>

// A bus that another driver works (the kernel's 1-Wire driver, an owserver): the program
// asks it for devices and temperatures instead of driving the line's slots itself. The main
// window opens, searches and reads it the same way whichever kind it is.
class DriverBus : public SensorReader
{
public:
    // Observation on and off, as the serial port is opened and closed: while closed, every
    // reading is no reading and a conversion finds no bus.
    virtual void open() = 0;
    virtual void close() = 0;
    // A closing program: waits under way end now and what they bring is no reading.
    virtual void abort() = 0;
    // Why the bus cannot be used at all (what a box or the log says), empty when it can.
    virtual QString driverProblem() const = 0;

    // The enumeration: clearState() starts it, each FindDS() gives the next device's serial
    // (16 hex digits, CRC last), empty at the end.
    virtual void clearState() = 0;
    virtual QCoro::Task<QString> FindDS() = 0;
    // The Read ROM of a lone device: its 8 bytes as "XX " each; the empty text for none.
    virtual QCoro::Task<QString> GetSNForOne() = 0;
    // What its own log lines start with ("Шина 1"); empty: nothing (the lines of one of
    // several buses are named by the program).
    virtual void setName(const QString &name) { static_cast<void>(name); }
    // Before a search: why the bus cannot be searched, empty when it can.
    virtual QCoro::Task<QString> openForSearch();
    // "Сведения…": what the driver tells of one sensor (its family, power and temperature);
    // the genuineness checks need the line's own slots, which a driver does not give.
    virtual QCoro::Task<SensorReport> describe(QString sn);

protected:
    // A report of what the serial itself tells (family, ROM CRC), no answer yet; nothing
    // more to ask when the serial is malformed.
    static SensorReport reportOf(const QString &sn, bool *wellFormed);
    // What a Read ROM gives with these devices on the line (several answer at once: the AND
    // of their codes), as GetSNForOne writes it.
    static QString readRomText(const QStringList &serials)
    {
        std::array<std::uint8_t, 8> wired;
        wired.fill(0xFF);
        for (const QString &serial : serials) {
            const auto rom = TemperatureReader::romBytes(serial);
            for (std::size_t i = 0; i < wired.size(); ++i)
                wired[i] &= (*rom)[i];
        }
        QString text;
        for (const std::uint8_t byte : wired)
            text += QStringLiteral("%1 ").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        return text;
    }
};
