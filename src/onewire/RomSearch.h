#pragma once

#include <QCoroTask>
#include <QString>

#include <array>
#include <cstdint>

class OneWireLink;

// Enumerates the ROM codes on the bus one per FindDS call with the Search ROM tree walk,
// keeping its state between calls, and reads the code of a lone device with Read ROM.
class RomSearch
{
public:
    explicit RomSearch(OneWireLink &link);

    // The code text (16 upper-case hex digits, family first) of the next device, or empty
    // text when there is none more; a failed or finished pass leaves the state cleared.
    QCoro::Task<QString> FindDS();
    // The 8 bytes read after Read ROM, each as two upper-case hex digits and one space (the
    // text ends with a space); empty without presence. No CRC check: several devices give
    // the wired-AND of their codes.
    QCoro::Task<QString> GetSNForOne();
    // Starts a new enumeration.
    void clearState();

    // Devices come out of a bus in strictly rising search order, each once; a line that
    // answers otherwise (a code again, an earlier one) or past this many devices is no bus
    // of devices, and the pass fails: the enumeration ends instead of running forever.
    static constexpr int MaxDevices = 1000;

    // Code text of 8 ROM bytes in bus order.
    static QString codeText(const std::array<std::uint8_t, 8> &rom);

    int LastDiscrepancy = 0;
    bool LastDeviceFlag = false;
    std::array<std::uint8_t, 8> ROM_NO {};

private:
    // One pass run by a line driver that searches itself; true with ROM_NO and the
    // discrepancy state updated.
    QCoro::Task<bool> acceleratedPass();

    OneWireLink &m_link;
    int m_found = 0; // codes reported since the enumeration began
};
