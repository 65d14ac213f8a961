#pragma once

#include "onewire/OneWireLink.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The 1-Wire bus behind a DS2480B line driver (DS9097U, LinkUSB and their copies): the chip
// times the slots, shapes the edges for long cables, holds a strong pull-up for devices
// powered from the data line and runs a whole search pass by itself. The host talks to it
// at 9600 baud in command mode (resets, single bits, settings) and data mode (each byte
// eight slots; a data byte 0xE3 goes out twice, the single 0xE3 being the way back to
// command mode). Every exchange leaves the chip in command mode.
//
// The chip is detected before the first exchange (master reset, calibration, the
// long-line settings written and read back) and again whenever it stays silent or answers
// what it cannot have meant: one exchange is then tried once more on the freshly reset chip.
// A chip that does not come back is logged once; every operation then reads as unanswered,
// as on a silent bare line.
class Ds2480bLink final : public OneWireLink
{
public:
    Ds2480bLink(SerialPort &port, Log &log, const Clock &clock);

    // The name the log gives the bus (its port).
    void setBusName(const QString &name) { m_busName = name; }

    QCoro::Task<bool> ResetT() override;
    // A powered byte must be the transaction's last step; its pull-up lasts until
    // releasePower() and the next exchange (whose first character ends it).
    QCoro::Task<> run(OneWireTransaction &transaction) override;
    bool powersParasite() const override { return true; }
    QCoro::Task<> releasePower() override;
    bool searchesItself() const override { return true; }
    QCoro::Task<std::optional<SearchPass>> searchPass(std::array<std::uint8_t, 8> route) override;

    enum class Line { Presence, NoPresence, Shorted, Silent };
    // What the last reset found.
    Line lastLine() const { return m_lastLine; }
    // Master reset, calibration, the settings written and read back: true when a DS2480B
    // answered all of it. Done by itself before the first exchange.
    QCoro::Task<bool> detect();
    // The chip revision its reset answers carry (0 before the first).
    int revision() const { return m_revision; }

    // Settings for a long line, in the order they are written: pull-down slew rate
    // 1.37 V/µs, write-1 low time 10 µs, sample offset 8 µs, strong pull-up until ended.
    static constexpr std::uint8_t Settings[] = { 0x17, 0x45, 0x5B, 0x3F };
    // What the host allows the chip beyond the bytes' own time on the line, when the port's
    // read time-out is shorter.
    static constexpr int AnswerMarginMs = 100;

private:
    using Check = std::function<bool(const std::vector<std::uint8_t> &)>;
    // Sends out and reads expected answers. Missing or rejected answers: the chip is
    // detected anew and the exchange sent once more (behind a bus reset when resetFirst, so
    // the devices start from a known state). Nothing when it stays unanswered.
    QCoro::Task<std::optional<std::vector<std::uint8_t>>> exchange(std::vector<std::uint8_t> out, int expected, Check check,
                                                                    bool resetFirst);
    // One write and its answers, no retry; how many came within the deadline.
    QCoro::Task<int> send(const std::vector<std::uint8_t> &out, std::uint8_t *answers, int expected);
    QCoro::Task<int> readAnswers(std::uint8_t *buffer, int count, quint32 deadline);
    // The reset answer's line state, logging a short circuit once.
    Line noteReset(std::optional<std::uint8_t> answer);
    void noteSilent(bool silent);

    QString m_busName;
    bool m_ready = false;
    bool m_powerHeld = false;
    bool m_releaseDue = false;
    bool m_shortLogged = false;
    bool m_silentLogged = false;
    Line m_lastLine = Line::NoPresence;
    int m_revision = 0;
};
