#include "servers/settingsstore.h"

#include "platform/messagedialog.h"
#include "platform/settingsbackend.h"
#include "timekeeping/ntptime.h"

#include <QMap>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace ostrelle {

namespace {

const QString Application = QStringLiteral("Ostrelle");
const QString Section = QStringLiteral("Settings");
const QString KeyAdjustClock = QStringLiteral("SysTimeAdj");
const QString KeyPollInterval = QStringLiteral("NtpPoll");
const QString KeyReferenceAgeLimit = QStringLiteral("RefTimeHighlight");
const QString KeyStratumLimit = QStringLiteral("StratumHighlight");
const QString KeyServerCount = QStringLiteral("NtpServerCnt");
// Keys of their own for the desktop's switches, so that earlier files read the same; named to
// sort after NtpPoll, so that an earlier file's first lines stay as they were.
const QString KeyNotify = QStringLiteral("ShowNotifications");
const QString KeyHideWhenMinimised = QStringLiteral("TrayOnMinimise");

// "NtpServer" and the index with at least four digits: NtpServer0001, NtpServer10000.
QString serverKey(qsizetype index)
{
    return QStringLiteral("NtpServer%1").arg(index, 4, 10, QLatin1Char('0'));
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

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

int ReadClamped(QStringView text, int minimum, int maximum)
{
    const double value = ReadNumber(text);
    if (std::isnan(value))
        return minimum;
    // Clamped as a double, before any conversion, so that no stored text can overflow an int.
    return static_cast<int>(std::clamp(RoundHalfToEven(value), double(minimum), double(maximum)));
}

SettingsStore::SettingsStore(SettingsBackend& backend, MessageDialog& messages)
    : m_backend(backend), m_messages(messages)
{
}

StoredState SettingsStore::loadSettings()
{
    const auto get = [this](const QString& key, const QString& defaultText) {
        return m_backend.get(Application, Section, key, defaultText);
    };
    StoredState state;
    Settings& s = state.settings;
    // Only a stored 1 turns a switch on, as the check box shows it.
    const auto isOn = [&get](const QString& key, bool byDefault) {
        return RoundHalfToEven(ReadNumber(get(key, byDefault ? QStringLiteral("1") : QStringLiteral("0")))) ==
               1.0;
    };
    s.adjustClock = isOn(KeyAdjustClock, false);
    s.notify = isOn(KeyNotify, true);
    s.hideWhenMinimised = isOn(KeyHideWhenMinimised, false);
    s.pollIntervalSeconds = ReadClamped(get(KeyPollInterval, QStringLiteral("60")),
                                        PollIntervalMinutes.minimum * 60, PollIntervalMinutes.maximum * 60);
    s.referenceAgeLimitSeconds =
        ReadClamped(get(KeyReferenceAgeLimit, QStringLiteral("600")), ReferenceAgeLimitMinutes.minimum * 60,
                    ReferenceAgeLimitMinutes.maximum * 60);
    s.stratumLimit = ReadClamped(get(KeyStratumLimit, QStringLiteral("15")), StratumLimitRange.minimum,
                                 StratumLimitRange.maximum);

    // Only keys that exist are read: a hostile count of billions must not mean billions of lookups.
    const int count =
        ReadClamped(get(KeyServerCount, QStringLiteral("0")), 0, std::numeric_limits<int>::max());
    QMap<int, QString> byIndex;
    for (const QString& key : m_backend.keys(Application, Section)) {
        if (!key.startsWith(u"NtpServer") || key == KeyServerCount)
            continue;
        bool isNumber = false;
        const int index = QStringView(key).mid(9).toInt(&isNumber);
        if (isNumber && index >= 1 && index <= count && key == serverKey(index))
            byIndex.insert(index, key);
    }
    for (const QString& key : std::as_const(byIndex)) {
        const QString name = get(key, QString());
        if (!name.isEmpty())
            state.servers.append(name);
    }
    return state;
}

bool SettingsStore::saveSettings(const Settings& settings, const QStringList& servers)
{
    const auto save = [this](const QString& key, const QString& text) {
        m_backend.save(Application, Section, key, text);
    };
    save(KeyAdjustClock, NumberText(settings.adjustClock ? 1 : 0));
    save(KeyPollInterval, NumberText(settings.pollIntervalSeconds));
    save(KeyReferenceAgeLimit, NumberText(settings.referenceAgeLimitSeconds));
    save(KeyStratumLimit, NumberText(settings.stratumLimit));
    save(KeyNotify, NumberText(settings.notify ? 1 : 0));
    save(KeyHideWhenMinimised, NumberText(settings.hideWhenMinimised ? 1 : 0));

    // An empty list has always been stored as -1, and earlier files must keep reading the same.
    save(KeyServerCount, NumberText(servers.isEmpty() ? -1 : servers.size()));
    for (qsizetype i = 0; i < servers.size(); ++i)
        save(serverKey(i + 1), servers[i]);

    QString whyNot;
    if (m_backend.commit(&whyNot))
        return true;
    m_messages.show(QStringLiteral("The settings could not be saved.\n\n%1").arg(whyNot),
                    QStringLiteral("Brevikon Ostrelle"), MessageDialog::Icon::Warning,
                    MessageDialog::Buttons::Ok, MessageDialog::Button::Ok);
    return false;
}

} // namespace ostrelle
