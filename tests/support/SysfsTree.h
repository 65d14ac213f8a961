#pragma once

// A folder laid out as the kernel's /sys/bus/w1/devices, in a temporary directory: bus
// masters with their w1_master_slaves and therm_bulk_read, devices with their w1_slave, in
// the kernel's exact formats. The files are plain files the test rewrites at will.

#include "onewire/KernelBus.h"
#include "onewire/TemperatureReader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <cmath>
#include <cstdint>

class SysfsTree
{
public:
    SysfsTree() : m_root(m_dir.path() + QStringLiteral("/devices")) { QDir().mkpath(m_root); }

    QString path() const { return m_root; }
    QString masterDir(int master) const { return m_root + QStringLiteral("/w1_bus_master%1").arg(master); }
    QString bulkFile(int master) const { return masterDir(master) + QStringLiteral("/therm_bulk_read"); }
    QString deviceDir(const QString &serial) const { return m_root + QLatin1Char('/') + KernelBus::nameOfSerial(serial); }
    QString w1Slave(const QString &serial) const { return deviceDir(serial) + QStringLiteral("/w1_slave"); }

    // A bus master; bulk: with therm_bulk_read (a kernel of 5.10 on), reading bulkState.
    void addMaster(int master, bool bulk = true, const QByteArray &bulkState = "0\n")
    {
        QDir().mkpath(masterDir(master));
        m_slaves[master];
        writeSlaves(master);
        if (bulk)
            write(bulkFile(master), bulkState);
    }
    // A device on a master, listed in its w1_master_slaves, with its folder and w1_slave.
    void addDevice(int master, const QString &serial, const QByteArray &w1SlaveText = {})
    {
        m_slaves[master] << KernelBus::nameOfSerial(serial);
        writeSlaves(master);
        QDir().mkpath(deviceDir(serial));
        write(w1Slave(serial), w1SlaveText);
    }
    // The kernel dropped it: gone from the list and from the folder.
    void removeDevice(int master, const QString &serial)
    {
        m_slaves[master].removeAll(KernelBus::nameOfSerial(serial));
        writeSlaves(master);
        QDir(deviceDir(serial)).removeRecursively();
    }
    void setReading(const QString &serial, const QByteArray &w1SlaveText) { write(w1Slave(serial), w1SlaveText); }

    // What w1_slave of w1_therm shows for a scratchpad: the bytes and the kernel's CRC
    // verdict, then the bytes it last found good and the temperature in thousandths.
    static QByteArray w1SlaveText(const std::array<std::uint8_t, 9> &scratchpad, bool ds18b20, bool crcOk = true)
    {
        QByteArray bytes;
        for (const std::uint8_t b : scratchpad)
            bytes += QByteArray::number(b, 16).rightJustified(2, '0') + ' ';
        const double t = TemperatureReader::decode(scratchpad, ds18b20);
        const QByteArray first = bytes + ": crc=" + QByteArray::number(scratchpad[8], 16).rightJustified(2, '0')
            + (crcOk ? " YES\n" : " NO\n");
        return first + bytes + "t=" + QByteArray::number(static_cast<int>(std::lround(t * 1000))) + '\n';
    }

    static void write(const QString &file, const QByteArray &text)
    {
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }
    static QByteArray read(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    void writeSlaves(int master)
    {
        const QStringList &names = m_slaves[master];
        write(masterDir(master) + QStringLiteral("/w1_master_slaves"),
              names.isEmpty() ? QByteArray("not found.\n") : (names.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1());
    }

    QTemporaryDir m_dir;
    QString m_root;
    QMap<int, QStringList> m_slaves;
};
