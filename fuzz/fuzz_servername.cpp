// The text typed into the add-server dialog, taken as the dialog takes it and added as the main
// window adds it: the row it makes, the text each of its cells shows, the request it is polled
// with, and the name in the INI file and back. The first octet chooses how the rest is read:
// UTF-8 as a keyboard gives it, or raw UTF-16 (lone surrogates included) as a paste may.

#include "fuzzcheck.h"

#include "app/monitor.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "platform/qsettingsbackend.h"
#include "servers/serverformat.h"
#include "servers/servername.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

using namespace ostrelle;

namespace {

// In memory where the system offers it: writing the file ends with an fsync, which on a disk
// would cost more than all the rest of an input.
QTemporaryDir& workDir()
{
    static const QString base =
        QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/ostrelle-fuzz-XXXXXX"));
    return dir;
}

QString typedText(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    const QByteArray rest = bytes.mid(1);
    if (!(bytes[0] & 1))
        return QString::fromUtf8(rest);
    return QString(reinterpret_cast<const QChar*>(rest.constData()), rest.size() / 2);
}

// Every cell of a row, and the name cell within what a host name can be.
void checkCells(const ServerListModel& servers, int row)
{
    const QString& name = servers.record(row).name;
    for (int column = 0; column < int(ServerColumn::Count); ++column)
        OSTRELLE_FUZZ_CHECK(servers.data(servers.index(row, column)).canConvert<QString>());
    const QString shown = servers.data(servers.index(row, int(ServerColumn::Name))).toString();
    OSTRELLE_FUZZ_CHECK(shown.size() <= MaxServerNameLength);
    if (name.size() <= MaxServerNameLength) {
        OSTRELLE_FUZZ_CHECK(shown == name);
        return;
    }
    OSTRELLE_FUZZ_CHECK(shown.endsWith(QStringLiteral("...")));
    OSTRELLE_FUZZ_CHECK(name.startsWith(shown.chopped(3)));
    // Cut between characters: a well-formed name never shows half a character.
    if (name.isValidUtf16())
        OSTRELLE_FUZZ_CHECK(shown.isValidUtf16());
}

// The name written to an INI file of its own and read back by a fresh store, so that the file
// is really parsed rather than served from QSettings' cache.
void checkIniFile(const QString& name)
{
    static std::uint64_t inputs = 0;
    const QString folder = workDir().path() + QStringLiteral("/%1").arg(++inputs);
    {
        QSettingsBackend backend(folder);
        ScriptedMessageDialog messages;
        OSTRELLE_FUZZ_CHECK(SettingsStore(backend, messages).saveSettings(Settings(), {name}));
    }
    {
        QSettingsBackend backend(folder);
        ScriptedMessageDialog messages;
        OSTRELLE_FUZZ_CHECK(SettingsStore(backend, messages).loadSettings().servers == QStringList{name});
    }
    QDir(folder).removeRecursively();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    OSTRELLE_FUZZ_CHECK(workDir().isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString typed =
        typedText(QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const QString name = TypedServerName(typed);
    const ServerNameCheck check = CheckServerName(name);
    if (check == ServerNameCheck::Usable)
        OSTRELLE_FUZZ_CHECK(!name.isEmpty() && name.size() <= MaxServerNameLength && name == name.trimmed());
    // Taking the name twice changes nothing more.
    OSTRELLE_FUZZ_CHECK(TypedServerName(name) == name && CheckServerName(name) == check);

    MemorySettingsBackend backend;
    FakeClock clock;
    FakeUdpChannel channel;
    ScriptedMessageDialog messages;
    Monitor monitor(clock, backend, channel, messages);
    monitor.start();
    OSTRELLE_FUZZ_CHECK(channel.sent.isEmpty());

    const int row = monitor.addServer(name);
    ServerListModel& servers = monitor.servers();
    if (check != ServerNameCheck::Usable) {
        OSTRELLE_FUZZ_CHECK(row == -1 && servers.rowCount() == 0 && backend.saveCount == 0);
    } else {
        OSTRELLE_FUZZ_CHECK(row == 0 && servers.rowCount() == 1 && servers.record(0).name == name);
        OSTRELLE_FUZZ_CHECK(backend.stored(QStringLiteral("Settings"), QStringLiteral("NtpServer0001")) ==
                            name);
        checkCells(servers, 0);

        // The next tick asks the server at the host and port that name says.
        monitor.cycle().tick();
        const std::optional<ServerAddress> address = ParseServerAddress(name);
        OSTRELLE_FUZZ_CHECK(address.has_value());
        if (!address->isNts())
            OSTRELLE_FUZZ_CHECK(channel.sent.size() == 1 && channel.sent.first().host == address->host &&
                                channel.sent.first().port == address->port);
        checkCells(servers, 0);
        checkIniFile(name);
    }

    // The text as a stored list may hold it, not taken through the dialog: a row all the same,
    // never polled when it is unusable.
    if (!typed.isEmpty()) {
        servers.addServers({typed});
        checkCells(servers, servers.rowCount() - 1);
    }
    QCoreApplication::sendPostedEvents();
    OSTRELLE_FUZZ_CHECK(messages.shown.isEmpty());
    return 0;
}
