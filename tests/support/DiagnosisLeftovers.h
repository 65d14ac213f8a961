#pragma once

// What a diagnosis killed midway leaves in a sensor: its test TH/TL and the 9-bit
// configuration in RAM (the EEPROM untouched), written the way the diagnosis writes them.

#include "base/Clock.h"
#include "onewire/OneWireCommands.h"
#include "onewire/OneWireLink.h"
#include "onewire/OneWireTransaction.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "support/RecordingLog.h"
#include "support/RunTask.h"

#include <cstdint>

// False when the sensor did not answer. The bus is closed again afterwards.
inline bool leaveDiagnosisValues(VirtualBus &bus, const Clock &clock, const QString &serial)
{
    const auto rom = TemperatureReader::romBytes(serial);
    if (!rom || !bus.OpenCOM(QStringLiteral("COM1")))
        return false;
    RecordingLog log;
    OneWireLink link(bus, log, clock);
    OneWireTransaction write;
    write.writeByte(OneWireCommands::MatchRom);
    for (const std::uint8_t byte : *rom)
        write.writeByte(byte);
    for (const std::uint8_t byte : {OneWireCommands::WriteScratchpad, std::uint8_t(0x4B), std::uint8_t(0x46), std::uint8_t(0x1F)})
        write.writeByte(byte);
    const bool present = runTask(link.ResetT());
    if (present)
        runTask(link.run(write));
    bus.CloseCOM();
    return present;
}
