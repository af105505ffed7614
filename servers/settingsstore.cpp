#include "servers/settingsstore.h"

#include "platform/messagedialog.h"
#include "platform/settingsbackend.h"
#include "servers/servertable.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace ostrelle {

namespace {

const QString KeySysTimeAdj = QStringLiteral("SysTimeAdj");
const QString KeyNtpPoll = QStringLiteral("NtpPoll");
const QString KeyRefTimeHighlight = QStringLiteral("RefTimeHighlight");
const QString KeyStratumHighlight = QStringLiteral("StratumHighlight");
const QString KeyNtpServerCnt = QStringLiteral("NtpServerCnt");

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Rounds halves to the even neighbour whatever the floating-point rounding mode, and holds the
// result within Int: a stored number too wide for its field stops at the field's limit.
template <typename Int> Int roundToField(double value)
{
    constexpr double lowest = std::numeric_limits<Int>::min();
    constexpr double highest = std::numeric_limits<Int>::max();
    if (std::isnan(value))
        return 0;
    if (value <= lowest)
        return std::numeric_limits<Int>::min();
    if (value >= highest)
        return std::numeric_limits<Int>::max();
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return static_cast<Int>(whole);
}

} // namespace

QString ServerKey(int index)
{
    return QStringLiteral("NtpServer%1").arg(index, 4, 10, QLatin1Char('0'));
}

QString NumberText(long long value)
{
    const QString digits = QString::number(value);
    return value < 0 ? digits : QLatin1Char(' ') + digits;
}

double ReadNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype size = text.size();
    while (i < size && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < size && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }

    std::string number;
    bool hasDigits = false;
    bool wholeIsZero = true;
    for (; i < size && isAsciiDigit(text[i]); ++i) {
        number.push_back(static_cast<char>(text[i].unicode()));
        hasDigits = true;
        wholeIsZero = wholeIsZero && text[i] == u'0';
    }
    if (i < size && text[i] == u'.') {
        number.push_back('.');
        for (++i; i < size && isAsciiDigit(text[i]); ++i) {
            number.push_back(static_cast<char>(text[i].unicode()));
            hasDigits = true;
        }
    }
    if (!hasDigits)
        return 0.0;

    double value = 0.0;
    const auto result =
        std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range)
        value = wholeIsZero ? 0.0 : std::numeric_limits<double>::infinity();
    else if (result.ec != std::errc())
        value = 0.0;
    return negative ? -value : value;
}

std::int16_t ReadInt16(QStringView text)
{
    return roundToField<std::int16_t>(ReadNumber(text));
}

std::int32_t ReadInt32(QStringView text)
{
    return roundToField<std::int32_t>(ReadNumber(text));
}

SettingsStore::SettingsStore(SettingsBackend& backend, MessageDialog& messages)
    : m_backend(backend), m_messages(messages)
{
}

void SettingsStore::LoadSettings(Settings& settings, ServerTable& table)
{
    const auto get = [this](const QString& key, const QString& defaultText) {
        return m_backend.get(SettingsApplication, SettingsSection, key, defaultText);
    };
    settings.SysTimeAdj = ReadInt16(get(KeySysTimeAdj, QStringLiteral("0")));
    settings.NtpPoll = ReadInt32(get(KeyNtpPoll, QStringLiteral("60")));
    settings.RefTimeHighlight = ReadInt32(get(KeyRefTimeHighlight, QStringLiteral("600")));
    settings.StratumHighlight = ReadInt16(get(KeyStratumHighlight, QStringLiteral("15")));

    const int count = ReadInt16(get(KeyNtpServerCnt, QStringLiteral("0")));
    for (int i = 1; i <= count; ++i) {
        const QString name = get(ServerKey(i), QString());
        if (!name.isEmpty())
            table.AddServerRow(name);
    }
}

bool SettingsStore::SaveSettings(const Settings& settings, const ServerTable& table)
{
    const auto save = [this](const QString& key, const QString& text) {
        m_backend.save(SettingsApplication, SettingsSection, key, text);
    };
    save(KeySysTimeAdj, NumberText(settings.SysTimeAdj));
    save(KeyNtpPoll, NumberText(settings.NtpPoll));
    save(KeyRefTimeHighlight, NumberText(settings.RefTimeHighlight));
    save(KeyStratumHighlight, NumberText(settings.StratumHighlight));

    // An empty table has no heading row either, so this writes -1 for it.
    const int rows = table.Rows();
    save(KeyNtpServerCnt, NumberText(rows - 1));
    for (int i = 1; i < rows; ++i)
        save(ServerKey(i), table.TextMatrix(i, ServerTable::ColServer));

    QString whyNot;
    if (m_backend.commit(&whyNot))
        return true;
    m_messages.show(QStringLiteral("The settings could not be saved.\n\n%1").arg(whyNot),
                    QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::Warning,
                    MessageDialog::Buttons::Ok, MessageDialog::Button::Ok);
    return false;
}

} // namespace ostrelle
