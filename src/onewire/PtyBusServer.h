#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

class VirtualBus;

// Serves a VirtualBus on a pseudo-terminal: whatever a program writes to the slave side comes
// back as the bus's echo. The speed is taken from the terminal settings for every batch of
// characters read (a pty carries the baud rate the slave set but does not time by it).
// run() blocks until requestStop(), which is safe from another thread or a signal handler.
class PtyBusServer
{
public:
    explicit PtyBusServer(VirtualBus &bus);
    ~PtyBusServer();
    PtyBusServer(const PtyBusServer &) = delete;
    PtyBusServer &operator=(const PtyBusServer &) = delete;

    // Creates the pseudo-terminal; false with errorText() on failure.
    bool open();
    // The slave device path (/dev/pts/N).
    QString slavePath() const { return m_slavePath; }
    // Creates (or replaces) a symlink at linkPath pointing at the slave; removed on close.
    bool linkAs(const QString &linkPath);
    QString errorText() const { return m_error; }

    void run();
    void requestStop();
    void close();

    // Batches of characters read (the round trips the program made).
    std::uint64_t batches() const { return m_batches.load(); }
    // Holds every batch of echoes back this long, as a USB serial adapter does until its
    // latency timer runs out (16 ms by default on FTDI chips, 1 ms in low-latency mode).
    // Set before run().
    void setLatencyMs(int ms) { m_latencyMs = ms > 0 ? ms : 0; }
    // Something else in front of the bus's devices (a line driver chip) answers the
    // characters, given with the speed the slave set. Set before run().
    using Responder = std::function<std::vector<std::uint8_t>(const std::uint8_t *data, int count, int baud)>;
    void setResponder(Responder responder) { m_responder = std::move(responder); }

    // How often an exclusive mode whose holder is gone is looked for while the line is idle.
    static constexpr int ExclusiveCheckMs = 20;

private:
    // Clears TIOCEXCL of a client that ended without closing the port (killed).
    void dropOrphanedExclusiveMode();
    // The bus's echoes of characters read from the master, at the speed the slave set.
    std::vector<std::uint8_t> answer(const std::uint8_t *data, int count);

    VirtualBus &m_bus;
    int m_master = -1;
    int m_slaveKeeper = -1;
    int m_stopPipe[2] = { -1, -1 };
    QString m_slavePath;
    QString m_linkPath;
    QString m_error;
    std::atomic<std::uint64_t> m_batches { 0 };
    int m_latencyMs = 0;
    Responder m_responder;
};
