#include "platform/fakes/fakehostresolver.h"

#include <QTimer>

namespace ostrelle {

void FakeHostResolver::lookUp(const QString& name, QObject* context,
                              std::function<void(const HostLookup&)> done)
{
    ++m_lookups;
    HostLookup lookup;
    lookup.addresses = m_names.value(name.toLower());
    if (lookup.addresses.isEmpty())
        lookup.error = QStringLiteral("Host %1 not found").arg(name);
    QTimer::singleShot(0, context, [done = std::move(done), lookup] { done(lookup); });
}

} // namespace ostrelle
