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

// What the field holds for a read number: saturated at its limits, halves to even in between.
template <typename Int> Int expectedField(double number)
{
    if (std::isnan(number))
        return 0;
    if (number <= std::numeric_limits<Int>::min())
        return std::numeric_limits<Int>::min();
    if (number >= std::numeric_limits<Int>::max())
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(std::nearbyint(number));
}

void checkText(QStringView text)
{
    const double number = ReadNumber(text);
    OSTRELLE_FUZZ_CHECK(!std::isnan(number));

    const std::int16_t small = ReadInt16(text);
    const std::int32_t wide = ReadInt32(text);
    OSTRELLE_FUZZ_CHECK(small == expectedField<std::int16_t>(number));
    OSTRELLE_FUZZ_CHECK(wide == expectedField<std::int32_t>(number));

    // Whatever was read, what the store writes for it reads back the same.
    OSTRELLE_FUZZ_CHECK(ReadInt16(NumberText(small)) == small);
    OSTRELLE_FUZZ_CHECK(ReadInt32(NumberText(wide)) == wide);
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
