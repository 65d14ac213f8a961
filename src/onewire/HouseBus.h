#pragma once

#include "base/Log.h"
#include "onewire/BusTurn.h"
#include "onewire/SensorDiagnosis.h"
#include "sensors/BusConfig.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

class SensorReader;

// One bus of the house, whatever drives it: the serial line's own slots (passive adapter or
// DS2480B), the kernel's 1-Wire driver or an owserver. Observation opens it, the cycle reads
// it, the search enumerates it, the single-device read and "Сведения…" ask it; each bus has
// its own turn, so buses work at the same time and none waits for another.
class HouseBus
{
public:
    HouseBus(int number, BusConfig config, Log &log);
    virtual ~HouseBus() = default;
    HouseBus(const HouseBus &) = delete;
    HouseBus &operator=(const HouseBus &) = delete;

    int number() const { return m_number; }
    const BusConfig &config() const { return m_config; }
    // Name, whole-bus conversion and the active flag change without reopening anything.
    void setConfig(const BusConfig &config)
    {
        m_config = config;
        configChanged();
    }
    QString name() const { return busName(m_config, m_number); }
    // Whether the program has several buses: then every line this bus logs starts with its
    // name ("Шина «Котельная»: порт COM3 потерян: …").
    void setNamed(bool named)
    {
        m_named = named;
        namedChanged();
    }
    bool named() const { return m_named; }
    // A sentence as this bus says it: as it stands with one bus, after the bus's name with
    // several (its first letter in lower case).
    QString say(const QString &sentence) const;
    // The program's log, with this bus's lines named (what the bus's parts log through).
    Log &log() { return m_namedLog; }
    BusTurn &turn() { return m_turn; }

    // Observation on: the port, folder or connection opened for the cycle. Empty when it
    // opened, else the log line that says why not.
    virtual QString openObservation() = 0;
    virtual void closeObservation() = 0;
    // What the cycle reads through; null while the bus has nothing to read with.
    virtual SensorReader *reader() = 0;
    // Asked before every reading: true while the port is lost (the loss logged once).
    virtual bool lost() { return false; }
    // At the start of each of its parts of a cycle: a lost port opened again where it can.
    virtual void reopen() {}
    // For /metrics: 1 open, 0 lost, -1 closed or nothing to open.
    virtual int portState() const { return -1; }

    // The search: why the bus cannot be searched (the text of the box), empty once it is
    // open for it; endSearch() gives it back.
    virtual QCoro::Task<QString> openForSearch() = 0;
    virtual void endSearch() {}
    virtual void clearState() = 0;
    virtual QCoro::Task<QString> FindDS() = 0;
    // The Read ROM of a lone device ("XX " per byte); opens and closes the bus itself. Empty
    // optional when the bus could not be opened.
    virtual QCoro::Task<std::optional<QString>> readSingle() = 0;
    // "Сведения…": what the bus can tell of one sensor; the failure text when it cannot.
    struct Description
    {
        std::optional<SensorReport> report;
        QString failure;
        // The report comes from the program's own diagnosis (it updates the verdicts).
        bool diagnosed = false;
    };
    virtual QCoro::Task<Description> describe(QString serial) = 0;
    // A closing program: every wait under way ends now.
    virtual void abort() = 0;

    // Called with the reason when the port is lost and with an empty text when it is back.
    std::function<void(const QString &reason)> portStateChanged;
    // The check mark of observation (a search gives the port back to it).
    std::function<bool()> observationOn;

    // What the cycle keeps of this bus between its parts.
    enum class Power { Unknown, External, Parasite };
    struct CycleState
    {
        Power power = Power::Unknown;
        // Opened and not yet recalled from EEPROM.
        bool recallDue = true;
        bool parasiteLogged = false;
        // A part of a cycle runs on the bus now.
        bool partRunning = false;
        // Milliseconds its last part took; -1 before the first.
        qint64 lastPartMs = -1;
    } cycle;
    // The devices may have changed (opened again, searched): the next part asks anew.
    void busChanged()
    {
        cycle.power = Power::Unknown;
        cycle.recallDue = true;
    }

protected:
    // The bus's lines are named or not from now on; its settings changed (not its kind).
    virtual void namedChanged() {}
    virtual void configChanged() {}

private:
    class NamedLog final : public Log
    {
    public:
        NamedLog(const HouseBus &bus, Log &log) : m_bus(bus), m_log(log) {}
        void AddLog(const QString &message) override { m_log.AddLog(m_bus.say(message)); }
        void addRawLine(const QString &line) override { m_log.addRawLine(line); }
        void addLogFor(const QString &message, const QString &serviceText) override
        {
            m_log.addLogFor(m_bus.say(message), m_bus.say(serviceText));
        }

    private:
        const HouseBus &m_bus;
        Log &m_log;
    };

    int m_number;
    BusConfig m_config;
    bool m_named = false;
    NamedLog m_namedLog;
    BusTurn m_turn;
};
