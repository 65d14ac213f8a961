#pragma once

#include "onewire/HouseBus.h"
#include "onewire/TemperatureReader.h"

#include <memory>

class Clock;
class OneWireLink;
class RomSearch;
class SerialPort;

// A bus the program drives itself through a serial port: a passive adapter ("serial") or a
// DS2480B line driver ("ds2480b") on the port "COM" + COMPort. Observation holds the port
// open; a port that goes away is logged once, closed and opened again at each part of the
// cycle until it is back.
class SerialHouseBus final : public HouseBus
{
public:
    // `port` is the bus's own (owned) or borrowed from the window (the first bus keeps the
    // port it was created with across changes of kind); it must outlive the bus.
    SerialHouseBus(int number, BusConfig config, Log &log, const Clock &clock, SerialPort &port,
                   std::unique_ptr<SerialPort> ownPort = {});
    ~SerialHouseBus() override;

    QString portName() const;
    SerialPort &port() const { return m_port; }
    OneWireLink &link() const { return *m_link; }
    RomSearch &romSearch() const { return *m_search; }
    TemperatureReader &temperatureReader() const { return *m_reader; }
    void setAbortCheck(std::function<bool()> check);
    void setScratchpadObserver(TemperatureReader::ScratchpadObserver observer);

    QString openObservation() override;
    void closeObservation() override;
    SensorReader *reader() override;
    bool lost() override;
    void reopen() override;
    int portState() const override;
    QCoro::Task<QString> openForSearch() override;
    void endSearch() override;
    void clearState() override;
    QCoro::Task<QString> FindDS() override;
    QCoro::Task<std::optional<QString>> readSingle() override;
    QCoro::Task<Description> describe(QString serial) override;
    void abort() override;

protected:
    // The port's number may have changed: a line driver names its port in its log lines.
    void configChanged() override;

private:
    void setLost(const QString &reason);

    std::unique_ptr<SerialPort> m_ownPort;
    SerialPort &m_port;
    std::unique_ptr<OneWireLink> m_link;
    std::unique_ptr<RomSearch> m_search;
    std::unique_ptr<TemperatureReader> m_reader;
    bool m_lost = false;
};
