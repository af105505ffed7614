#include "platform/hostresolver.h"

#include <QHostInfo>

namespace ostrelle {

namespace {

class QtHostResolver final : public HostResolver
{
public:
    void lookUp(const QString& name, QObject* context, std::function<void(const HostLookup&)> done) override
    {
        QHostInfo::lookupHost(name, context, [done = std::move(done)](const QHostInfo& info) {
            HostLookup lookup;
            lookup.addresses = info.addresses();
            if (info.error() != QHostInfo::NoError || lookup.addresses.isEmpty())
                lookup.error = info.errorString();
            done(lookup);
        });
    }
};

} // namespace

HostResolver& SystemHostResolver()
{
    static QtHostResolver resolver;
    return resolver;
}

} // namespace ostrelle
