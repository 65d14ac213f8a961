#include "onewire/Ds2480bLink.h"

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/BusWait.h"
#include "onewire/OneWireCommands.h"
#include "onewire/OneWireTransaction.h"
#include "onewire/SerialPort.h"

#include <algorithm>
#include <utility>

namespace {
constexpr int ChipBaud = 9600;
// A NULL at half the chip's rate puts a 0 where the chip expects the stop bit: a master reset.
constexpr int MasterResetBaud = 4800;
constexpr std::uint8_t MasterResetCharacter = 0x00;
// The first reset after a master reset only calibrates the chip's timing; no answer.
constexpr std::uint8_t CalibrationReset = 0xC1;
constexpr std::uint8_t Reset = 0xC5; // at flexible speed, as every command here
constexpr std::uint8_t DataMode = 0xE1;
constexpr std::uint8_t CommandMode = 0xE3;
constexpr std::uint8_t SingleBit = 0x85;
constexpr std::uint8_t SingleBitOne = 0x10;
constexpr std::uint8_t SingleBitPullUp = 0x02;
constexpr std::uint8_t SearchOn = 0xB5;
constexpr std::uint8_t SearchOff = 0xA5;
constexpr std::uint8_t PulseEnd = 0xF1;
constexpr std::uint8_t ReadBaudRate = 0x0F;
// Wait after the master reset and after the calibration byte (its time on the line and an
// adapter's latency timer: a chip that missed the master reset answers the calibration byte,
// and that answer must be gone before the settings are asked).
constexpr int MasterResetWaitMs = 10;
constexpr int CalibrationWaitMs = 40;
// The host's time per character at 9600 baud, rounded up, both ways together.
constexpr int MsPerCharacter = 2;

bool isResetAnswer(std::uint8_t answer)
{
    return (answer & 0xE0) == 0xC0;
}

// The parameter read of a setting (0 000 PPP 1) and its answer (0 000 VVV 0).
std::uint8_t readOf(std::uint8_t setting)
{
    return static_cast<std::uint8_t>(0x01 | ((setting >> 3) & 0x0E));
}

std::uint8_t valueOf(std::uint8_t setting)
{
    return static_cast<std::uint8_t>(setting & 0x0E);
}

void putData(std::vector<std::uint8_t> &out, std::uint8_t byte)
{
    out.push_back(byte);
    if (byte == CommandMode)
        out.push_back(byte); // a data byte E3 is sent twice, or it ends data mode
}
} // namespace

Ds2480bLink::Ds2480bLink(SerialPort &port, Log &log, const Clock &clock)
    : OneWireLink(port, log, clock)
{
}

QCoro::Task<int> Ds2480bLink::readAnswers(std::uint8_t *buffer, int count, quint32 deadline)
{
    int got = 0;
    while (got < count && !aborted()) {
        int read = 0;
        if (!port().readAvailable(buffer + got, count - got, read))
            break;
        if (read < 0 || read > count - got)
            read = 0;
        got += read;
        const int fd = port().readableDescriptor();
        if (got == count || fd < 0 || msUntil(deadline) == 0)
            break;
        co_await BusWait(std::max(msUntil(deadline), 1), fd, &stopped());
    }
    co_return got;
}

QCoro::Task<int> Ds2480bLink::send(const std::vector<std::uint8_t> &out, std::uint8_t *answers, int expected)
{
    if (aborted())
        co_return 0;
    // Input only: what the chip has not yet taken off the line would be lost with the output.
    port().PurgeCOM();
    // Never less than the port's own read time-out, as on the bare line: a busy machine that
    // is late to read must not pass for a silent chip.
    const int characters = static_cast<int>(out.size()) + expected;
    const int waitMs = std::max(port().readTimeoutMs(), AnswerMarginMs + characters * MsPerCharacter);
    const quint32 deadline = clock().tickCount() + static_cast<quint32>(waitMs);
    if (!port().TxDataCOM(out.data(), static_cast<int>(out.size())))
        co_return 0;
    if (expected == 0)
        co_return 0;
    co_return co_await readAnswers(answers, expected, deadline);
}

QCoro::Task<bool> Ds2480bLink::detect()
{
    m_ready = false;
    m_powerHeld = false;
    m_releaseDue = false;
    if (aborted())
        co_return false;
    port().SetModCOM(MasterResetBaud, 8, 0, 0, true, false);
    port().TxByteCOM(MasterResetCharacter);
    co_await Delay(MasterResetWaitMs);
    port().SetModCOM(ChipBaud, 8, 0, 0, true, false);
    port().TxByteCOM(CalibrationReset);
    co_await Delay(CalibrationWaitMs);
    // Written, then read back: a chip that echoes a setting but did not take it reads back
    // its old value; a bare line or anything else answers otherwise.
    std::vector<std::uint8_t> out(std::begin(Settings), std::end(Settings));
    std::vector<std::uint8_t> expected;
    for (const std::uint8_t setting : Settings)
        expected.push_back(static_cast<std::uint8_t>(setting & 0xFE));
    for (const std::uint8_t setting : Settings) {
        out.push_back(readOf(setting));
        expected.push_back(valueOf(setting));
    }
    out.push_back(ReadBaudRate);
    expected.push_back(0x00); // 9600 baud
    std::vector<std::uint8_t> answers(expected.size());
    const int got = co_await send(out, answers.data(), static_cast<int>(answers.size()));
    m_ready = got == static_cast<int>(answers.size()) && answers == expected;
    co_return m_ready;
}

void Ds2480bLink::noteSilent(bool silent)
{
    if (!silent) {
        m_silentLogged = false;
        return;
    }
    if (m_silentLogged || aborted())
        return;
    m_silentLogged = true;
    log().AddLog(QStringLiteral("Адаптер DS2480B на шине %1 не отвечает").arg(m_busName));
}

QCoro::Task<std::optional<std::vector<std::uint8_t>>> Ds2480bLink::exchange(std::vector<std::uint8_t> out, int expected,
                                                                             Check check, bool resetFirst)
{
    for (int attempt = 0; attempt < 2 && !aborted(); ++attempt) {
        // A chip that does not answer its detection is not asked again within the same
        // exchange: a gone adapter costs one read time-out an operation, as a bare line.
        if (!m_ready && !co_await detect())
            break;
        // The pull-up a conversion was left under ends with this write's first character,
        // before anything the devices would see (a master reset on the way ends it too).
        const bool release = std::exchange(m_releaseDue, false) && m_ready;
        const bool prefixed = attempt > 0 && resetFirst;
        std::vector<std::uint8_t> message = out;
        if (prefixed)
            message.insert(message.begin(), Reset);
        if (release)
            message.insert(message.begin(), PulseEnd);
        const int skipped = (prefixed ? 1 : 0) + (release ? 1 : 0);
        const int count = expected + skipped;
        std::vector<std::uint8_t> answers(static_cast<std::size_t>(count));
        const int got = co_await send(message, answers.data(), count);
        if (got == count) {
            answers.erase(answers.begin(), answers.begin() + skipped);
            if (!check || check(answers)) {
                noteSilent(false);
                co_return answers;
            }
        }
        // Silent, or answers it cannot have meant: start the chip over.
        m_ready = false;
    }
    noteSilent(true);
    co_return std::nullopt;
}

Ds2480bLink::Line Ds2480bLink::noteReset(std::optional<std::uint8_t> answer)
{
    if (!answer) {
        m_lastLine = Line::Silent;
        return m_lastLine;
    }
    m_revision = (*answer >> 2) & 0x07;
    switch (*answer & 0x03) {
    case 0:
        m_lastLine = Line::Shorted;
        break;
    case 3:
        m_lastLine = Line::NoPresence;
        break;
    default: // a presence pulse, an alarming one too
        m_lastLine = Line::Presence;
        break;
    }
    if (m_lastLine != Line::Shorted) {
        m_shortLogged = false;
    } else if (!m_shortLogged) {
        m_shortLogged = true;
        log().AddLog(QStringLiteral("Короткое замыкание на шине %1").arg(m_busName));
    }
    return m_lastLine;
}

QCoro::Task<bool> Ds2480bLink::ResetT()
{
    co_await releasePower();
    std::vector<std::uint8_t> out(1, Reset);
    const auto answers = co_await exchange(std::move(out), 1, [](const auto &a) { return isResetAnswer(a[0]); }, false);
    co_return noteReset(answers ? std::optional<std::uint8_t>(answers->front()) : std::nullopt) == Line::Presence;
}

QCoro::Task<> Ds2480bLink::run(OneWireTransaction &transaction)
{
    using Kind = OneWireTransaction::Kind;
    transaction.m_bytesRead.clear();
    transaction.m_bitsRead.clear();
    if (transaction.m_steps.empty())
        co_return;
    co_await releasePower();
    std::vector<std::uint8_t> out;
    // The single-bit command of every answer that echoes one, by the answer's place.
    std::vector<int> bitCommands;
    bool dataMode = false;
    auto toData = [&] {
        if (!dataMode)
            out.push_back(DataMode);
        dataMode = true;
    };
    auto toCommand = [&] {
        if (dataMode)
            out.push_back(CommandMode);
        dataMode = false;
    };
    auto bit = [&](int value, bool pullUp) {
        toCommand();
        std::uint8_t command = SingleBit;
        if (value == 1)
            command |= SingleBitOne;
        if (pullUp)
            command |= SingleBitPullUp;
        out.push_back(command);
        bitCommands.push_back(command);
    };
    bool powered = false;
    for (const OneWireTransaction::Step &step : transaction.m_steps) {
        switch (step.kind) {
        case Kind::WriteByte:
        case Kind::ReadByte:
            toData();
            putData(out, step.kind == Kind::ReadByte ? 0xFF : static_cast<std::uint8_t>(step.value));
            bitCommands.push_back(-1);
            break;
        case Kind::WriteBit:
            if (step.value != 0 && step.value != 1)
                log().AddLog(QStringLiteral("Ошибка Sendbit: ") + QString::number(step.value));
            bit(step.value == 1 ? 1 : 0, false);
            break;
        case Kind::ReadBit:
            bit(1, false);
            break;
        case Kind::WriteBytePowered:
            // Bit by bit, the last with the pull-up: it starts as that slot ends, before the
            // device's conversion draws its current, and lasts until released.
            for (int i = 0; i < 8; ++i)
                bit((step.value >> i) & 1, i == 7);
            powered = true;
            break;
        }
    }
    toCommand();
    const int expected = static_cast<int>(bitCommands.size());
    const auto answers = co_await exchange(
        out, expected,
        [&bitCommands](const std::vector<std::uint8_t> &a) {
            for (std::size_t i = 0; i < a.size(); ++i) {
                if (bitCommands[i] >= 0 && (a[i] & 0xFC) != (bitCommands[i] & 0xFC))
                    return false;
            }
            return true;
        },
        true);
    m_powerHeld = powered && answers.has_value();

    std::size_t at = 0;
    for (const OneWireTransaction::Step &step : transaction.m_steps) {
        const std::uint8_t *answer = answers ? answers->data() + at : nullptr;
        switch (step.kind) {
        case Kind::ReadByte:
            transaction.m_bytesRead.push_back(answer ? *answer : 0xFF);
            break;
        case Kind::ReadBit:
            // Both low bits carry what the slot read; none reads 1, as on a silent bare line.
            transaction.m_bitsRead.push_back(!answer || (*answer & 0x03) == 0x03 ? 1 : 0);
            break;
        default:
            break;
        }
        at += step.kind == Kind::WriteBytePowered ? 8 : 1;
    }
}

QCoro::Task<> Ds2480bLink::releasePower()
{
    // Sent with the next exchange, which follows at once (a reset, the readings): one round
    // trip less a reading. The chip answers the pull-up's end, not the F1 itself.
    if (std::exchange(m_powerHeld, false))
        m_releaseDue = true;
    co_return;
}

QCoro::Task<std::optional<OneWireLink::SearchPass>> Ds2480bLink::searchPass(std::array<std::uint8_t, 8> route)
{
    co_await releasePower();
    // Each of the 16 bytes carries four route bits at its odd positions and comes back with
    // the bit taken (odd) and the discrepancy (even) of each.
    static constexpr std::uint8_t Start[] = { Reset, DataMode, OneWireCommands::SearchRom, CommandMode, SearchOn, DataMode };
    std::vector<std::uint8_t> out(std::begin(Start), std::end(Start));
    for (int k = 0; k < 16; ++k) {
        std::uint8_t byte = 0;
        for (int j = 0; j < 4; ++j) {
            const int n = 4 * k + j;
            if (route[static_cast<std::size_t>(n / 8)] & (1u << (n % 8)))
                byte |= static_cast<std::uint8_t>(1u << (2 * j + 1));
        }
        putData(out, byte);
    }
    out.push_back(CommandMode);
    out.push_back(SearchOff);
    const auto answers = co_await exchange(out, 18, [](const auto &a) { return isResetAnswer(a[0]); }, false);
    if (noteReset(answers ? std::optional<std::uint8_t>(answers->front()) : std::nullopt) != Line::Presence)
        co_return std::nullopt;
    SearchPass pass;
    for (int k = 0; k < 16; ++k) {
        const std::uint8_t byte = (*answers)[static_cast<std::size_t>(2 + k)];
        for (int j = 0; j < 4; ++j) {
            const int n = 4 * k + j;
            const auto mask = static_cast<std::uint8_t>(1u << (n % 8));
            if (byte & (1u << (2 * j + 1)))
                pass.rom[static_cast<std::size_t>(n / 8)] |= mask;
            if (byte & (1u << (2 * j)))
                pass.discrepancies[static_cast<std::size_t>(n / 8)] |= mask;
        }
    }
    co_return pass;
}
