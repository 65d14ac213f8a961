// The configuration file is edited by hand: any bytes may stand in "Kalvex.ini". They are
// read as the program reads the file at start-up, turned into its configuration, saved as
// at shutdown and read again. Nothing may crash or leak, and the saved file must read back
// to the configuration that was saved; saving that once more must give the same bytes.

#include "base/Formats.h"
#include "sensors/IniFile.h"
#include "sensors/KalvexConfig.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int MaxFuzzedItems = 20;

// Floats go out with 15 significant digits: a value read with more comes back rounded once.
bool closeEnough(double read, double reread)
{
    return read == reread || std::fabs(read - reread) <= std::fabs(read) * 1e-14;
}

// `reread` equals `read` but for the one rounding of each float on its first save.
bool sameConfig(const KalvexConfig &read, KalvexConfig reread)
{
    const auto settle = [](double a, double &b) {
        if (closeEnough(a, b))
            b = a;
    };
    settle(read.CharMinY, reread.CharMinY);
    settle(read.CharMaxY, reread.CharMaxY);
    if (read.Items.size() != reread.Items.size())
        return false;
    for (std::size_t i = 0; i < read.Items.size(); ++i) {
        settle(read.Items[i].Correct, reread.Items[i].Correct);
        for (std::size_t n = 0; n < read.Items[i].Sign.size(); ++n)
            settle(read.Items[i].Sign[n].Value, reread.Items[i].Sign[n].Value);
    }
    return read == reread;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_ini: %s\n", what);
    std::abort();
}

// Shows where two configurations part, as the lines of their saved files.
void showDifference(const KalvexConfig &a, const KalvexConfig &b)
{
    const QList<QByteArray> left = configIni(a).toBytes().split('\n');
    const QList<QByteArray> right = configIni(b).toBytes().split('\n');
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const QByteArray l = i < left.size() ? left[i] : QByteArray();
        const QByteArray r = i < right.size() ? right[i] : QByteArray();
        if (l != r) {
            std::fprintf(stderr, "read:    %s\nre-read: %s\n", l.toHex(' ').constData(), r.toHex(' ').constData());
            return;
        }
    }
}

// The default chart colour is random in the program; a fixed pick keeps every run of an
// input the same.
int firstColour(int)
{
    return 3;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The users' conventions: a decimal comma in every float of the file.
    Formats::setCurrent(Formats::russian());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const IniFile ini = IniFile::fromBytes(bytes);
    // More sensors run the same code more often: each costs milliseconds under the
    // sanitizers, and the fuzzer would spend its time there instead of on new shapes.
    if (ini.readInteger(QStringLiteral("Items"), QStringLiteral("ItemCount"), 0) > MaxFuzzedItems)
        return -1;
    const KalvexConfig read = readConfig(ini, firstColour);

    IniFile::Encoding written = IniFile::Encoding::Windows1251;
    const QByteArray saved = configIni(read).toBytes(&written);
    const IniFile savedIni = IniFile::fromBytes(saved);
    if (savedIni.sourceEncoding() != written)
        fail("the saved file reads back in another encoding than it was written in");
    const KalvexConfig reread = readConfig(savedIni, firstColour);
    if (!sameConfig(read, reread)) {
        showDifference(read, reread);
        fail("the saved file reads back to another configuration");
    }
    if (configIni(reread).toBytes() != saved)
        fail("saving the configuration read back gives other bytes");
    return 0;
}
