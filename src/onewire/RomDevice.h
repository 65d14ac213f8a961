#pragma once

#include "onewire/OneWireDevice.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The ROM layer every 1-Wire slave shares: Read ROM 0x33, Match ROM 0x55, Skip ROM 0xCC and
// Search ROM 0xF0 after a reset; a selected device hands the next byte to functionCommand().
// An unplugged device answers nothing and forgets where it was.
class RomDevice : public OneWireDevice
{
public:
    using RomCode = std::array<std::uint8_t, 8>;

    explicit RomDevice(const RomCode &rom);

    bool reset() override;
    int driveBit() override;
    void slotDone(int busBit) override;
    QString serialText() const override;

    const RomCode &romCode() const { return m_rom; }
    std::uint8_t family() const { return m_rom[0]; }

    bool plugged() const { return m_plugged; }
    // Unplugging drops the device off the bus at once; plugging it back is a power-up.
    void setPlugged(bool plugged);

    // A ROM code from a family and six serial bytes, with its CRC byte.
    static RomCode makeRomCode(std::uint8_t family, const std::array<std::uint8_t, 6> &serial);
    // The 8 bytes of a 16-hex-digit text (no CRC check), or nothing.
    static std::optional<RomCode> parseRomText(const QString &text);
    static bool romCrcValid(const RomCode &rom);

protected:
    // A function command byte after the device was selected.
    virtual void functionCommand(std::uint8_t command) = 0;
    // Data bytes a function command receives (after receive() asked for them).
    virtual void functionData(const std::vector<std::uint8_t> &data) { (void)data; }
    // Called when plugged back: the device powers up again.
    virtual void powerUp() {}

    // What a function command does next: send bytes LSB first, receive some, or go idle.
    void transmit(std::vector<std::uint8_t> bytes);
    void receive(int byteCount);
    void goIdle();

private:
    enum class Phase { Idle, RomCommand, ReadRom, MatchRom, Search, Function, Transmit, Receive };

    void receivedBit(int bit);

    RomCode m_rom;
    bool m_plugged = true;
    Phase m_phase = Phase::Idle;
    int m_bitIndex = 0;        // bit within the current transfer
    int m_searchStep = 0;      // 0: send bit, 1: send complement, 2: read direction
    std::uint8_t m_byte = 0;   // byte being received
    std::vector<std::uint8_t> m_transfer; // bytes to send or received so far
    int m_receiveCount = 0;
};
