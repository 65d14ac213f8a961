#pragma once

#include "onewire/DriverBus.h"
#include "onewire/HouseBus.h"

#include <memory>

// A bus another driver works (the kernel's 1-Wire driver, an owserver): observation opens
// and closes the driver's bus, the search and the reads ask the driver.
class DriverHouseBus final : public HouseBus
{
public:
    // `makeDriver` is given the bus's named log and makes the driver at its place.
    DriverHouseBus(int number, BusConfig config, Log &log,
                   const std::function<std::unique_ptr<DriverBus>(Log &)> &makeDriver);

    DriverBus &driver() const { return *m_driver; }

    QString openObservation() override;
    void closeObservation() override;
    SensorReader *reader() override { return m_driver.get(); }
    bool lost() override { return m_failed; }
    void reopen() override;
    int portState() const override { return m_failed ? 0 : (m_open ? 1 : -1); }
    QCoro::Task<QString> openForSearch() override;
    void clearState() override { m_driver->clearState(); }
    QCoro::Task<QString> FindDS() override { return m_driver->FindDS(); }
    QCoro::Task<std::optional<QString>> readSingle() override;
    QCoro::Task<Description> describe(QString serial) override;
    void abort() override { m_driver->abort(); }

protected:
    void namedChanged() override { m_driver->setName(named() ? QString() : name()); }

private:
    std::unique_ptr<DriverBus> m_driver;
    bool m_open = false;
    // Observation could not open it (one of several buses): tried again at each part.
    bool m_failed = false;
};
