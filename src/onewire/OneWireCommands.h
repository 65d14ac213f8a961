#pragma once

#include <cstdint>

// The command bytes of the 1-Wire bus and of the DS18x20 thermometers, in one place for the
// master's side (reader, diagnosis, ROM device) and the simulated sensor's.
namespace OneWireCommands {

// ROM commands.
constexpr std::uint8_t ReadRom = 0x33;
constexpr std::uint8_t SearchRom = 0xF0;
constexpr std::uint8_t MatchRom = 0x55;
constexpr std::uint8_t SkipRom = 0xCC;

// Function commands of a DS18x20.
constexpr std::uint8_t ConvertT = 0x44;
constexpr std::uint8_t WriteScratchpad = 0x4E;
constexpr std::uint8_t ReadScratchpad = 0xBE;
// Writes EEPROM: the simulated sensor counts it; the program never sends it.
constexpr std::uint8_t CopyScratchpad = 0x48;
constexpr std::uint8_t RecallEeprom = 0xB8;
constexpr std::uint8_t ReadPowerSupply = 0xB4;

} // namespace OneWireCommands
