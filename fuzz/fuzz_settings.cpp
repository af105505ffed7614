// The settings loader on whatever a settings file may hold: the input as the INI file read
// through the real store, and its lines as the stored texts of each key in memory. Whatever is
// loaded must save and load back unchanged.

#include "fuzzcheck.h"

#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
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

QString serverKey(qsizetype index)
{
    return QStringLiteral("NtpServer%1").arg(index, 4, 10, QLatin1Char('0'));
}

void checkLoaded(const StoredState& state)
{
    const Settings& s = state.settings;
    // Every number within what the Options dialog can show.
    OSTRELLE_FUZZ_CHECK(s.pollIntervalSeconds >= 60 && s.pollIntervalSeconds <= 3600);
    OSTRELLE_FUZZ_CHECK(s.referenceAgeLimitSeconds >= 120 && s.referenceAgeLimitSeconds <= 3600);
    OSTRELLE_FUZZ_CHECK(s.stratumLimit >= 0 && s.stratumLimit <= 15);
    for (const QString& name : state.servers)
        OSTRELLE_FUZZ_CHECK(!name.isEmpty());
}

void checkRoundTrip(SettingsBackend& backend, const StoredState& state)
{
    ScriptedMessageDialog messages;
    SettingsStore store(backend, messages);
    OSTRELLE_FUZZ_CHECK(store.saveSettings(state.settings, state.servers));
    const StoredState reloaded = store.loadSettings();
    OSTRELLE_FUZZ_CHECK(reloaded.settings == state.settings);
    OSTRELLE_FUZZ_CHECK(reloaded.servers == state.servers);
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
        QFile file(folder + QStringLiteral("/Ostrelle.ini"));
        OSTRELLE_FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    StoredState state;
    {
        QSettingsBackend backend(folder);
        ScriptedMessageDialog messages;
        state = SettingsStore(backend, messages).loadSettings();
        OSTRELLE_FUZZ_CHECK(messages.shown.isEmpty());
    }
    checkLoaded(state);

    if (state.servers.size() <= MaxRowsToRewriteFile) {
        QSettingsBackend rewritten(folder + QStringLiteral("/again"));
        checkRoundTrip(rewritten, state);
    }
    MemorySettingsBackend memory;
    checkRoundTrip(memory, state);
    QDir(folder).removeRecursively();
}

void throughMemory(const QByteArray& bytes)
{
    // Line i is the text of the i-th number key, then of NtpServer0001, NtpServer0002, ...
    const QList<QByteArray> lines = bytes.split('\n');
    MemorySettingsBackend backend;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString key = i < NumberKeys.size() ? NumberKeys[i] : serverKey(i - NumberKeys.size() + 1);
        backend.seed(QStringLiteral("Settings"), key, QString::fromUtf8(lines[i]));
    }

    ScriptedMessageDialog messages;
    const StoredState state = SettingsStore(backend, messages).loadSettings();
    OSTRELLE_FUZZ_CHECK(messages.shown.isEmpty());
    checkLoaded(state);

    MemorySettingsBackend again;
    checkRoundTrip(again, state);
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
