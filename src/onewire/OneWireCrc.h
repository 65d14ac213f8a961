#pragma once

#include <cstddef>
#include <cstdint>

// The Dallas/Maxim 1-Wire CRC-8 (x^8 + x^5 + x^4 + 1, least significant bit first, start 0).
// A ROM code or a scratchpad followed by its own CRC byte leaves 0.
namespace OneWireCrc {

constexpr std::uint8_t update(std::uint8_t crc, std::uint8_t byte)
{
    for (int i = 0; i < 8; ++i) {
        if ((crc ^ byte) & 1)
            crc = static_cast<std::uint8_t>(((crc ^ 0x18) >> 1) | 0x80);
        else
            crc = static_cast<std::uint8_t>(crc >> 1);
        byte = static_cast<std::uint8_t>(byte >> 1);
    }
    return crc;
}

constexpr std::uint8_t of(const std::uint8_t *data, std::size_t count)
{
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
        crc = update(crc, data[i]);
    return crc;
}

} // namespace OneWireCrc
