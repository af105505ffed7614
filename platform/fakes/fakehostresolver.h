#pragma once

#include "platform/hostresolver.h"

#include <QHash>

namespace ostrelle {

// A resolver that knows only the names a test gives it; every other name is not found.
class FakeHostResolver final : public HostResolver
{
public:
    void add(const QString& name, const QList<QHostAddress>& addresses)
    {
        m_names.insert(name.toLower(), addresses);
    }
    int lookups() const { return m_lookups; }

    void lookUp(const QString& name, QObject* context, std::function<void(const HostLookup&)> done) override;

private:
    QHash<QString, QList<QHostAddress>> m_names;
    int m_lookups = 0;
};

} // namespace ostrelle
