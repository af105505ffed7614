#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "servers/settingsstore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <windows.h>

using namespace ostrelle;

namespace {

const QStringList Keys = {"SysTimeAdj", "NtpPoll", "RefTimeHighlight", "StratumHighlight", "NtpServerCnt"};

// A registry key of the test's own under HKEY_CURRENT_USER\Software, in the place of Brevikon's;
// removed with everything under it at the end.
struct TestKey
{
    TestKey()
        : name(QStringLiteral("Software\\Brevikon-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128)))
    {
    }
    ~TestKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, reinterpret_cast<const wchar_t*>(name.utf16())); }

    QString path() const { return QStringLiteral("HKEY_CURRENT_USER\\") + name; }
    // Where the program's Settings section lives: <key>\Ostrelle\Settings.
    std::wstring section() const { return (name + QStringLiteral("\\Ostrelle\\Settings")).toStdWString(); }

    // A value's text as the registry holds it; "<type N>" when it is not a string, "<absent>".
    QString text(const QString& value) const
    {
        DWORD type = 0;
        DWORD size = 0;
        const std::wstring key = section();
        const std::wstring valueName = value.toStdWString();
        if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), valueName.c_str(), RRF_RT_ANY, &type, nullptr,
                           &size) != ERROR_SUCCESS)
            return QStringLiteral("<absent>");
        if (type != REG_SZ)
            return QStringLiteral("<type %1>").arg(type);
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), valueName.c_str(), RRF_RT_REG_SZ, nullptr,
                           data.data(), &size) != ERROR_SUCCESS)
            return QStringLiteral("<unreadable>");
        return QString::fromWCharArray(data.c_str());
    }
    // A value as a hand edit or another tool leaves it.
    void write(const QString& value, DWORD type, const void* data, DWORD size) const
    {
        const std::wstring valueName = value.toStdWString();
        QCOMPARE(::RegSetKeyValueW(HKEY_CURRENT_USER, section().c_str(), valueName.c_str(), type, data, size),
                 LSTATUS(ERROR_SUCCESS));
    }
    void writeText(const QString& value, const QString& text) const
    {
        const std::wstring data = text.toStdWString();
        write(value, REG_SZ, data.c_str(), DWORD((data.size() + 1) * sizeof(wchar_t)));
    }

    QString name;
};

// A start of the program on a store.
struct Program
{
    Program(const QString& location, QSettingsBackend::Format format) : backend(location, format)
    {
        const StoredState stored = store.loadSettings();
        settings = stored.settings;
        servers = stored.servers;
    }
    bool save() { return store.saveSettings(settings, servers); }
    QStringList state() const
    {
        return QStringList{QString::number(settings.adjustClock),
                           QString::number(settings.pollIntervalSeconds),
                           QString::number(settings.referenceAgeLimitSeconds),
                           QString::number(settings.stratumLimit)} +
               servers;
    }

    QSettingsBackend backend;
    ScriptedMessageDialog messages;
    SettingsStore store{backend, messages};
    Settings settings;
    QStringList servers;
};

QString serverKey(int index)
{
    return QStringLiteral("NtpServer%1").arg(index, 4, 10, QLatin1Char('0'));
}

} // namespace

// The Windows store: the registry key HKEY_CURRENT_USER\Software\Brevikon\Ostrelle, group Settings,
// holding exactly the keys and texts of the Linux INI file.
class RegistrySettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldHoldTheKeysAndTextsOfTheIniFile_data()
    {
        QTest::addColumn<QStringList>("servers");
        // clang-format off
        QTest::newRow("none")                   << QStringList{};
        QTest::newRow("plain names")            << QStringList{"pool.ntp.org", "nts://time.example:4460"};
        QTest::newRow("looks like a variant")   << QStringList{"@Variant(garbage)", "@@", "@"};
        QTest::newRow("INI syntax and a list")  << QStringList{"[Settings] a=b; #c", "a, b", "C:\\ntp\\"};
        QTest::newRow("blanks, tab, non-ASCII") << QStringList{"  spaced  ", "ntp\tOK", "zeit.zürich.ch 時計"};
        // clang-format on
    }
    void shouldHoldTheKeysAndTextsOfTheIniFile()
    {
        QFETCH(QStringList, servers);
        TestKey key;
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        for (const auto& [location, format] : {std::pair{key.path(), QSettingsBackend::Format::Registry},
                                               std::pair{folder.path(), QSettingsBackend::Format::Ini}}) {
            Program program(location, format);
            program.settings = Settings{true, 90, 1800, 4};
            program.servers = servers;
            QVERIFY(program.save());
        }

        QSettings ini(folder.filePath(QStringLiteral("Ostrelle.ini")), QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("Settings"));
        QStringList iniKeys = ini.childKeys();
        QStringList registryKeys =
            QSettings(key.path() + QStringLiteral("\\Ostrelle\\Settings"), QSettings::NativeFormat)
                .childKeys();
        iniKeys.sort();
        registryKeys.sort();
        QCOMPARE(registryKeys, iniKeys);
        for (const QString& name : Keys)
            QVERIFY2(iniKeys.contains(name), qPrintable(name));
        for (const QString& name : std::as_const(iniKeys)) {
            // QSettings doubles a leading @ in the registry as in the INI file, so that the text is
            // not taken for a stored variant.
            const QString text = ini.value(name).toString();
            QCOMPARE(key.text(name), text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text);
        }
        QCOMPARE(Program(key.path(), QSettingsBackend::Format::Registry).state(),
                 Program(folder.path(), QSettingsBackend::Format::Ini).state());
    }

    void shouldLoadHostileValuesAsFromTheIniFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("loaded"); // adjust, poll, reference age, stratum limit, servers
        // clang-format off
        QTest::newRow("poll INT_MIN")             << "NtpPoll"          << "-2147483648" << QStringList{"0", "60", "600", "15"};
        QTest::newRow("poll in letters")          << "NtpPoll"          << "often"       << QStringList{"0", "60", "600", "15"};
        QTest::newRow("reference age INT_MIN")    << "RefTimeHighlight" << "-2147483648" << QStringList{"0", "60", "120", "15"};
        QTest::newRow("stratum limit INT_MAX")    << "StratumHighlight" << "2147483647"  << QStringList{"0", "60", "600", "15"};
        QTest::newRow("adjustment in letters")    << "SysTimeAdj"       << "yes"         << QStringList{"0", "60", "600", "15"};
        QTest::newRow("count INT_MIN: no server") << "NtpServerCnt"     << "-2147483648" << QStringList{"0", "60", "600", "15"};
        QTest::newRow("count in letters")         << "NtpServerCnt"     << "two"         << QStringList{"0", "60", "600", "15"};
        QTest::newRow("count INT_MAX: the one stored") << "NtpServerCnt" << "2147483647"
                                                       << QStringList{"0", "60", "600", "15", "alpha"};
        // clang-format on
    }
    void shouldLoadHostileValuesAsFromTheIniFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QStringList, loaded);
        TestKey key;
        key.writeText(QStringLiteral("NtpServer0001"), QStringLiteral("alpha"));
        key.writeText(name, text);
        QTemporaryDir folder;
        {
            QSettings ini(folder.filePath(QStringLiteral("Ostrelle.ini")), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Settings/NtpServer0001"), QStringLiteral("alpha"));
            ini.setValue(QStringLiteral("Settings/") + name, text);
        }
        QCOMPARE(Program(key.path(), QSettingsBackend::Format::Registry).state(), loaded);
        QCOMPARE(Program(folder.path(), QSettingsBackend::Format::Ini).state(), loaded);
    }

    // What another tool may leave: numbers as REG_DWORD, a list as REG_MULTI_SZ.
    void shouldReadValuesOfOtherRegistryTypes()
    {
        TestKey key;
        const DWORD poll = 900;
        key.write(QStringLiteral("NtpPoll"), REG_DWORD, &poll, sizeof poll);
        const DWORD count = 1;
        key.write(QStringLiteral("NtpServerCnt"), REG_DWORD, &count, sizeof count);
        const wchar_t list[] = L"a\0b\0";
        key.write(QStringLiteral("NtpServer0001"), REG_MULTI_SZ, list, sizeof list);
        Program program(key.path(), QSettingsBackend::Format::Registry);
        QCOMPARE(program.state(), (QStringList{"0", "900", "600", "15", "a, b"}));
        // Saved back as the texts the INI file would hold.
        QVERIFY(program.save());
        QCOMPARE(key.text(QStringLiteral("NtpPoll")), QStringLiteral(" 900"));
        QCOMPARE(key.text(QStringLiteral("NtpServer0001")), QStringLiteral("a, b"));
    }

    // Beyond both 16-bit limits, as the INI file holds them.
    void shouldSaveAndReadOneHundredThousandServers()
    {
        const int count = 100000;
        TestKey key;
        {
            Program program(key.path(), QSettingsBackend::Format::Registry);
            for (int i = 1; i <= count; ++i)
                program.servers.append(QString::number(i));
            QVERIFY(program.save());
        }
        QCOMPARE(key.text(QStringLiteral("NtpServerCnt")), NumberText(count));
        QCOMPARE(key.text(serverKey(count)), QString::number(count));
        const Program restarted(key.path(), QSettingsBackend::Format::Registry);
        QCOMPARE(restarted.servers.size(), count);
        QCOMPARE(restarted.servers.first(), QStringLiteral("1"));
        QCOMPARE(restarted.servers.last(), QString::number(count));
    }
};

QTEST_GUILESS_MAIN(RegistrySettingsTest)
#include "test_registrysettings.moc"
