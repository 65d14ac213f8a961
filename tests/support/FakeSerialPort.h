#pragma once

#include "onewire/SerialPort.h"

#include <QStringList>

// A serial port that opens or refuses as the test says and records what was asked of it,
// also as lines of a journal the test may share with its other fakes ("open COM3",
// "timeouts", "close"). It carries no bus: sends succeed while open, reads return nothing.
class FakeSerialPort final : public SerialPort
{
public:
    bool OpenCOM(const QString &name) override
    {
        opened << name;
        note(QStringLiteral("open ") + name);
        m_open = openSucceeds;
        return m_open;
    }
    void CloseCOM() override
    {
        ++closeCalls;
        note(QStringLiteral("close"));
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    bool PurgeCOM() override { return m_open; }
    bool SetModCOM(int, int, int, int, bool, bool) override { return m_open; }
    bool TxByteCOM(std::uint8_t) override { return m_open; }
    bool TxDataCOM(const std::uint8_t *, int) override { return m_open; }
    bool RxDataCOM(std::uint8_t *, int, int &read) override
    {
        read = 0;
        return false;
    }
    bool SetComPortTimeouts() override
    {
        ++timeoutCalls;
        note(m_open ? QStringLiteral("timeouts") : QStringLiteral("timeouts on a closed port"));
        return true;
    }
    QString lastError() const override { return openError; }

    // What the next OpenCOM does, and the reason it gives when it fails.
    bool openSucceeds = true;
    QString openError;

    QStringList opened;
    int closeCalls = 0;
    int timeoutCalls = 0;
    QStringList *journal = nullptr;

private:
    void note(const QString &line)
    {
        if (journal)
            *journal << line;
    }

    bool m_open = false;
};
