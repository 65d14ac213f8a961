#pragma once

#include "onewire/SerialPort.h"
#include "onewire/WakeSignal.h"

#include <QSet>

#include <sys/types.h>
#include <termios.h>

// "COMn" for n in 1..999: the file or link COMn in programDir, else /dev/ttyS(n-1); any other
// "COM..." name resolves to nothing (empty); other names are paths as they stand. A port
// remembers the names that were links when it opened them: gone, they stay in programDir.
QString resolvePortName(const QString &name, const QString &programDir);

// A real serial line through termios. Exclusive: TIOCEXCL plus flock(LOCK_EX|LOCK_NB) on the
// device, so a second opener fails whatever path it came through (root passes TIOCEXCL only).
// A port someone else holds in exclusive mode is never taken, not even by root, and closing
// clears only the mode this port set.
// Read time-outs follow the Windows model: the total time-out bounds the whole read, the
// interval time-out the gap between two characters once one has arrived. A USB serial adapter
// runs in low-latency mode while the port is open (where the driver allows it).
class PosixSerialPort : public SerialPort
{
public:
    // programDir ends with '/'.
    explicit PosixSerialPort(const QString &programDir);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort &) = delete;
    PosixSerialPort &operator=(const PosixSerialPort &) = delete;

    bool OpenCOM(const QString &name) override;
    void CloseCOM() override;
    bool isOpen() const override { return m_fd >= 0; }
    bool PurgeCOM() override;
    bool SetModCOM(int baud, int dataBits, int parity, int stopBits, bool dtrOn, bool rtsOn) override;
    bool TxByteCOM(std::uint8_t byte) override;
    bool TxDataCOM(const std::uint8_t *data, int count) override;
    bool RxDataCOM(std::uint8_t *buffer, int count, int &read) override;
    bool readAvailable(std::uint8_t *buffer, int count, int &read) override;
    int readableDescriptor() const override { return m_fd; }
    WakeSignal *closingSignal() override { return &m_closing; }
    int readTimeoutMs() const override { return m_readTotalMs; }
    QString lostReason() const override;
    bool SetComPortTimeouts() override;
    QString lastError() const override { return m_lastError; }
    SerialCounters counters() const override { return m_counters; }
    void resetCounters() override { m_counters = {}; }

    // The path the last OpenCOM tried.
    QString devicePath() const { return m_path; }

private:
    void setError(int error, const QString &path);
    // A read or write failed in a way that says the device is gone.
    void noteLoss(int error);
    void setLowLatency(bool on);

    QString m_programDir;
    QString m_path;
    QString m_lastError;
    int m_fd = -1;
    // The device the port was opened on, to notice another one under the same name.
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QString m_lost;
    bool m_lowLatencySet = false; // by this port, so closing clears it again
    bool m_exclusiveSet = false;  // the same for TIOCEXCL
    // "COMn" names that resolved to the program folder's link at some opening.
    QSet<QString> m_linkedNames;
    termios m_settings {};
    int m_readIntervalMs = 1000;
    int m_readTotalMs = 1000;
    int m_writeTotalMs = 1000;
    SerialCounters m_counters;
    WakeSignal m_closing;
};
