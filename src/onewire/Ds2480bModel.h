#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include <QtGlobal>

class VirtualBus;

// A DS2480B line driver in front of a modelled bus: what the chip answers to the characters
// a host sends (command mode and data mode, E3 doubling, resets with presence, none or a
// short, single bits with the strong pull-up, the search accelerator, the settings). The
// devices and the clock are the VirtualBus's; its own passive-line model is not used.
//
// At start and after a master reset (a character slower than the chip's rate: a 0 where the
// stop bit belongs) the chip waits for the calibration reset, which it does not answer. A
// device powered from the data line that starts a conversion without the strong pull-up
// after it, or still converts when the pull-up ends, browns out (VirtualSensor::losePower).
// Safe from several threads (the simulator's, a test's).
class Ds2480bModel
{
public:
    explicit Ds2480bModel(VirtualBus &bus);

    // The chip's answers to characters that arrived at a speed.
    std::vector<std::uint8_t> exchange(const std::uint8_t *data, int count, int baud);

    // A shorted bus: resets answer so, every slot reads 0 and devices see nothing.
    void setShorted(bool shorted) { m_shorted = shorted; }
    // An adapter that takes nothing in (unplugged, dead). Coming back it powers up anew and
    // waits for its calibration, as a port-powered adapter plugged in again.
    void setSilent(bool silent);
    // Revision in the reset answers' bits 4..2.
    static constexpr int Revision = 3;

    struct Counters
    {
        std::uint64_t resets = 0;
        std::uint64_t slotCount = 0;
        std::uint64_t masterResets = 0;
        std::uint64_t pullUps = 0;
        std::uint64_t brownOuts = 0;
    };
    Counters counters() const;
    // Whether the chip has had its calibration since power-up or the last master reset.
    bool calibrated() const;
    // The value code of setting 1..7 (1 slew rate, 3 strong pull-up, 4 write-1 low time,
    // 5 sample offset, 7 baud rate).
    int setting(int parameter) const;

private:
    enum class State { AwaitCalibration, Command, Data, Check };

    void masterReset();
    void command(std::uint8_t byte, std::vector<std::uint8_t> &out);
    void dataByte(std::uint8_t byte, std::vector<std::uint8_t> &out);
    int slot(int bit);
    void endPullUp(std::vector<std::uint8_t> &out);
    // Parasite devices whose conversion began since conversionMark() and had no pull-up.
    void conversionMark();
    void brownOutUnpowered();
    int chipBaud() const;

    VirtualBus &m_bus;
    mutable std::mutex m_mutex;
    State m_state = State::AwaitCalibration;
    std::atomic<bool> m_shorted { false };
    std::atomic<bool> m_silent { false };
    std::atomic<bool> m_powerUpPending { false };
    bool m_accelerator = false;
    bool m_searchFailed = false;
    bool m_pullUp = false;
    std::vector<int> m_conversionsSeen;
    // Value codes of the settings 1..7 (index 0 unused).
    int m_settings[8] {};
    Counters m_counters;
};
