// The reader of stored numbers, on any text a hand-edited settings file may hold: the input as
// UTF-8 and as UTF-16 (any code units, lone surrogates included).

#include "fuzzcheck.h"

#include "servers/settingsstore.h"

#include <QString>
#include <QStringView>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

using namespace ostrelle;

namespace {

// What a setting holds for a read number: held within its range, halves to even in between.
int expectedField(double number, int minimum, int maximum)
{
    if (number <= minimum)
        return minimum;
    if (number >= maximum)
        return maximum;
    return static_cast<int>(std::nearbyint(number));
}

void checkText(QStringView text)
{
    const double number = ReadNumber(text);
    OSTRELLE_FUZZ_CHECK(!std::isnan(number));

    constexpr int lowest = std::numeric_limits<int>::min();
    constexpr int highest = std::numeric_limits<int>::max();
    const int small = ReadClamped(text, 60, 3600);
    const int wide = ReadClamped(text, lowest, highest);
    OSTRELLE_FUZZ_CHECK(small == expectedField(number, 60, 3600));
    OSTRELLE_FUZZ_CHECK(wide == expectedField(number, lowest, highest));

    // Whatever was read, what the store writes for it reads back the same.
    OSTRELLE_FUZZ_CHECK(ReadClamped(NumberText(small), 60, 3600) == small);
    OSTRELLE_FUZZ_CHECK(ReadClamped(NumberText(wide), lowest, highest) == wide);
    OSTRELLE_FUZZ_CHECK(ReadNumber(NumberText(wide)) == wide);

    // Text after the number never changes it.
    const QString followed = text.toString() + QStringLiteral("x1");
    OSTRELLE_FUZZ_CHECK(ReadNumber(followed) == number);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkText(QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));

    std::vector<char16_t> units(size / 2);
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    checkText(QStringView(units.data(), static_cast<qsizetype>(units.size())));
    return 0;
}
