#include "onewire/OneWireTransaction.h"

void OneWireTransaction::writeByte(std::uint8_t byte)
{
    m_steps.push_back({ Kind::WriteByte, byte });
}

void OneWireTransaction::writeBytePowered(std::uint8_t byte)
{
    m_steps.push_back({ Kind::WriteBytePowered, byte });
}

void OneWireTransaction::readByte()
{
    m_steps.push_back({ Kind::ReadByte, 0 });
}

void OneWireTransaction::writeBit(int bit)
{
    m_steps.push_back({ Kind::WriteBit, bit });
}

void OneWireTransaction::readBit()
{
    m_steps.push_back({ Kind::ReadBit, 0 });
}

void OneWireTransaction::clear()
{
    m_steps.clear();
    m_bytesRead.clear();
    m_bitsRead.clear();
}

int OneWireTransaction::slotCount() const
{
    int slots = 0;
    for (const Step &step : m_steps)
        slots += slotsOf(step.kind);
    return slots;
}
