#pragma once

#include <cstdint>
#include <vector>

// The slots of one bus transaction that needs no decision from its own echoes, in bus order:
// OneWireLink::run() sends all their characters in one write and reads the echoes back
// together, so a USB serial adapter's latency is paid once, not once per byte or bit. Every
// result and log line equals what the same steps give one by one; where the echoes stop,
// the step they stop in and every later one get what a step without echo gets (a byte read
// 0xFF, a bit read 1).
class OneWireTransaction
{
public:
    // A byte written least significant bit first.
    void writeByte(std::uint8_t byte);
    // A byte written, after which a line driver that can holds the bus at full strength
    // until OneWireLink::releasePower() (a conversion of a device powered from the line);
    // a bare line writes it as any byte.
    void writeBytePowered(std::uint8_t byte);
    // A byte read least significant bit first; its value lands in bytesRead().
    void readByte();
    // A bit written; a value other than 0 or 1 is logged when it goes out and written as 0.
    void writeBit(int bit);
    // A bit read; its value lands in bitsRead().
    void readBit();

    bool empty() const { return m_steps.empty(); }
    // Forgets the steps and the results: the object can take the next transaction.
    void clear();
    int slotCount() const;

    // The values of the read steps of the last run, in the order they were added.
    const std::vector<std::uint8_t> &bytesRead() const { return m_bytesRead; }
    const std::vector<int> &bitsRead() const { return m_bitsRead; }

private:
    friend class OneWireLink;
    friend class Ds2480bLink;

    enum class Kind : std::uint8_t { WriteByte, ReadByte, WriteBit, ReadBit, WriteBytePowered };
    static int slotsOf(Kind kind) { return kind == Kind::WriteBit || kind == Kind::ReadBit ? 1 : 8; }
    struct Step
    {
        Kind kind;
        int value; // the byte or bit written
    };

    std::vector<Step> m_steps;
    std::vector<std::uint8_t> m_bytesRead;
    std::vector<int> m_bitsRead;
};
