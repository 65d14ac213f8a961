#include "onewire/SensorDiagnosis.h"

#include "base/Clock.h"
#include "onewire/OneWireCommands.h"
#include "onewire/OneWireCrc.h"
#include "onewire/OneWireLink.h"
#include "onewire/OneWireTransaction.h"
#include "onewire/TemperatureReader.h"

#include <QElapsedTimer>
#include <QLocale>

#include <algorithm>

namespace {
using OneWireCommands::MatchRom;
using OneWireCommands::ConvertT;
using OneWireCommands::WriteScratchpad;
using OneWireCommands::ReadScratchpad;
using OneWireCommands::RecallEeprom;
using OneWireCommands::ReadPowerSupply;
constexpr std::uint8_t Config12Bit = 0x7F;
constexpr std::uint8_t Config9Bit = 0x1F;
constexpr int PollSlots = 8;
constexpr int RecallPolls = 10;
// A genuine DS18B20 converts at 12 bits in 580 to 630 ms; the poll's own step widens it.
constexpr int Genuine12BitLowMs = 580;
constexpr int Genuine12BitHighMs = 630;
constexpr int PollToleranceMs = 10;

using Result = DiagnosisSign::Result;

QString hex(std::uint8_t byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

QString hexBytes(const std::uint8_t *bytes, int count)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << hex(bytes[i]);
    return parts.join(QLatin1Char(' '));
}

// A genuine DS18B20's byte 6 after a 12-bit conversion.
std::uint8_t genuineByte6(std::uint8_t byte0)
{
    return static_cast<std::uint8_t>(0x10 - (byte0 & 0x0F));
}

int resolutionOf(std::uint8_t config)
{
    return 9 + ((config >> 5) & 3);
}

void addSign(SensorReport &report, const QString &name, Result result, const QString &detail)
{
    report.signs.push_back(DiagnosisSign{name, result, detail});
}

const QString RomSign = QStringLiteral("байты 5 и 6 ПЗУ");
const QString Bytes57Sign = QStringLiteral("байты 5 и 7");
const QString Byte6Sign = QStringLiteral("байт 6 после преобразования");
const QString WriteSign = QStringLiteral("запись в ОЗУ и возврат из ЭСППЗУ");
const QString TimeSign = QStringLiteral("время преобразования");
const QString PowerUpSign = QStringLiteral("содержимое до преобразования");
const QString ThTlSign = QStringLiteral("TH/TL");
} // namespace

QString SensorDiagnosis::verdictText(SensorReport::Verdict verdict)
{
    switch (verdict) {
    case SensorReport::Verdict::Genuine:
        return QStringLiteral("подлинный");
    case SensorReport::Verdict::LikelyClone:
        return QStringLiteral("вероятно, подделка");
    case SensorReport::Verdict::NoAnswer:
        return QStringLiteral("не отвечает");
    case SensorReport::Verdict::Undetermined:
        break;
    }
    return QStringLiteral("не определить");
}

QString SensorDiagnosis::verdictKey(SensorReport::Verdict verdict)
{
    switch (verdict) {
    case SensorReport::Verdict::Genuine:
        return QStringLiteral("genuine");
    case SensorReport::Verdict::LikelyClone:
        return QStringLiteral("counterfeit");
    case SensorReport::Verdict::NoAnswer:
    case SensorReport::Verdict::Undetermined:
        break;
    }
    return QStringLiteral("unknown");
}

QString SensorReport::verdictText() const
{
    return SensorDiagnosis::verdictText(verdict);
}

QStringList SensorReport::cloneSigns() const
{
    QStringList list;
    for (const DiagnosisSign &sign : signs) {
        if (sign.result == Result::Clone)
            list << sign.name + QStringLiteral(": ") + sign.detail;
    }
    return list;
}

QString SensorReport::familyName() const
{
    if (family == 0x28)
        return QStringLiteral("DS18B20");
    if (family == 0x10)
        return QStringLiteral("DS18S20");
    if (family == 0x22)
        return QStringLiteral("DS1822");
    if (family == 0x3B)
        return QStringLiteral("DS1825");
    if (family == 0x42)
        return QStringLiteral("DS28EA00");
    return QStringLiteral("семейство ") + hex(family);
}

QString SensorReport::line() const
{
    QStringList parts{serial, familyName()};
    parts << (parasite ? (*parasite ? QStringLiteral("питание паразитное") : QStringLiteral("питание своё"))
                       : QStringLiteral("питание ?"));
    parts << (resolutionBits > 0 ? QStringLiteral("%1 бит").arg(resolutionBits) : QStringLiteral("? бит"));
    parts << (conversionMs >= 0 ? QStringLiteral("%1 мс").arg(conversionMs) : QStringLiteral("? мс"));
    QString text = parts.join(QStringLiteral("  ")) + QStringLiteral("  ") + verdictText();
    const QStringList failing = cloneSigns();
    if (!failing.isEmpty())
        text += QStringLiteral(": ") + failing.join(QStringLiteral("; "));
    return text;
}

QStringList SensorReport::detailLines() const
{
    QStringList lines;
    lines << QStringLiteral("ПЗУ: ") + serial + (romCrcValid ? QStringLiteral(" (CRC верна)") : QStringLiteral(" (CRC неверна)"));
    lines << QStringLiteral("Семейство: ") + familyName();
    lines << QStringLiteral("Питание: ")
                 + (parasite ? (*parasite ? QStringLiteral("паразитное") : QStringLiteral("своё")) : QStringLiteral("неизвестно"));
    if (firstScratchpad) {
        lines << QStringLiteral("Память: ") + hexBytes(firstScratchpad->data(), 9);
        lines << QStringLiteral("Разрешение: %1 бит").arg(resolutionBits);
        lines << QStringLiteral("TH/TL: %1 / %2 °C").arg(TH).arg(TL);
    }
    if (temperature != TemperatureReader::NoReading)
        lines << QStringLiteral("Температура: %1 °C").arg(QLocale().toString(temperature, 'f', 4));
    if (conversionMs >= 0)
        lines << QStringLiteral("Преобразование: %1 мс при 12 битах").arg(conversionMs)
                     + (conversion9Ms >= 0 ? QStringLiteral(", %1 мс при 9").arg(conversion9Ms) : QString());
    for (const DiagnosisSign &sign : signs) {
        QString mark;
        switch (sign.result) {
        case Result::Genuine:
            mark = QStringLiteral("как у подлинного");
            break;
        case Result::Clone:
            mark = QStringLiteral("как у подделки");
            break;
        case Result::Hint:
            mark = QStringLiteral("подсказка");
            break;
        case Result::Unmeasured:
            mark = QStringLiteral("не измерено");
            break;
        }
        lines << QStringLiteral("Признак «%1»: %2 — %3").arg(sign.name, sign.detail, mark);
    }
    lines << QStringLiteral("Вывод: ") + verdictText();
    return lines;
}

SensorDiagnosis::SensorDiagnosis(OneWireLink &link)
    : m_link(link)
{
}

QCoro::Task<bool> SensorDiagnosis::select()
{
    co_return co_await m_link.ResetT();
}

QCoro::Task<std::optional<bool>> SensorDiagnosis::readPower()
{
    if (!co_await select())
        co_return std::nullopt;
    OneWireTransaction ask;
    ask.writeByte(MatchRom);
    for (const std::uint8_t byte : m_rom)
        ask.writeByte(byte);
    ask.writeByte(ReadPowerSupply);
    ask.readBit();
    co_await m_link.run(ask);
    co_return std::optional<bool>(ask.bitsRead().front() == 0);
}

QCoro::Task<std::optional<std::array<std::uint8_t, 9>>> SensorDiagnosis::readScratchpad()
{
    // A second try: one read spoilt by noise is no reason to give up on a sensor.
    for (int attempt = 0; attempt < 2 && !m_link.aborted(); ++attempt) {
        if (!co_await select())
            co_return std::nullopt;
        OneWireTransaction read;
        read.writeByte(MatchRom);
        for (const std::uint8_t byte : m_rom)
            read.writeByte(byte);
        read.writeByte(ReadScratchpad);
        for (int i = 0; i < 9; ++i)
            read.readByte();
        co_await m_link.run(read);
        std::array<std::uint8_t, 9> bytes {};
        std::copy(read.bytesRead().begin(), read.bytesRead().end(), bytes.begin());
        // All ones: nobody answered the Match ROM; all zeros: a line held low. Both carry
        // no reading (nine zeros even pass the CRC).
        const bool allOnes = std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
        const bool allZeros = std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
        if (allOnes || allZeros)
            co_return std::nullopt;
        if (OneWireCrc::of(bytes.data(), 9) == 0)
            co_return bytes;
    }
    co_return std::nullopt;
}

QCoro::Task<bool> SensorDiagnosis::writeScratchpad(std::uint8_t th, std::uint8_t tl, std::optional<std::uint8_t> config)
{
    if (!co_await select())
        co_return false;
    OneWireTransaction write;
    write.writeByte(MatchRom);
    for (const std::uint8_t byte : m_rom)
        write.writeByte(byte);
    write.writeByte(WriteScratchpad);
    write.writeByte(th);
    write.writeByte(tl);
    if (config)
        write.writeByte(*config);
    m_written = true;
    co_await m_link.run(write);
    co_return true;
}

QCoro::Task<bool> SensorDiagnosis::recall()
{
    if (!co_await select())
        co_return false;
    OneWireTransaction start;
    start.writeByte(MatchRom);
    for (const std::uint8_t byte : m_rom)
        start.writeByte(byte);
    start.writeByte(RecallEeprom);
    for (int i = 0; i < PollSlots; ++i)
        start.readBit();
    co_await m_link.run(start);
    // The recall takes microseconds; its read slots read 1 once it is done.
    bool done = start.bitsRead().back() == 1;
    OneWireTransaction poll;
    for (int i = 0; i < PollSlots; ++i)
        poll.readBit();
    for (int i = 0; !done && i < RecallPolls && !m_link.aborted(); ++i) {
        co_await m_link.Delay(1);
        co_await m_link.run(poll);
        done = poll.bitsRead().back() == 1;
    }
    if (done)
        m_written = false;
    co_return done;
}

QCoro::Task<std::optional<SensorDiagnosis::Timing>> SensorDiagnosis::convert(bool poll)
{
    if (!co_await select())
        co_return std::nullopt;
    const Clock &clock = m_link.clock();
    OneWireTransaction start;
    start.writeByte(MatchRom);
    for (const std::uint8_t byte : m_rom)
        start.writeByte(byte);
    // A device on parasite power converts under a line driver's strong pull-up, if there is one.
    if (!poll && m_link.powersParasite()) {
        start.writeBytePowered(ConvertT);
    } else {
        start.writeByte(ConvertT);
        for (int i = 0; i < PollSlots; ++i)
            start.readBit();
    }
    const quint32 started = clock.tickCount();
    const auto since = [&clock, started] { return static_cast<int>(static_cast<quint32>(clock.tickCount() - started)); };
    co_await m_link.run(start);
    Timing timing;
    if (!poll) {
        co_await m_link.Delay(ParasiteWaitMs);
        co_await m_link.releasePower();
        timing.done = true;
        timing.lowMs = timing.highMs = since();
        co_return timing;
    }
    // Each batch of slots goes out at a known time: the device ended between the last batch
    // that saw it busy and the first that saw it done. The echoes' latency adds nothing to
    // that, as the device sees the slots when they are sent.
    OneWireTransaction batch;
    for (int i = 0; i < PollSlots; ++i)
        batch.readBit();
    int sentAt = 0;
    const OneWireTransaction *last = &start;
    for (;;) {
        const std::vector<int> &bits = last->bitsRead();
        if (bits.back() == 1) {
            timing.done = true;
            timing.highMs = sentAt;
            // Busy in the first slot of the batch and done by its last: it ended within it.
            if (bits.front() == 0)
                timing.lowMs = sentAt;
            co_return timing;
        }
        timing.lowMs = sentAt;
        if (m_link.aborted() || since() > ConversionLimitMs)
            co_return timing;
        co_await m_link.Delay(1);
        sentAt = since();
        co_await m_link.run(batch);
        last = &batch;
    }
}

QCoro::Task<SensorReport> SensorDiagnosis::diagnose(QString serial)
{
    QElapsedTimer elapsed;
    elapsed.start();
    SensorReport report;
    report.serial = serial.toUpper();
    const auto rom = TemperatureReader::romBytes(serial);
    if (!rom) {
        report.verdict = SensorReport::Verdict::NoAnswer;
        co_return report;
    }
    m_rom = *rom;
    m_written = false;
    report.family = m_rom[0];
    report.romCrcValid = OneWireCrc::of(m_rom.data(), 8) == 0;

    report.parasite = co_await readPower();
    if (!report.parasite) {
        report.verdict = SensorReport::Verdict::NoAnswer;
        report.elapsedMs = elapsed.elapsed();
        co_return report;
    }
    // A diagnosis cut short (a killed program) leaves its test values in RAM: what is judged
    // is what the EEPROM holds, as after a power-up.
    co_await recall();
    report.firstScratchpad = co_await readScratchpad();
    if (!report.firstScratchpad) {
        report.verdict = SensorReport::Verdict::NoAnswer;
        report.elapsedMs = elapsed.elapsed();
        co_return report;
    }
    const auto &first = *report.firstScratchpad;
    report.TH = static_cast<std::int8_t>(first[2]);
    report.TL = static_cast<std::int8_t>(first[3]);
    report.resolutionBits = report.family == 0x28 ? resolutionOf(first[4]) : 9;

    if (report.family == 0x28)
        co_await diagnose18b20(report);
    else if (report.family == 0x10)
        co_await diagnose18s20(report);
    else
        addSign(report, QStringLiteral("семейство"), Result::Unmeasured,
                QStringLiteral("%1: не датчик DS18B20 или DS18S20").arg(hex(report.family)));

    // Whatever went wrong on the way, RAM goes back to what the EEPROM holds.
    if (m_written && !m_link.aborted() && !co_await recall())
        report.verdict = SensorReport::Verdict::NoAnswer;
    if (report.verdict != SensorReport::Verdict::NoAnswer)
        decide(report);
    report.elapsedMs = elapsed.elapsed();
    co_return report;
}

QCoro::Task<> SensorDiagnosis::diagnose18b20(SensorReport &report)
{
    const auto first = *report.firstScratchpad;
    const bool ownSupply = !*report.parasite;
    const auto noAnswer = [&report] { report.verdict = SensorReport::Verdict::NoAnswer; };

    // The ROM: the two bytes before the CRC are 00 on every genuine DS18B20.
    if (!report.romCrcValid)
        addSign(report, QStringLiteral("CRC ПЗУ"), Result::Unmeasured, QStringLiteral("неверна"));
    if (m_rom[5] == 0 && m_rom[6] == 0) {
        addSign(report, RomSign, Result::Genuine, QStringLiteral("00 00"));
    } else {
        QString detail = hexBytes(m_rom.data() + 5, 2) + QStringLiteral(" вместо 00 00");
        if (m_rom[1] == 0xFF && m_rom[2] == 0x64)
            detail += QStringLiteral(", начало 28 FF 64 — как у подделок");
        else if (m_rom[1] == 0xFF || m_rom[1] == 0xAA)
            detail += QStringLiteral(", начало 28 %1 — как у подделок").arg(hex(m_rom[1]));
        addSign(report, RomSign, Result::Clone, detail);
    }

    // What it holds before any conversion is seen only right after power-up: a hint.
    if (first[0] == 0x50 && first[1] == 0x05)
        addSign(report, PowerUpSign, Result::Hint, QStringLiteral("85 °C, как после включения у подлинного"));
    else if (first[0] == 0x90 && first[1] == 0x01)
        addSign(report, PowerUpSign, Result::Hint, QStringLiteral("25 °C, так включаются подделки (или измерено 25 °C)"));
    if (first[2] == 0x55 && (first[3] == 0x00 || first[3] == 0xAA))
        addSign(report, ThTlSign, Result::Hint,
                QStringLiteral("%1/%2, как у подделок с завода (их можно записать)").arg(hex(first[2]), hex(first[3])));

    // Writes of TH, TL and the configuration into RAM, read back.
    const auto th = static_cast<std::uint8_t>(first[2] ^ 0x21);
    const auto tl = static_cast<std::uint8_t>(first[3] ^ 0x12);
    QStringList writeFaults;
    if (!co_await writeScratchpad(th, tl, Config12Bit))
        co_return noAnswer();
    const auto at12 = co_await readScratchpad();
    if (!at12)
        co_return noAnswer();
    if ((*at12)[2] != th || (*at12)[3] != tl)
        writeFaults << QStringLiteral("TH/TL прочитаны %1/%2 вместо %3/%4")
                           .arg(hex((*at12)[2]), hex((*at12)[3]), hex(th), hex(tl));
    if ((*at12)[4] != Config12Bit)
        writeFaults << QStringLiteral("конфигурация %1 вместо 7F").arg(hex((*at12)[4]));

    // A 12-bit conversion: bytes 5, 6, 7 and the time.
    const auto timing12 = co_await convert(ownSupply);
    if (!timing12)
        co_return noAnswer();
    const auto converted = co_await readScratchpad();
    if (!converted)
        co_return noAnswer();
    const auto &pad = *converted;
    report.temperature = TemperatureReader::decode(pad, true);
    if (pad[5] == 0xFF && pad[7] == 0x10)
        addSign(report, Bytes57Sign, Result::Genuine, QStringLiteral("FF и 10"));
    else
        addSign(report, Bytes57Sign, Result::Clone, QStringLiteral("%1 и %2 вместо FF и 10").arg(hex(pad[5]), hex(pad[7])));
    const std::uint8_t expected6 = genuineByte6(pad[0]);
    if (pad[6] == expected6)
        addSign(report, Byte6Sign, Result::Genuine, hex(pad[6]));
    else
        addSign(report, Byte6Sign, Result::Clone,
                QStringLiteral("%1 вместо %2%3").arg(hex(pad[6]), hex(expected6),
                                                    pad[6] == 0x0C ? QStringLiteral(" (застыл на 0C)") : QString()));

    // The configuration for 9 bits: read back as written, never copied into byte 6.
    if (!co_await writeScratchpad(th, tl, Config9Bit))
        co_return noAnswer();
    const auto at9 = co_await readScratchpad();
    if (!at9)
        co_return noAnswer();
    const bool config9Taken = (*at9)[4] == Config9Bit;
    if (!config9Taken)
        writeFaults << QStringLiteral("конфигурация %1 вместо 1F%2")
                           .arg(hex((*at9)[4]), (*at9)[4] == Config12Bit ? QStringLiteral(" (застыла на 7F)") : QString());
    if ((*at9)[6] == Config9Bit)
        writeFaults << QStringLiteral("конфигурация скопирована в байт 6");

    std::optional<Timing> timing9;
    if (ownSupply && config9Taken && timing12 && timing12->done) {
        timing9 = co_await convert(true);
        if (!timing9)
            co_return noAnswer();
    }

    // Back to what the EEPROM holds, and checked.
    if (!co_await recall())
        co_return noAnswer();
    const auto restored = co_await readScratchpad();
    if (!restored)
        co_return noAnswer();
    if (!std::equal(first.begin() + 2, first.begin() + 5, restored->begin() + 2))
        writeFaults << QStringLiteral("Recall E² вернул %1 вместо %2")
                           .arg(hexBytes(restored->data() + 2, 3), hexBytes(first.data() + 2, 3));
    if (writeFaults.isEmpty())
        addSign(report, WriteSign, Result::Genuine, QStringLiteral("записано и восстановлено"));
    else
        addSign(report, WriteSign, Result::Clone, writeFaults.join(QStringLiteral(", ")));

    // The time, own supply only.
    if (!ownSupply) {
        addSign(report, TimeSign, Result::Unmeasured, QStringLiteral("не измерить при паразитном питании"));
        co_return;
    }
    if (!timing12->done) {
        addSign(report, TimeSign, Result::Clone,
                QStringLiteral("не закончено за %1 мс").arg(ConversionLimitMs));
        co_return;
    }
    report.conversionMs = timing12->estimateMs();
    if (timing9 && timing9->done)
        report.conversion9Ms = timing9->estimateMs();
    const bool in12 = timing12->highMs >= Genuine12BitLowMs - PollToleranceMs
                      && timing12->lowMs <= Genuine12BitHighMs + PollToleranceMs;
    // Each bit less halves it: 9 bits take an eighth; a quarter leaves room for the poll.
    const bool halves = !timing9 || !timing9->done || timing9->lowMs * 4 <= timing12->highMs;
    QString detail = QStringLiteral("%1 мс при 12 битах").arg(report.conversionMs);
    if (report.conversion9Ms >= 0)
        detail += QStringLiteral(", %1 мс при 9").arg(report.conversion9Ms);
    if (!in12)
        detail += QStringLiteral(" (у подлинного %1–%2 мс)").arg(Genuine12BitLowMs).arg(Genuine12BitHighMs);
    if (!halves)
        detail += QStringLiteral(", не сокращается с разрядностью");
    addSign(report, TimeSign, in12 && halves ? Result::Genuine : Result::Clone, detail);
}

QCoro::Task<> SensorDiagnosis::diagnose18s20(SensorReport &report)
{
    const auto first = *report.firstScratchpad;
    const bool ownSupply = !*report.parasite;
    const auto noAnswer = [&report] { report.verdict = SensorReport::Verdict::NoAnswer; };
    if (!report.romCrcValid)
        addSign(report, QStringLiteral("CRC ПЗУ"), Result::Unmeasured, QStringLiteral("неверна"));

    const auto th = static_cast<std::uint8_t>(first[2] ^ 0x21);
    const auto tl = static_cast<std::uint8_t>(first[3] ^ 0x12);
    QStringList writeFaults;
    if (!co_await writeScratchpad(th, tl, std::nullopt))
        co_return noAnswer();
    const auto written = co_await readScratchpad();
    if (!written)
        co_return noAnswer();
    if ((*written)[2] != th || (*written)[3] != tl)
        writeFaults << QStringLiteral("TH/TL прочитаны %1/%2 вместо %3/%4")
                           .arg(hex((*written)[2]), hex((*written)[3]), hex(th), hex(tl));

    const auto timing = co_await convert(ownSupply);
    if (!timing)
        co_return noAnswer();
    const auto converted = co_await readScratchpad();
    if (!converted)
        co_return noAnswer();
    const auto &pad = *converted;
    report.temperature = TemperatureReader::decode(pad, false);
    if (ownSupply && timing->done)
        report.conversionMs = timing->estimateMs();
    // Bytes 4 and 5 are reserved (FF), byte 7 COUNT_PER_C is 16 and COUNT_REMAIN at most 16.
    if (pad[4] == 0xFF && pad[5] == 0xFF && pad[7] == 0x10)
        addSign(report, QStringLiteral("байты 4, 5 и 7"), Result::Genuine, QStringLiteral("FF, FF и 10"));
    else
        addSign(report, QStringLiteral("байты 4, 5 и 7"), Result::Clone,
                QStringLiteral("%1 вместо FF, FF и 10").arg(hexBytes(pad.data() + 4, 2) + QStringLiteral(" и ") + hex(pad[7])));
    if (pad[6] <= 0x10)
        addSign(report, QStringLiteral("байт 6 (остаток счёта)"), Result::Genuine, hex(pad[6]));
    else
        addSign(report, QStringLiteral("байт 6 (остаток счёта)"), Result::Clone,
                QStringLiteral("%1 больше 10").arg(hex(pad[6])));

    if (!co_await recall())
        co_return noAnswer();
    const auto restored = co_await readScratchpad();
    if (!restored)
        co_return noAnswer();
    if ((*restored)[2] != first[2] || (*restored)[3] != first[3])
        writeFaults << QStringLiteral("Recall E² вернул %1 вместо %2")
                           .arg(hexBytes(restored->data() + 2, 2), hexBytes(first.data() + 2, 2));
    if (writeFaults.isEmpty())
        addSign(report, WriteSign, Result::Genuine, QStringLiteral("записано и восстановлено"));
    else
        addSign(report, WriteSign, Result::Clone, writeFaults.join(QStringLiteral(", ")));
    if (!ownSupply)
        addSign(report, TimeSign, Result::Hint, QStringLiteral("не измерить при паразитном питании"));
    else if (!timing->done)
        addSign(report, TimeSign, Result::Clone, QStringLiteral("не закончено за %1 мс").arg(ConversionLimitMs));
    else
        addSign(report, TimeSign, Result::Hint, QStringLiteral("%1 мс").arg(report.conversionMs));
}

void SensorDiagnosis::decide(SensorReport &report)
{
    bool clone = false;
    bool unmeasured = report.signs.empty();
    for (const DiagnosisSign &sign : report.signs) {
        clone = clone || sign.result == Result::Clone;
        unmeasured = unmeasured || sign.result == Result::Unmeasured;
    }
    if (clone)
        report.verdict = SensorReport::Verdict::LikelyClone;
    else if (unmeasured)
        report.verdict = SensorReport::Verdict::Undetermined;
    else
        report.verdict = SensorReport::Verdict::Genuine;
}

SensorReport::Verdict SensorDiagnosis::runningVerdict(const std::array<std::uint8_t, 8> &rom,
                                                      const std::array<std::uint8_t, 9> &pad)
{
    using Verdict = SensorReport::Verdict;
    if (rom[0] == 0x28) {
        if (pad[5] != 0xFF || pad[7] != 0x10 || rom[5] != 0 || rom[6] != 0)
            return Verdict::LikelyClone;
        // Byte 6 follows the reading only after a 12-bit conversion; the power-up value
        // (85 °C, 0C) is no reading of its own.
        if (pad[4] != Config12Bit || (pad[0] == 0x50 && pad[1] == 0x05))
            return Verdict::Undetermined;
        return pad[6] == genuineByte6(pad[0]) ? Verdict::Genuine : Verdict::LikelyClone;
    }
    if (rom[0] == 0x10) {
        if (pad[4] != 0xFF || pad[5] != 0xFF || pad[7] != 0x10 || pad[6] > 0x10)
            return Verdict::LikelyClone;
        return Verdict::Genuine;
    }
    return Verdict::Undetermined;
}
