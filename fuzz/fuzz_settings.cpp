// The settings loader on whatever a settings file may hold: the input as the INI file read
// through the real store, and its lines as the stored texts of each key in memory. Whatever is
// loaded must save and load back unchanged.

#include "fuzzcheck.h"

#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "servers/servertable.h"
#include "servers/settingsstore.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

using namespace ostrelle;

namespace {

constexpr int MaxServerRows = 32767;
// Rewriting an INI file of thousands of servers on every input would slow the search to a crawl.
constexpr int MaxRowsToRewriteFile = 64;

const QStringList NumberKeys = {QStringLiteral("SysTimeAdj"), QStringLiteral("NtpPoll"),
                                QStringLiteral("RefTimeHighlight"), QStringLiteral("StratumHighlight"),
                                QStringLiteral("NtpServerCnt")};

QTemporaryDir& workDir()
{
    static QTemporaryDir dir;
    return dir;
}

QStringList serverNames(const ServerTable& table)
{
    QStringList names;
    for (int row = 1; row < table.Rows(); ++row)
        names.append(table.TextMatrix(row, ServerTable::ColServer));
    return names;
}

void checkLoaded(const ServerTable& table)
{
    OSTRELLE_FUZZ_CHECK(table.Rows() <= MaxServerRows + 1);
    OSTRELLE_FUZZ_CHECK(table.Rows() != 1); // rows come with their heading, never a heading alone
    for (int row = 1; row < table.Rows(); ++row)
        OSTRELLE_FUZZ_CHECK(!table.TextMatrix(row, ServerTable::ColServer).isEmpty());
}

void checkRoundTrip(SettingsBackend& backend, const Settings& settings, const ServerTable& table)
{
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    OSTRELLE_FUZZ_CHECK(store.SaveSettings(settings, table));
    Settings reloaded;
    ServerTable reloadedTable;
    store.LoadSettings(reloaded, reloadedTable);
    OSTRELLE_FUZZ_CHECK(reloaded == settings);
    OSTRELLE_FUZZ_CHECK(serverNames(reloadedTable) == serverNames(table));
    OSTRELLE_FUZZ_CHECK(messages.shown.isEmpty());
}

void throughIniFile(const QByteArray& bytes)
{
    // A folder per input: QSettings caches files by path and could miss a rewrite within its
    // timestamp resolution.
    static std::uint64_t inputs = 0;
    const QString folder = workDir().path() + QStringLiteral("/%1").arg(++inputs);
    OSTRELLE_FUZZ_CHECK(QDir().mkpath(folder));
    {
        QFile file(folder + QLatin1Char('/') + SettingsApplication + QStringLiteral(".ini"));
        OSTRELLE_FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    Settings settings;
    ServerTable table;
    {
        QSettingsBackend backend(folder);
        ScriptedMessageDialog messages;
        SettingsStore(backend, messages).LoadSettings(settings, table);
        OSTRELLE_FUZZ_CHECK(messages.shown.isEmpty());
    }
    checkLoaded(table);

    if (table.Rows() <= MaxRowsToRewriteFile) {
        QSettingsBackend rewritten(folder + QStringLiteral("/again"));
        checkRoundTrip(rewritten, settings, table);
    }
    MemorySettingsBackend memory;
    checkRoundTrip(memory, settings, table);
    QDir(folder).removeRecursively();
}

void throughMemory(const QByteArray& bytes)
{
    // Line i is the text of the i-th number key, then of NtpServer0001, NtpServer0002, ...
    const QList<QByteArray> lines = bytes.split('\n');
    MemorySettingsBackend backend;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString key =
            i < NumberKeys.size() ? NumberKeys[i] : ServerKey(static_cast<int>(i - NumberKeys.size() + 1));
        backend.seed(SettingsSection, key, QString::fromUtf8(lines[i]));
    }

    Settings settings;
    ServerTable table;
    ScriptedMessageDialog messages;
    SettingsStore(backend, messages).LoadSettings(settings, table);
    OSTRELLE_FUZZ_CHECK(messages.shown.isEmpty());
    checkLoaded(table);

    MemorySettingsBackend again;
    checkRoundTrip(again, settings, table);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    OSTRELLE_FUZZ_CHECK(workDir().isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    throughIniFile(bytes);
    throughMemory(bytes);
    return 0;
}
